#!/bin/bash
# End to end under Wine: the real launcher beside an NSIS installer (zlib,
# Debian's makensis) made from the same files, on three payloads:
#   small  16 files, about 1 MB, shaped like an installer
#   big    one file of 100 MB of this machine's own bytes, and the program
#   many   300 files, copyright texts of all sizes
#   tiny   300 files of 1 to 4 KB and the program: where a file's own cost shows
# In every payload the launched program is the Windows tests' probe, which
# writes %TEMP%\brisk-probe.txt when it starts. A run is timed from its start
# until that file appears. The launcher's pauses before the launch (100 ms
# after each file) are subtracted, as asked for and as Wine really makes
# them: Sleep(100) there lasts a few ms longer, which a calibration run
# measures. Its 500 ms pause comes after the launch, outside the span. Runs
# alternate, ours then NSIS's, after one warm-up of each; medians are
# compared.
#
#   bench/e2e.sh [RUNS] [PAYLOAD...]    RUNS defaults to 5; payloads to all four
#   BRISK_LAUNCHER=other/launcher.exe bench/e2e.sh ...   another build, e.g. an older one
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${BRISK_E2E_DISPLAY:-}" ]; then
    # The launcher's window needs a display; Xvfb gives each run its own.
    exec env BRISK_E2E_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

