#!/bin/bash
# What users install, checked as they get it. One case per call:
#   man-page COURIER_PACK PAGE       every verb and option of --help is in PAGE
#   docs SOURCE COURIER_PACK         the help and the documents agree: one
#       --greedy figure; every pack example names an execution level
#   installed-tree BUILD WORK LAUNCHER
#       cmake --install into WORK, moved: files in place, packs with no
#       --stub, bash completion reads --help (leaves WORK/moved for consumer)
#   consumer SOURCE WORK LAUNCHER    examples/cmake-consumer against WORK/moved:
#       builds, verifies, holds the resources its keywords ask for, repacks
#       only when an input changed
#   consumer-calls WORK LAUNCHER     brisk_courier_add_carrier calls that
#       configure, and mistakes refused at configure time, naming them
#   depfile GENERATOR WORK LAUNCHER  a folder input repacks under GENERATOR
#       when a file in it is changed, added or removed; a file packed under
#       another name (skipped while BRISK_COURIER_HAS_DEPFILE is OFF)
#   debian-package BUILD WORK LAUNCHER
#       cpack -G DEB under umask 077: contents, folders readable by all,
#       computed dependencies and suggestions, packs from dpkg -x
#   linux-tarball ARCHIVE_SCRIPT LINUX_TREE NAME WORK LAUNCHER
#       the static tree's tarball: one folder, courier-pack statically
#       linked, packs and verifies in an empty root with an empty environment
# Cases needing the Windows tree's launcher are skipped (77) without it.
set -euo pipefail
fail() { echo "FAIL: $*" >&2; exit 1; }
need_launcher() {
    [ -f "$1" ] || { echo "skipped: no launcher at $1 (build the windows preset first)"; exit 77; }
}

installed=(bin/courier-pack share/brisk-courier/launcher.exe share/man/man1/courier-pack.1.gz
           share/bash-completion/completions/courier-pack share/doc/brisk-courier/README.md
           share/doc/brisk-courier/docs/format.md share/doc/brisk-courier/docs/shipping.md
           share/doc/brisk-courier/docs/json.md share/doc/brisk-courier/docs/progress-window.png
           share/doc/brisk-courier/CHANGELOG.md share/doc/brisk-courier/copyright
           share/doc/brisk-courier/copyright.CLI11 share/doc/brisk-courier/copyright.nlohmann-json
           lib/cmake/BriskCourier/BriskCourierConfig.cmake lib/cmake/BriskCourier/BriskCourierDepfile.cmake
           lib/cmake/BriskCourier/BriskCourierConfigVersion.cmake)

# Packs a folder with PROGRAM and no --stub; the carrier must verify and start
# with the launcher installed beside it, not one from a build tree.
pack_from_tree() {
    local program=$1 work=$2
    mkdir -p "$work/in"
    echo "read me" >"$work/in/readme.txt"
    echo "setup" >"$work/in/setup.exe"
    "$program" pack -o "$work/out.exe" --launch setup.exe "$work/in" >/dev/null
    local report
    report=$("$program" verify "$work/out.exe") || fail "verify failed"
    [[ $report == *"launcher: Brisk Courier "* ]] || fail "verify does not name the launcher: $report"
    local launcher
    launcher="$(dirname "$program")/../share/brisk-courier/launcher.exe"
    cmp -s -n "$(stat -c %s "$launcher")" "$launcher" "$work/out.exe" ||
        fail "the carrier does not start with $launcher"
}

