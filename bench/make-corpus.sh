#!/bin/sh
# Builds a benchmark corpus from files already on this machine, picked by
# fixed names or sorted order so that two runs on one machine agree.
#   make-corpus.sh OUTDIR          ~1 MB shaped like an installer payload
#   make-corpus.sh --large OUTDIR  ~50 MB of shared libraries and text
set -eu

large=0
if [ "${1:-}" = "--large" ]; then
    large=1
    shift
fi
if [ $# -ne 1 ]; then
    echo "usage: $0 [--large] OUTDIR" >&2
    exit 2
fi
out=$1
export LC_ALL=C

if [ -e "$out" ] && [ -n "$(ls -A "$out")" ]; then
    echo "$out exists and is not empty" >&2
    exit 1
fi
# Built aside and moved in at the end, so an interrupted run leaves no
# half corpus behind.
final=$out
out=$out.partial
rm -rf "$out"
mkdir -p "$out"

size_of() { stat -c %s "$1"; }

# take FILE NAME: copies FILE into the corpus as NAME.
take() { cp "$1" "$out/$2"; }

if [ $large -eq 0 ]; then
    wine32=/usr/lib/i386-linux-gnu/wine/i386-windows
    [ -d "$wine32" ] || { echo "no 32-bit Wine programs in $wine32" >&2; exit 1; }

    # Five programs and a DLL of typical sizes; when a name is missing the
    # next unused one between 100 and 250 KB in name order stands in.
    picked=" "
    pick() {  # pick NAME SUFFIX
        f=$wine32/$1
        if [ ! -f "$f" ]; then
            f=""
            for c in "$wine32"/*"$2"; do
                s=$(size_of "$c")
                case "$picked" in *" $(basename "$c") "*) continue ;; esac
                if [ "$s" -ge 100000 ] && [ "$s" -le 250000 ]; then f=$c; break; fi
            done
            [ -n "$f" ] || { echo "no stand-in for $1" >&2; exit 1; }
        fi
        picked="$picked$(basename "$f") "
        take "$f" "$(basename "$f")"
    }
    for name in hh.exe regsvr32.exe attrib.exe clock.exe ping.exe; do pick $name .exe; done
    pick version.dll .dll

    # Five licence texts, or copyright files when a licence is missing.
    n=0
    for name in GPL-3 GPL-2 LGPL-2.1 Apache-2.0 MPL-2.0; do
        f=/usr/share/common-licenses/$name
        [ -f "$f" ] || continue
        take "$f" "$name.txt"
        n=$((n + 1))
    done
    for f in /usr/share/doc/*/copyright; do
        [ $n -lt 5 ] || break
        [ -f "$f" ] || continue
        take "$f" "$(basename "$(dirname "$f")")-copyright.txt"
        n=$((n + 1))
    done

    dpkg-query -W > "$out/packages.txt"
    ls /usr/bin > "$out/programs.txt"
    printf '1.0' > "$out/version.txt"
else
    # About 40 MB of x86-64 shared libraries, then about 10 MB of copyright
    # texts; every file under 8 MB.
    total=0
    for f in $(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' | sort); do
        s=$(size_of "$f")
        [ "$s" -lt 8000000 ] || continue
        take "$f" "$(basename "$f")"
        total=$((total + s))
        [ $total -lt 40000000 ] || break
    done
    text=0
    for f in /usr/share/doc/*/copyright; do
        [ -f "$f" ] || continue
        s=$(size_of "$f")
        [ "$s" -lt 8000000 ] || continue
        take "$f" "$(basename "$(dirname "$f")")-copyright.txt"
        text=$((text + s))
        [ $text -lt 10000000 ] || break
    done
fi

rmdir "$final" 2>/dev/null || true
mv "$out" "$final"
echo "$final: $(ls "$final" | wc -l) files, $(cat "$final"/* | wc -c) bytes"