runs=${1:-5}
shift || true
payloads=("$@")
[ ${#payloads[@]} -gt 0 ] || payloads=(small big many tiny)
work=$PWD/build/bench/e2e
export WINEPREFIX=$PWD/build/bench/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
export LC_ALL=C

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
if ! command -v makensis >/dev/null; then
    as_root apt-get install -y -q --no-install-recommends nsis
fi

# The packer from the Release tree, the launcher and the probe from the
# Windows tree.
cmake --preset bench >/dev/null
cmake --build --preset bench --target courier-pack >/dev/null
cmake --preset windows >/dev/null
cmake --build --preset windows --target launcher brisk_probe >/dev/null
courier=build/bench/courier-pack
launcher=${BRISK_LAUNCHER:-build/windows/launcher.exe}
probe=build/windows/tests/windows/brisk_probe.exe
scripts/wine-prefix.sh "$WINEPREFIX" >/dev/null 2>&1
trap 'timeout 60 wineserver -k >/dev/null 2>&1 || true' EXIT

temp=$(winepath -u "$(timeout 120 wine cmd /c echo %TEMP% | tr -d '\r\n')")
[ -d "$temp" ] || { echo "no %TEMP% in $WINEPREFIX" >&2; exit 1; }

# make_payload NAME: fills $work/NAME/in with the payload's files once.
make_payload() {
    local dir=$work/$1/in
    [ -f "$work/$1/.made" ] && return
    rm -rf "$work/$1"
    mkdir -p "$dir"
    cp "$probe" "$dir/Install.exe"
    case $1 in
    small)
        [ -d build/bench/corpus ] || bench/make-corpus.sh build/bench/corpus >/dev/null
        cp build/bench/corpus/* "$dir/"
        ls -l /usr/share/doc >"$dir/filelist.txt"
        ;;
    big)
        # Shared libraries in name order, whole, up to 100,000,000 bytes.
        find /usr/lib/x86_64-linux-gnu /usr/lib -maxdepth 1 -type f -name '*.so*' | sort |
            xargs cat 2>/dev/null | head -c 100000000 >"$dir/data.bin" || true
        [ "$(stat -c %s "$dir/data.bin")" = 100000000 ] || { echo "not 100 MB of libraries" >&2; exit 1; }
        ;;
    many)
        local n=0 f
        for f in /usr/share/doc/*/copyright; do
            [ $n -lt 299 ] || break
            [ -f "$f" ] || continue
            cp "$f" "$dir/$(printf %03d $n)-$(basename "$(dirname "$f")" | cut -c1-40).txt"
            n=$((n + 1))
        done
        [ $n = 299 ] || { echo "fewer than 299 copyright files" >&2; exit 1; }
        ;;
    tiny)
        # The first 1024 to 4096 bytes (evenly spread) of copyright texts
        # at least that long.
        local n=0 f
        for f in /usr/share/doc/*/copyright; do
            [ $n -lt 300 ] || break
            [ -f "$f" ] && [ "$(stat -c %s "$f")" -ge 4096 ] || continue
            head -c $((1024 + n * 3072 / 299)) "$f" \
                >"$dir/$(printf %03d $n)-$(basename "$(dirname "$f")" | cut -c1-40).txt"
            n=$((n + 1))
        done
        [ $n = 300 ] || { echo "fewer than 300 copyright files of 4 KB" >&2; exit 1; }
        ;;
    esac
    touch "$work/$1/.made"
}

# make_installers NAME: ours.exe and nsis.exe from the payload.
make_installers() {
    local dir=$work/$1
    if [ ! -f "$dir/ours.exe" ] || ! cmp -s "$launcher" "$dir/ours.stub"; then
        "$courier" pack -o "$dir/ours.exe" --launch install.exe --stub "$launcher" "$dir/in" >/dev/null
        cp "$launcher" "$dir/ours.stub"
    fi
    if [ ! -f "$dir/nsis.exe" ]; then
        cat >"$dir/installer.nsi" <<NSI
; The yardstick: unpacks the same files into %TEMP% under its own progress
; window, then has the shell open the same program.
Unicode true
SetCompressor zlib
Name "Brisk Courier yardstick"
OutFile "nsis.exe"
RequestExecutionLevel user
AutoCloseWindow true
ShowInstDetails nevershow
Page instfiles
Section
  SetOutPath "\$TEMP\\BriskNsisTmp"
  File "in/*"
  ExecShell "open" "\$TEMP\\BriskNsisTmp\\Install.exe"
SectionEnd
NSI
        (cd "$dir" && makensis -V1 installer.nsi)
    fi
}

now_ns() { date +%s%N; }

# How long Sleep(100) lasts under this Wine: the mean of 20, in seconds.
pause_length() {
    local exe=$work/pause.exe
    if [ ! -f "$exe" ]; then
        cat >"$work/pause.c" <<'C'
#include <windows.h>
#include <stdio.h>
int main(void) {
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    for (int i = 0; i < 20; ++i) Sleep(100);
    QueryPerformanceCounter(&b);
    printf("%.4f\n", (double)(b.QuadPart - a.QuadPart) / f.QuadPart / 20);
    return 0;
}
C
        i686-w64-mingw32-gcc -O2 -o "$exe" "$work/pause.c"
    fi
    timeout 120 wine "$exe" | tr -d '\r'
}

# time_run EXE: prints the seconds from its start until the probe's record
# appears, and waits (bounded) for it to end.
time_run() {
    rm -rf "$temp/BriskCourierTmp" "$temp/BriskNsisTmp" "$temp/brisk-probe.txt"
    local start pid end deadline
    start=$(now_ns)
    wine "$1" >/dev/null 2>&1 &
    pid=$!
    deadline=$((start + 300000000000))
    while [ ! -e "$temp/brisk-probe.txt" ]; do
        if [ "$(now_ns)" -gt $deadline ]; then
            echo "$1: no record from the probe after 300 s" >&2
            kill $pid 2>/dev/null || true
            exit 1
        fi
        sleep 0.002
    done
    end=$(now_ns)
    deadline=$((end + 60000000000))
    while kill -0 $pid 2>/dev/null; do
        [ "$(now_ns)" -lt $deadline ] || { kill $pid; break; }
        sleep 0.02
    done
    wait $pid 2>/dev/null || true
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f\n", (b - a) / 1e9 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

mkdir -p "$work"
pause=$(pause_length)
echo "launcher: $(stat -c %s "$launcher") bytes; $runs runs of each, alternating; $(nproc) cores;" \
    "Sleep(100) lasts $pause s"
printf '%-6s %6s %9s %12s %12s %10s %7s\n' payload files MB "ours (s)" "NSIS (s)" "ours/NSIS" pauses
for p in "${payloads[@]}"; do
    make_payload "$p"
    make_installers "$p"
    dir=$work/$p
    files=$(ls "$dir/in" | wc -l)
    mb=$(du -sb "$dir/in" | awk '{ printf "%.1f", $1 / 1e6 }')
    pauses=$(awk -v n="$files" -v p="$pause" 'BEGIN { printf "%.2f", n * p }')
    time_run "$dir/ours.exe" >/dev/null
    time_run "$dir/nsis.exe" >/dev/null
    : >"$dir/ours.times"
    : >"$dir/nsis.times"
    for _ in $(seq "$runs"); do
        time_run "$dir/ours.exe" | awk -v p="$pauses" '{ printf "%.3f\n", $1 - p }' >>"$dir/ours.times"
        time_run "$dir/nsis.exe" >>"$dir/nsis.times"
    done
    ours=$(median <"$dir/ours.times")
    nsis=$(median <"$dir/nsis.times")
    printf '%-6s %6s %9s %12s %12s %10s %7s\n' "$p" "$files" "$mb" "$ours" "$nsis" \
        "$(awk -v a="$ours" -v b="$nsis" 'BEGIN { printf "%.2f", a / b }')" "$pauses"
    echo "        ours: $(tr '\n' ' ' <"$dir/ours.times")  NSIS: $(tr '\n' ' ' <"$dir/nsis.times")"
    echo "        ours with only 0.1 s a file subtracted: $(awk -v a="$ours" -v n="$files" -v p="$pauses" \
        'BEGIN { printf "%.3f", a + p - n * 0.1 }') s"
done