man_page() {
    local program=$1 text verb names option
    text=$(sed 's/\\-/-/g; s/\\f[BIRP]//g' "$2")
    for verb in "" $("$program" --help | sed -n '/^Subcommands:/,/^$/s/^  \([^ ]*\).*/\1/p'); do
        [ -z "$verb" ] || grep -qx ".SS $verb" <<<"$text" || fail "no section for $verb"
        for names in $("$program" $verb --help | grep -oE '^  -[^ ]+'); do
            for option in ${names//,/ }; do
                grep -qE -- "(^|[^-[:alnum:]])$option([^-[:alnum:]]|$)" <<<"$text" ||
                    fail "courier-pack $verb $option is not in the man page"
            done
        done
    done
}

# The commands of a text, a line each: continued lines ("\\" at the end)
# joined.
commands_in() { sed -e ':a' -e '/\\$/{N;s/\\\n//;ba' -e '}' "$@"; }

docs() {
    local source=$1 program=$2 figure file line
    figure=$("$program" pack --help | tr -s ' \n' ' ' | grep -oE 'about [0-9.]+ times as fast') ||
        fail "pack --help gives no --greedy figure"
    for file in README.md CHANGELOG.md; do
        tr -s ' \n' ' ' <"$source/$file" | grep -qF -- "$figure" || fail "$file does not say '$figure'"
        [ "$(tr -s ' \n' ' ' <"$source/$file" | grep -oE 'about [0-9.]+ times as fast' | sort -u)" = "$figure" ] ||
            fail "$file gives another --greedy figure than pack --help's '$figure'"
    done
    [[ $("$program" pack --help) == *"-- ends the options"* ]] || fail "pack --help does not mention --"
    # Every example that packs names an execution level, so none copied
    # makes a carrier Windows takes for an installer.
    for file in README.md docs/*.md packaging/courier-pack.h2m scripts/demo.sh; do
        while IFS= read -r line; do
            [[ $line == *"--execution-level"* || $line == *'\-\-execution\-level'* ]] ||
                fail "$file: an example packs with no execution level: $line"
        done < <(sed 's/\\-/-/g; s/\\e$/\\/' "$source/$file" | commands_in |
                 grep -E 'courier-pack(\.exe)? pack -o [^O]')
    done
    # Each release recorded names a commit of this history that made its
    # version, and the sums of its four files, as the README checks them.
    local record version commit names
    for record in "$source"/releases/*/; do
        [ -d "$record" ] || continue
        version=$(basename "$record")
        commit=$(cat "$record/commit")
        [[ $commit =~ ^[0-9a-f]{40}$ ]] || fail "releases/$version/commit holds no commit: $commit"
        if [ "$(git -C "$source" rev-parse --is-shallow-repository 2>/dev/null)" = false ]; then
            git -C "$source" cat-file -e "$commit^{commit}" 2>/dev/null ||
                fail "releases/$version/commit: $commit is not in this history"
            git -C "$source" show "$commit:CMakeLists.txt" | grep -q "^project(BriskCourier VERSION $version " ||
                fail "releases/$version/commit: $commit does not build version $version"
        fi
        grep -qvE '^[0-9a-f]{64}  [^ ]+$' "$record/SHA256SUMS" && fail "releases/$version/SHA256SUMS: not sha256sum's lines"
        names=$(awk '{ print $2 }' "$record/SHA256SUMS" | LC_ALL=C sort | tr '\n' ' ')
        [ "$names" = "brisk-courier-$version-linux-x86_64.tar.gz brisk-courier-$version-win32.zip brisk-courier_${version}_amd64.deb launcher.exe " ] ||
            fail "releases/$version/SHA256SUMS names $names"
    done
}

installed_tree() {
    local build=$1 work=$2 file
    need_launcher "$3"
    rm -rf "$work" && mkdir -p "$work"
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    mv "$work/prefix" "$work/moved"
    for file in "${installed[@]}"; do [ -f "$work/moved/$file" ] || fail "not installed: $file"; done
    pack_from_tree "$work/moved/bin/courier-pack" "$work"

    mkdir -p "$work/complete/folder" && touch "$work/complete/file" "$work/complete/app.ico"
    local words expected argv
    # A line ending in a space completes an empty word.
    while IFS='|' read -r words expected; do
        read -ra argv <<<"$words"
        [[ $words != *" " ]] || argv+=("")
        got=$(PATH="$work/moved/bin:$PATH" bash -c 'source "$1"; shift
            COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _courier_pack; echo "${COMPREPLY[*]}"' \
            _ "$work/moved/share/bash-completion/completions/courier-pack" "${argv[@]}")
        [ "$got" = "$expected" ] || fail "completing '$words': '$got', not '$expected'"
    done <<EOT
courier-pack ve|verify
courier-pack verify --te|--temp-length
courier-pack list --js|--json
courier-pack extract -C $work/complete/|$work/complete/folder
courier-pack pack --execution-level |asInvoker highestAvailable requireAdministrator
courier-pack pack --execution-level h|highestAvailable
courier-pack pack --icon $work/complete/|$work/complete/app.ico $work/complete/folder
courier-pack pack --icon $work/complete/fi|$work/complete/file
courier-pack pack --file-version |
courier-pack pack --files-f|--files-from
courier-pack pack --depfile $work/complete/fi|$work/complete/file
courier-pack -|-V --help --version
EOT
}

consumer() {
    local source=$1 work=$2
    need_launcher "$3"
    [ -d "$work/moved" ] || fail "no installed tree in $work/moved (installed-tree runs first)"
    local examples=$work/examples build=$work/consumer
    rm -rf "$examples" "$build" && cp -r "$source/examples" "$examples"
    cmake -S "$examples/cmake-consumer" -B "$build" -DCMAKE_PREFIX_PATH="$work/moved" \
        -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-i686.cmake" >/dev/null
    cmake --build "$build" >/dev/null
    local carrier=$build/demo-setup.exe tool=$work/moved/bin/courier-pack
    local report
    report=$("$tool" verify "$carrier") || fail "carrier does not verify: $report"
    for expected in "launches 'Setup.exe'" "launcher: Brisk Courier " "icon: 16x16 32-bit, 32x32 32-bit" \
        "version: file 0.1.0.0, product 0.1.0.0" "version string: ProductName = Brisk Courier demo" \
        "execution level: asInvoker"; do
        [[ $report == *"$expected"* ]] || fail "the carrier's verify does not say '$expected': $report"
    done
    cp "$carrier" "$work/before.exe"

    [[ $(cmake --build "$build") == *Packing* ]] && fail "repacked with nothing changed"
    echo "changed=1" >>"$examples/demo/app.ini"
    [[ $(cmake --build "$build") == *Packing* ]] || fail "not repacked after an input changed"
    cmp -s "$carrier" "$work/before.exe" && fail "the carrier did not change"
    "$tool" verify "$carrier" >/dev/null || fail "repacked carrier does not verify"
    "$tool" extract "$carrier" -C "$work/unpacked" >/dev/null
    cmp "$work/unpacked/app.ini" "$examples/demo/app.ini" || fail "the carrier has the old app.ini"
}

# Configures a project holding one brisk_courier_add_carrier call against
# the installed tree in WORK/moved. The calls in the table must configure
# (a dash) or fail with a message holding the text given; where a third
# text is given, the project is built too, and what the build and verify
# of the carrier say must hold it.
consumer_calls() {
    local work=$1
    need_launcher "$2"
    [ -d "$work/moved" ] || fail "no installed tree in $work/moved (installed-tree runs first)"
    local project=$work/calls arguments expected output status
    rm -rf "$project" && mkdir -p "$project/in"
    touch "$project/in/setup.exe" "$project/app.ico" "$project/app.manifest" "$project/list.txt"
    while IFS='|' read -r arguments expected built; do
        cat >"$project/CMakeLists.txt" <<EOF2
cmake_minimum_required(VERSION 3.25)
project(Calls NONE)
find_package(BriskCourier CONFIG REQUIRED)
brisk_courier_add_carrier($arguments)
EOF2
        rm -rf "$project/build"
        status=0
        output=$(cmake -S "$project" -B "$project/build" -DCMAKE_PREFIX_PATH="$work/moved" 2>&1) || status=$?
        output=$(tr -s ' \n' ' ' <<<"$output")
        if [ "$expected" = - ]; then
            [ $status = 0 ] || fail "brisk_courier_add_carrier($arguments) did not configure: $output"
            [ -n "$built" ] || continue
            output=$(cmake --build "$project/build" 2>&1; "$work/moved/bin/courier-pack" verify "$project/build/a.exe" 2>&1) || true
            [[ $output == *"$built"* ]] || fail "brisk_courier_add_carrier($arguments): built, not '$built': $output"
        else
            [ $status != 0 ] || fail "brisk_courier_add_carrier($arguments) configured"
            [[ $output == *"$expected"* ]] ||
                fail "brisk_courier_add_carrier($arguments) did not say '$expected': $output"
        fi
    done <<'EOT'
app OUTPUT a.exe LAUNCH setup.exe FILES in|-
app OUTPUT a.exe LAUNCH setup.exe FILES in $<1:in/setup.exe> ${CMAKE_BINARY_DIR}/made-by-the-build.txt GREEDY ICON app.ico FILE_VERSION 1.2.3.4 PRODUCT_VERSION 1.2.0.0 VERSION_STRINGS "CompanyName=Example Ltd" "ProductName=Example" EXECUTION_LEVEL asInvoker|-
app OUTPUT a.exe LAUNCH setup.exe FILES in MANIFEST app.manifest|-
app OUTPUT a.exe LAUNCH setup.exe FILES in MIN_WINDOWS 10.1607 ACCEPT_DLLS version.dll dwmapi.dll STRICT|-
app OUTPUT a.exe LAUNCH setup.exe FILES in/$<IF:$<CONFIG:Debug>,setup.exe,setup.exe>|-
app OUTPUT a.exe LAUNCH install.exe FILES in/setup.exe=install.exe $<1:in/setup.exe>=other.exe|-
app OUTPUT a.exe LAUNCH setup.exe FILES_FROM list.txt|-
app OUTPUT a.exe LAUNCH SETUP.EXE FILES in|-
app OUTPUT a.exe LAUNCH setup.ex FILES in|LAUNCH setup.ex: no entry of FILES has that name (they are setup.exe)
app OUTPUT a.exe LAUNCH setup.exe FILES in/setup.exe=install.exe|LAUNCH setup.exe: no entry of FILES has that name (they are install.exe)
app OUTPUT a.exe LAUNCH other.exe FILES $<1:in/setup.exe>|-
app OUTPUT a.exe LAUNCH setup.exe FILES in VERSION_STRINGS "Comments=Release 2;notes.txt"|-|version string: Comments = Release 2;notes.txt
app OUTPUT a.exe LAUNCH "set;up.exe" FILES "in/setup.exe=set;up.exe"|-|launches 'set;up.exe'
app OUTPUT a.exe LAUNCH setup.exe FILES in FILE_VERSION "1.2.3.4;in/setup.exe"|-|'1.2.3.4;in/setup.exe' is not A.B.C.D
app OUTPUT a.exe LAUNCH setup.exe FILES "in;in/setup.exe"|FILES in;in/setup.exe: a path holding ';' cannot be a build's dependency
app OUTPUT a.exe LAUNCH setup.exe FILES in ICON "app.ico;in/setup.exe"|ICON app.ico;in/setup.exe: a path holding ';'
app OUTPUT "a.exe;b.exe" LAUNCH setup.exe FILES in|OUTPUT a.exe;b.exe: a path holding ';' cannot be a build's output
app OUTPUT a.exe LAUNCH install.exe FILES missing.exe=install.exe|FILES missing.exe: no such file or folder
app OUTPUT a.exe LAUNCH setup.exe FILES_FROM missing.txt|FILES_FROM missing.txt: no such file or folder
app OUTPUT a.exe LAUNCH setup.exe|FILES is required
OUTPUT MyApp-setup.exe LAUNCH setup.exe FILES in|the target's name comes first, before OUTPUT
app OUTPUT a.exe LAUNCH setup.exe FILES in ICONS app.ico|unknown keyword ICONS
app ICONS app.ico OUTPUT a.exe LAUNCH setup.exe FILES in|unknown keyword ICONS
app OUTPUT a.exe LAUNCH setup.exe ICONS app.ico FILES in|unknown keyword ICONS
app OUTPUT a.exe LAUNCH setup.exe extra.exe FILES in|unexpected arguments: extra.exe
app OUTPUT a.exe LAUNCH setup.exe FILES in VERSION_STRINGS ProductName=Example TRADEMARKS|unknown keyword TRADEMARKS
app OUTPUT a.exe LAUNCH setup.exe FILES in missing.txt|FILES missing.txt: no such file or folder
app OUTPUT a.exe LAUNCH setup.exe FILES in ICON missing.ico|ICON missing.ico: no such file or folder
app OUTPUT a.exe LAUNCH setup.exe FILES in MANIFEST missing.xml|MANIFEST missing.xml: no such file or folder
app OUTPUT a.exe FILES in|LAUNCH is required
app OUTPUT a.exe LAUNCH FILES in|LAUNCH needs a value
app OUTPUT a.exe LAUNCH setup.exe FILES in EXECUTION_LEVEL administrator|EXECUTION_LEVEL administrator: not asInvoker, highestAvailable or requireAdministrator
app OUTPUT a.exe LAUNCH setup.exe FILES in EXECUTION_LEVEL asInvoker MANIFEST app.manifest|EXECUTION_LEVEL and MANIFEST exclude each other
app OUTPUT a.exe LAUNCH setup.exe FILES in MIN_WINDOWS 8|MIN_WINDOWS 8: not 7sp1 or 10.1607
app OUTPUT a.exe LAUNCH setup.exe FILES in VERSION_STRINGS ProductName|VERSION_STRINGS takes KEY=VALUE, not 'ProductName'
app OUTPUT a.exe LAUNCH setup.exe FILES in DEPENDS no_such_target|no_such_target
EOT
}

# Ninja's own escaping, for a path in build.ninja.
ninja_escaped() { sed 's/\$/$$/g; s/ /$ /g; s/:/$:/g' <<<"$1"; }

# The target and the files the dependency file DIR/dep.d names, as the
# generator's tool reads them: make's database (-p), or Ninja's check of the
# target and its log of what a gcc-style file named. One line each: the
# target first, then the files in sorted order.
read_back() {
    local generator=$1 dir=$2 target=$3
    if [ "$generator" = Ninja ]; then
        cat >"$dir/build.ninja" <<EOF2
rule check
  command = true
  depfile = dep.d
rule log
  command = cp dep.d logged.d
  depfile = logged.d
  deps = gcc
build $(ninja_escaped "$target"): check
build logged: log
EOF2
        (cd "$dir" && ninja -n "$target" >/dev/null && ninja logged >/dev/null) || return 1
        echo "$target"
        (cd "$dir" && ninja -t deps logged) | sed -n 's/^    //p' | LC_ALL=C sort
    else
        echo "include dep.d" >"$dir/Makefile"
        local database
        database=$(cd "$dir" && make -r -R -p -q 2>/dev/null)
        # A rule's target is listed as "target: files"; each file has a rule
        # of its own with none, "file:".
        awk -v t="$target" 'index($0, t ": ") == 1 { print t; exit }' <<<"$database"
        sed -n '/^# Files/,/^# files hash-table stats/s/^\([^#\t].*\):$/\1/p' <<<"$database" |
            grep -vx -e Makefile -e dep.d -e '\..*' | LC_ALL=C sort
    fi
}

# Names in the dependency file: each packed (as an input, or as -o's
# relative name) must come back from the generator's tool as it is spelt
# (and the build go on once the file is removed), or be refused naming it;
# and the function's step that hands the file to
# CMake must pass on what CMake reads right for the generator and refuse
# what it would misread (misread: for both generators; ninja: for Ninja).
depfile_names() {
    local generator=$1 work=$2 launcher=$3
    local tool=$work/moved/bin/courier-pack names=$work/depfile-names-${generator// /-}
    local script=$work/moved/lib/cmake/BriskCourier/BriskCourierDepfile.cmake
    local kind name expected cmake said wanted got status
    while IFS='|' read -r kind name expected cmake; do
        name=${name//<TAB>/$'\t'} name=${name//<BAR>/|} expected=${expected//<BAR>/|}
        rm -rf "$names" && mkdir -p "$names/in"
        local input=$names/in/plain.txt target=out.exe.part
        if [ "$kind" = in ]; then input=$names/in/$name; else target=$name; fi
        echo x >"$input"
        status=0
        said=$(cd "$names" && "$tool" pack -q -o "$target" --launch e.txt --stub "$launcher" \
            --depfile dep.d "$input=e.txt" 2>&1) || status=$?
        if [ "$expected" != - ]; then
            [ $status = 1 ] || fail "$kind '$name': packed, not refused"
            [[ $said == *"cannot name "*"${name//$'\t'/\\x09}"*" in a dependency file: $expected"* ]] ||
                fail "$kind '$name': not refused naming it for '$expected': $said"
            [ ! -e "$names/dep.d" ] && [ ! -e "$names/$target" ] || fail "$kind '$name': written though refused"
            [ -z "$(find "$names" -name PWNED)" ] || fail "$kind '$name': ran a command"
            continue
        fi
        [ $status = 0 ] || fail "$kind '$name': not packed: $said"
        wanted=$(printf '%s\n' "$target"; printf '%s\n' "$launcher" "$input" | LC_ALL=C sort)
        got=$(read_back "$generator" "$names" "$target") || fail "$kind '$name': $generator cannot read the file"
        [ "$got" = "$wanted" ] || fail "$kind '$name': $generator read '$got', not '$wanted'"
        rm "$input"  # then the carrier is out of date, and the build goes on
        status=0
        if [ "$generator" = Ninja ]; then
            (cd "$names" && ninja -n "$target" >/dev/null 2>&1) || status=2
        else
            (cd "$names" && make -r -R -q "$target" >/dev/null 2>&1) || status=$?
        fi
        [ $status != 2 ] || fail "$kind '$name': $generator stops once the file is removed"
        [ -n "$cmake" ] || continue
        local refused=0
        [[ $cmake = misread || ($cmake = ninja && $generator = Ninja) ]] && refused=1
        status=0
        said=$(cmake -D "FROM=$names/dep.d" -D "TO=$names/final.d" -D "GENERATOR=$generator" \
            -P "$script" 2>&1) || status=$?
        if [ $refused = 1 ]; then
            [ $status != 0 ] && [[ $(tr -s ' \n' ' ' <<<"$said") == *"$name: CMake's own reading"* ]] ||
                fail "$kind '$name': handed to CMake for $generator, which misreads it: $said"
        else
            [ $status = 0 ] || fail "$kind '$name': not handed to CMake for $generator: $said"
            [ "$(head -n1 "$names/final.d")" = "out.exe: \\" ] || fail "$kind '$name': $(head -n1 "$names/final.d")"
        fi
    done <<'EOT'
in|a b|-|-
in|a  b c|-|-
in|a#b|-|ninja
in|a$b|-|ninja
in|a:b|-|misread
in|a\ b|-|misread
in|a\\ b|-|misread
in|a\b|-|misread
in|a%b|make reads a target with '%' as a pattern
in|a(b)c|-|-
in|a(b|-|-
in|a!@~{},+]b|-|-
in|café|-|-
in|setup.exe;touch${IFS}PWNED|make would run what follows its ';' as a command
in|a(b)|make reads NAME(MEMBER) as a member of an archive
in|(b)|make reads NAME(MEMBER) as a member of an archive
in|a[b]c|make reads '[...]' as a wildcard
in|a=b|make reads '=' as a variable's assignment
in|a<BAR>b|make or Ninja would not read its '<BAR>' as part of it
in|a&b|make or Ninja would not read its '&' as part of it
in|a'b|make or Ninja would not read its ''' as part of it
in|a*b|make or Ninja would not read its '*' as part of it
in|a^b|make or Ninja would not read its '^' as part of it
in|a"b|make or Ninja would not read its '"' as part of it
in|a`b|make or Ninja would not read its '`' as part of it
in|a<b|make or Ninja would not read its '<' as part of it
in|a?b|make or Ninja would not read its '?' as part of it
in|a<TAB>b|a control character (byte 0x09) cannot be written
in|a |make and Ninja cannot both read a trailing ' '
in|a\|make and Ninja cannot both read a trailing '\'
in|a:|make and Ninja cannot both read a trailing ':'
in|a\#b|make and Ninja cannot both read '\' before '#'
in|a\$b|make and Ninja cannot both read '\' before '$'
in|a\:b|make and Ninja cannot both read '\' before ':'
out|a b#$:c.exe|-|
out|~a.exe|make reads a leading '~' as a home folder
EOT
}

# A carrier of a folder and a file, built with GENERATOR; each change to
# the folder's files must repack it, and the carrier must hold the change.
depfile() {
    local generator=$1 work=$2
    need_launcher "$3"
    [ -d "$work/moved" ] || fail "no installed tree in $work/moved (installed-tree runs first)"
    depfile_names "$generator" "$work" "$3"
    local project=$work/depfile-${generator// /-} tool=$work/moved/bin/courier-pack
    rm -rf "$project" && mkdir -p "$project/payload"
    echo "setup" >"$project/setup.bin"
    echo "one" >"$project/payload/one.txt"
    echo "two" >"$project/payload/two.txt"
    cat >"$project/CMakeLists.txt" <<'EOF2'
cmake_minimum_required(VERSION 3.25)
project(Depfile NONE)
find_package(BriskCourier CONFIG REQUIRED)
message(STATUS "BRISK_COURIER_HAS_DEPFILE=${BRISK_COURIER_HAS_DEPFILE}")
brisk_courier_add_carrier(app OUTPUT app-setup.exe LAUNCH setup.exe FILES setup.bin=setup.exe payload
  EXECUTION_LEVEL asInvoker)
EOF2
    local build=$project/build configured
    configured=$(cmake -S "$project" -B "$build" -G "$generator" -DCMAKE_PREFIX_PATH="$work/moved")
    if [[ $configured != *BRISK_COURIER_HAS_DEPFILE=ON* ]]; then
        echo "skipped: this courier-pack writes no dependency files (BRISK_COURIER_HAS_DEPFILE is OFF)"
        exit 77
    fi
    cmake --build "$build" >/dev/null
    local carrier=$build/app-setup.exe
    [[ $(cmake --build "$build") == *Packing* ]] && fail "$generator: repacked with nothing changed"

    # Each step: a change, then the entries and contents the carrier must
    # hold, or !TEXT: the build fails saying TEXT (and the next change
    # builds again); a third field is what Ninja's build does instead.
    local change entries ninja output
    while IFS='|' read -r change entries ninja; do
        [ "$generator" = Ninja ] && [ -n "$ninja" ] && entries=$ninja
        sleep 1  # a new modification time, however coarse the file system's
        (cd "$project/payload" && eval "$change")
        if [[ $entries == !* ]]; then
            output=$(cmake --build "$build" 2>&1) && fail "$generator: built after: $change"
            [[ $(tr -s ' \n' ' ' <<<"$output") == *"${entries#!}"* ]] ||
                fail "$generator: after '$change' the build did not say '${entries#!}': $output"
            [ -e "$carrier" ] && fail "$generator: the carrier before '$change' was left after the pack failed"
            continue
        fi
        [[ $(cmake --build "$build") == *Packing* ]] || fail "$generator: not repacked after: $change"
        rm -rf "$project/unpacked"
        "$tool" extract "$carrier" -C "$project/unpacked" >/dev/null || fail "$generator: extract after: $change"
        [ "$(cd "$project/unpacked" && LC_ALL=C ls | tr '\n' '/')" = "$entries" ] ||
            fail "$generator: after '$change' the carrier holds $(ls "$project/unpacked"), not $entries"
        for file in "$project"/payload/*; do
            cmp -s "$file" "$project/unpacked/$(basename "$file")" ||
                fail "$generator: after '$change' the carrier has an old $(basename "$file")"
        done
        [[ $(cmake --build "$build") != *Packing* ]] || fail "$generator: repacked again after: $change"
    done <<'EOT'
echo changed >>one.txt|one.txt/setup.exe/two.txt/
echo three >three.txt|one.txt/setup.exe/three.txt/two.txt/
rm two.txt|one.txt/setup.exe/three.txt/
echo 4 >'read me (1)!.txt'|one.txt/read me (1)!.txt/setup.exe/three.txt/
echo 5 >'x;y.txt'|!x;y.txt in a dependency file: make would run what follows its ';' as a command
rm 'x;y.txt'|one.txt/read me (1)!.txt/setup.exe/three.txt/
echo 6 >'c#$.txt'|c#$.txt/one.txt/read me (1)!.txt/setup.exe/three.txt/|!c#$.txt: CMake's own reading of dependency files would misread this path for Ninja
rm 'c#$.txt' 'read me (1)!.txt'|one.txt/setup.exe/three.txt/
EOT
}

debian_package() {
    local build=$1 work=$2 file
    need_launcher "$3"
    rm -rf "$work" && mkdir -p "$work"
    (umask 077 && cd "$build" && cpack -G DEB -B "$work" >/dev/null)
    local deb=("$work"/brisk-courier_*_"$(dpkg --print-architecture)".deb)
    [ -f "${deb[0]}" ] || fail "no brisk-courier_<version>_<arch>.deb in $work"
    local contents
    contents=$(dpkg-deb -c "${deb[0]}" | awk '{ print $6 }')
    for file in "${installed[@]}"; do
        grep -qx "./usr/$file" <<<"$contents" || fail "not in the package: /usr/$file"
    done
    local closed
    closed=$(dpkg-deb -c "${deb[0]}" | awk '/^d/ && $1 != "drwxr-xr-x" { print $1, $6 }')
    [ -z "$closed" ] || fail "folders others cannot read: $closed"
    # The same of the folders cpack packed from, the staging root too: this
    # data.tar has no entry for it, a CPack that writes "./" takes its mode.
    closed=$(find "$work"/_CPack_Packages/*/DEB/*/ -type d ! -perm 0755 -printf '%M %p\n')
    [ -z "$closed" ] || fail "staged folders others cannot read: $closed"
    [[ $(dpkg-deb -f "${deb[0]}" Depends) == *"libc6 (>= "* ]] || fail "dependencies not computed"
    [[ $(dpkg-deb -f "${deb[0]}" Suggests) == *bash-completion* ]] || fail "bash-completion not suggested"
    dpkg -x "${deb[0]}" "$work/root"
    pack_from_tree "$work/root/usr/bin/courier-pack" "$work"
}

linux_tarball() {
    local archive=$1 tree=$2 name=$3 work=$4 file
    need_launcher "$5"
    [ -x "$tree/courier-pack" ] ||
        { echo "skipped: no courier-pack in $tree (build the linux preset first)"; exit 77; }
    rm -rf "$work" && mkdir -p "$work/root"
    "$archive" "$tree" "$work/$name" >/dev/null
    local folder=${name%.tar.gz}
    tar -xzf "$work/$name" -C "$work/root"
    [ "$(ls "$work/root")" = "$folder" ] || fail "the tarball holds $(ls "$work/root"), not one folder $folder"
    for file in courier-pack launcher.exe courier-pack.1 README.md CHANGELOG.md copyright copyright.CLI11 \
        copyright.nlohmann-json docs/format.md docs/shipping.md docs/json.md docs/progress-window.png; do
        [ -f "$work/root/$folder/$file" ] || fail "not in the tarball: $folder/$file"
    done
    local tool=$work/root/$folder/courier-pack
    [[ $(file -b "$tool") == *"statically linked"* ]] || fail "courier-pack: $(file -b "$tool")"
    ldd "$tool" >/dev/null 2>&1 && fail "ldd finds shared libraries in courier-pack: $(ldd "$tool")"
    # Nothing but the folder and a payload: no /etc, /lib, /proc or /dev,
    # no PATH, HOME or locale. The root needs root; others get the
    # environment alone.
    mkdir -p "$work/root/in"
    echo "setup" >"$work/root/in/setup.exe"
    echo "read me" >"$work/root/in/readme.txt"
    local run=(env -i) at=$work/root
    if [ "$(id -u)" = 0 ]; then run=(env -i "$(command -v chroot)" "$work/root") at=; fi
    "${run[@]}" "$at/$folder/courier-pack" pack -o "$at/out.exe" --launch setup.exe "$at/in" >/dev/null ||
        fail "the tarball's courier-pack could not pack in an empty root"
    "${run[@]}" "$at/$folder/courier-pack" verify "$at/out.exe" >/dev/null ||
        fail "the tarball's courier-pack could not verify in an empty root"
    cmp -s -n 8192 "$work/root/$folder/launcher.exe" "$work/root/out.exe" ||
        fail "the carrier does not start with the tarball's launcher.exe"
}

case=$1
shift
case $case in
    man-page) man_page "$@" ;;
    docs) docs "$@" ;;
    installed-tree) installed_tree "$@" ;;
    consumer) consumer "$@" ;;
    consumer-calls) consumer_calls "$@" ;;
    depfile) depfile "$@" ;;
    debian-package) debian_package "$@" ;;
    linux-tarball) linux_tarball "$@" ;;
    *) fail "unknown case $case" ;;
esac
