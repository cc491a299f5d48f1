#!/bin/bash
# What users install, checked as they get it. One case per call:
#   man-page COURIER_PACK PAGE       every verb and option of --help is in PAGE
#   installed-tree BUILD WORK LAUNCHER
#       cmake --install into WORK, moved: files in place, packs with no
#       --stub, bash completion reads --help (leaves WORK/moved for consumer)
#   consumer SOURCE WORK LAUNCHER    examples/cmake-consumer against WORK/moved:
#       builds, verifies, repacks only when an input changed
#   debian-package BUILD WORK LAUNCHER
#       cpack -G DEB: contents, computed dependencies and suggestions, packs
#       from dpkg -x
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
           lib/cmake/BriskCourier/BriskCourierConfig.cmake
           lib/cmake/BriskCourier/BriskCourierConfigVersion.cmake)

# Packs a folder with PROGRAM and no --stub; the carrier must verify and start
# with the launcher installed beside it, not one from a build tree.
pack_from_tree() {
    local program=$1 work=$2
    mkdir -p "$work/in"
    echo "read me" >"$work/in/readme.txt"
    echo "setup" >"$work/in/setup.exe"
    "$program" pack -o "$work/out.exe" --launch setup.exe "$work/in" >/dev/null
    "$program" verify "$work/out.exe" >/dev/null || fail "verify failed"
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
    [[ $("$tool" verify "$carrier") == *"launches 'Setup.exe'"* ]] || fail "carrier does not verify"
    cp "$carrier" "$work/before.exe"

    [[ $(cmake --build "$build") == *Packing* ]] && fail "repacked with nothing changed"
    echo "changed=1" >>"$examples/demo/app.ini"
    [[ $(cmake --build "$build") == *Packing* ]] || fail "not repacked after an input changed"
    cmp -s "$carrier" "$work/before.exe" && fail "the carrier did not change"
    "$tool" verify "$carrier" >/dev/null || fail "repacked carrier does not verify"
    "$tool" extract "$carrier" -C "$work/unpacked" >/dev/null
    cmp "$work/unpacked/app.ini" "$examples/demo/app.ini" || fail "the carrier has the old app.ini"
}

debian_package() {
    local build=$1 work=$2 file
    need_launcher "$3"
    rm -rf "$work" && mkdir -p "$work"
    (cd "$build" && cpack -G DEB -B "$work" >/dev/null)
    local deb=("$work"/brisk-courier_*_"$(dpkg --print-architecture)".deb)
    [ -f "${deb[0]}" ] || fail "no brisk-courier_<version>_<arch>.deb in $work"
    local contents
    contents=$(dpkg-deb -c "${deb[0]}" | awk '{ print $6 }')
    for file in "${installed[@]}"; do
        grep -qx "./usr/$file" <<<"$contents" || fail "not in the package: /usr/$file"
    done
    [[ $(dpkg-deb -f "${deb[0]}" Depends) == *"libc6 (>= "* ]] || fail "dependencies not computed"
    [[ $(dpkg-deb -f "${deb[0]}" Suggests) == *bash-completion* ]] || fail "bash-completion not suggested"
    dpkg -x "${deb[0]}" "$work/root"
    pack_from_tree "$work/root/usr/bin/courier-pack" "$work"
}

case=$1
shift
case $case in
    man-page) man_page "$@" ;;
    installed-tree) installed_tree "$@" ;;
    consumer) consumer "$@" ;;
    debian-package) debian_package "$@" ;;
    *) fail "unknown case $case" ;;
esac
