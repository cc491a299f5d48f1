#!/bin/bash
# Builds the release twice from this checkout's commit and compares the
# bytes: scripts/package.sh --release in two fresh clones, one in a short
# folder and one in a long one, the second later and with its clock 40
# days ahead, under umask 022 and 077, locales C.UTF-8 and en_US.UTF-8 and
# two time zones, without ccache. Prints each artifact's SHA-256 from both
# builds side by side, and diffoscope's account of any difference
# (beside the builds, in WORK). Exits 0 only when every artifact matches.
# Edits to tracked files not yet committed are built too (with a warning).
# With --launcher, only the launcher (a quick check for the test suite).
# Usage: scripts/reproduce.sh [--launcher] [WORK] (default build/reproduce)
set -euo pipefail
only_launcher=0
if [ "${1:-}" = --launcher ]; then only_launcher=1; shift; fi
cd "$(dirname "$0")/.."
root=$PWD
work=${1:-build/reproduce}
case $work in /*) ;; *) work=$root/$work ;; esac

if [ $only_launcher = 0 ]; then scripts/install-deps.sh diffoscope-minimal; fi
commit=$(git rev-parse HEAD)
changed=$(git diff --name-only --diff-filter=d HEAD)
[ -z "$changed" ] || echo "reproduce: building $commit with uncommitted edits to:" $changed >&2

rm -rf "$work" && mkdir -p "$work"
# en_US.UTF-8 from the locales package's sources when the machine has not
# generated it; C.UTF-8 is the C library's own.
locales=()
if ! locale -a 2>/dev/null | grep -qix 'en_US.utf-\?8'; then
    mkdir -p "$work/locales"
    localedef -i en_US -f UTF-8 "$work/locales/en_US.UTF-8"
    locales=(LOCPATH="$work/locales")
fi
# No compiler launcher, from the environment or from PATH (ccache's
# masquerade folder): a cache would hand back objects built elsewhere.
path=$(tr : '\n' <<<"$PATH" | grep -v ccache | paste -sd:)

# One build: FOLDER UMASK LOCALE TZ and the rest of the command's prefix.
build() {
    local folder=$1 mask=$2 locale=$3 zone=$4
    shift 4
    mkdir -p "$folder"
    (
        umask "$mask"
        git clone -q --shared --no-checkout "$root" "$folder/src"
        git -C "$folder/src" checkout -q --detach "$commit"
        for file in $changed; do cp "$root/$file" "$folder/src/$file"; done
        cd "$folder/src"
        target=(scripts/package.sh --release)
        if [ $only_launcher = 1 ]; then
            target=(sh -c 'cmake --preset windows >/dev/null && cmake --build --preset windows --target launcher')
        fi
        run=(env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER -u SOURCE_DATE_EPOCH
             PATH="$path" LC_ALL="$locale" LANG="$locale" TZ="$zone" "$@")
        "${run[@]}" sh -c 'echo "reproduce: $(date), umask $(umask), locale $LC_ALL ($(locale charmap))"'
        "${run[@]}" "${target[@]}"
    ) >"$folder.log" 2>&1 || { tail -30 "$folder.log"; echo "reproduce: the build in $folder failed" >&2; exit 1; }
}

first=$work/a
second=$work/a-second-build-in-a-folder-whose-path-is-much-longer/b
start=$SECONDS
build "$first" 022 C.UTF-8 UTC0
build "$second" 077 en_US.UTF-8 KIR-14 "${locales[@]}" faketime -f +40d
echo "reproduce: two builds of $commit in $((SECONDS - start)) s"

artifacts=(build/windows/launcher.exe)
if [ $only_launcher = 0 ]; then
    artifacts+=(build/package/courier-pack build/windows/courier-pack.exe build/linux/courier-pack)
    for file in "$first"/src/build/release/*; do artifacts+=("build/release/$(basename "$file")"); done
fi
status=0
printf '%-64s  %-64s  %s\n' "SHA-256, first build" "SHA-256, second build" artifact
for artifact in "${artifacts[@]}"; do
    a=$(sha256sum <"$first/src/$artifact" | cut -d' ' -f1)
    b=$(sha256sum <"$second/src/$artifact" 2>/dev/null | cut -d' ' -f1) || b=missing
    printf '%-64s  %-64s  %s\n' "$a" "$b" "$artifact"
    if [ "$a" != "$b" ]; then
        status=1
        report=$work/diffoscope-$(basename "$artifact").txt
        if command -v diffoscope >/dev/null; then
            timeout 600 diffoscope --text "$report" "$first/src/$artifact" "$second/src/$artifact" >/dev/null || true
            echo "reproduce: $artifact differs: $report" >&2
        else
            echo "reproduce: $artifact differs (diffoscope would say where)" >&2
        fi
    fi
done
[ $status = 0 ] && echo "reproduce: identical"
exit $status
