#!/bin/bash
# courier-pack on hostile inputs, as issue reports made them: how long pack,
# list and verify take and how much memory they hold (maximum resident set).
#   manifest   a 16 MiB manifest: 254 nested elements, each declaring 255
#              namespace prefixes of its own, and leaves whose attributes
#              use the outermost element's
#   carrier    a program whose resource section holds the same manifest
#              grown to 64 MiB, the most list and verify read
#   icon       an .ico of 512 directory entries that share one 4 MiB image
#   versions   3000 copies of --version-string K=v
#   entries    a program followed by an archive of 4 million empty entries
#   names      the same with a million empty entries of one 236-character
#              name (241 MB), each a warning or two
# Each is run RUNS times; the median is given. A run is stopped after
# BRISK_HOSTILE_LIMIT seconds (120 unless set), shown as "> 120".
#
#   bench/hostile.sh [RUNS] [COURIER_PACK]   RUNS defaults to 3; the tool to
#                                            build/bench/courier-pack
#
# An older courier-pack can be given to compare: the options used are those
# every version has.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
limit=${BRISK_HOSTILE_LIMIT:-120}
tool=$(realpath -m "${2:-build/bench/courier-pack}")
stub=${BRISK_STUB:-build/windows/launcher.exe}
work=$PWD/build/bench/hostile
mkdir -p "$work"
[ -x "$tool" ] || { echo "no $tool (cmake --preset bench && cmake --build build/bench --target courier-pack)"; exit 1; }

python3 - "$work" <<'PY'
import struct, sys
work = sys.argv[1]

def manifest(size):
    head = '<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">'
    # Each level declares prefixes of its own; the leaves use the outermost
    # level's, which a lookup through the open elements finds last.
    def prefixes(d): return ''.join(f' xmlns:p{d}_{i}="urn:x-{d}-{i}"' for i in range(255))
    opens = ''.join(f'<e{d}{prefixes(d)}>' for d in range(254))
    closes = ''.join(f'</e{d}>' for d in reversed(range(254)))
    leaf = '<l' + ''.join(f' p0_{i}:a=""' for i in range(255)) + '/>\n'
    body = size - len(head) - len(opens) - len(closes) - len('</assembly>')
    return (head + opens + leaf * (body // len(leaf)) + closes + '</assembly>').encode()

open(f'{work}/hostile.manifest', 'wb').write(manifest(16 << 20))

# A PE32 image whose one section is a resource section holding a manifest.
def program_with_manifest(text):
    headers, align = 0x200, 0x200
    directory = bytearray()
    def dir_header(n): return struct.pack('<IIHHHH', 0, 0, 0, 0, 0, n)
    rva = 0x1000
    directory += dir_header(1) + struct.pack('<II', 24, 0x80000000 | 24)
    directory += dir_header(1) + struct.pack('<II', 1, 0x80000000 | 48)
    directory += dir_header(1) + struct.pack('<II', 0x409, 72)
    directory += struct.pack('<IIII', rva + 88, len(text), 0, 0)
    section = bytes(directory) + text
    raw = (len(section) + align - 1) // align * align
    image = bytearray(headers)
    image[0:2] = b'MZ'
    struct.pack_into('<I', image, 0x3C, 0x40)
    image[0x40:0x44] = b'PE\0\0'
    struct.pack_into('<HHIIIHH', image, 0x44, 0x14C, 1, 0, 0, 0, 224, 0x0102)
    o = 0x58
    struct.pack_into('<H', image, o, 0x10B)
    struct.pack_into('<I', image, o + 28, 0x400000)
    struct.pack_into('<II', image, o + 32, 0x1000, align)
    struct.pack_into('<I', image, o + 56, rva + (raw + 0xFFF) // 0x1000 * 0x1000)
    struct.pack_into('<I', image, o + 60, headers)
    struct.pack_into('<H', image, o + 68, 2)
    struct.pack_into('<I', image, o + 92, 16)
    struct.pack_into('<II', image, o + 96 + 2 * 8, rva, len(section))
    s = o + 224
    image[s:s + 8] = b'.rsrc\0\0\0'
    struct.pack_into('<IIII', image, s + 8, len(section), rva, raw, headers)
    struct.pack_into('<I', image, s + 36, 0x40000040)
    return bytes(image) + section + bytes(raw - len(section))

open(f'{work}/hostile-carrier.exe', 'wb').write(program_with_manifest(manifest((64 << 20) - 4096)))

# 512 entries, each pointing at one 4 MiB image after the directory.
count, image = 512, 4 << 20
ico = struct.pack('<HHH', 0, 1, count)
for i in range(count):
    ico += struct.pack('<BBBBHHII', 0, 0, 0, 0, 1, 32, image, 6 + 16 * count)
ico += struct.pack('<IiiHHIIiiII', 40, 256, 512, 1, 32, 0, 0, 0, 0, 0, 0)
open(f'{work}/hostile.ico', 'wb').write(ico + bytes(image - 40))

# Millions of entries of no bytes, 9 bytes each: a name, its NUL, a stored size of 0.
image = program_with_manifest(b'')
archive = bytearray(b'a\0')
for i in range(4000000):
    archive += b'%06x\0' % i + bytes(4)
archive += b'\0'
open(f'{work}/hostile-entries.exe', 'wb').write(image + archive + struct.pack('<I', len(image)))

# A million entries of one 236-character name: each too long for the
# %TEMP% assumed, all one file on Windows.
archive = b'a\0' + (b'n' * 236 + b'\0' + bytes(4)) * 1000000 + b'\0'
open(f'{work}/hostile-names.exe', 'wb').write(image + archive + struct.pack('<I', len(image)))
PY

mkdir -p "$work/in"
echo x >"$work/in/a"
versions=()
for _ in $(seq 3000); do versions+=(--version-string K=v); done

# Seconds and the maximum resident set of one run; the exit code is not ours to judge.
measure() {
    /usr/bin/time -f "%e %M" -o "$work/time" timeout "$limit" "$@" >/dev/null 2>"$work/stderr" || true
    tail -n 1 "$work/time"
}

median() { sort -n | awk '{ a[NR] = $0 } END { print a[int((NR + 1) / 2)] }'; }

run_case() {
    local name=$1
    shift
    local seconds=() kb=()
    for _ in $(seq "$runs"); do
        read -r s k < <(measure "$@")
        seconds+=("$s")
        kb+=("$k")
    done
    local median_seconds
    median_seconds=$(printf '%s\n' "${seconds[@]}" | median)
    awk -v s="$median_seconds" -v l="$limit" 'BEGIN { exit !(s >= l) }' && median_seconds="> $limit"
    printf '%-28s %8s s %8s MB   %s\n' "$name" "$median_seconds" \
        "$(( $(printf '%s\n' "${kb[@]}" | median) / 1024 ))" \
        "$(head -c 100 "$work/stderr" | tr '\n' ' ')"
}

args=(-o "$work/out.exe" --launch a --stub "$stub")
[ -f "$stub" ] || args=(-o "$work/out.exe" --launch a)
run_case "pack --manifest (16 MiB)" "$tool" pack "${args[@]}" --manifest "$work/hostile.manifest" "$work/in"
run_case "list (64 MiB manifest)" "$tool" list "$work/hostile-carrier.exe"
run_case "verify (64 MiB manifest)" "$tool" verify "$work/hostile-carrier.exe"
run_case "pack --icon (512 x 4 MiB)" "$tool" pack "${args[@]}" --icon "$work/hostile.ico" "$work/in"
run_case "pack 3000 --version-string" "$tool" pack "${args[@]}" "${versions[@]}" "$work/in"
run_case "list (4 million entries)" "$tool" list "$work/hostile-entries.exe"
run_case "verify (4 million entries)" "$tool" verify "$work/hostile-entries.exe"
run_case "list (a million alike)" "$tool" list "$work/hostile-names.exe"
run_case "verify (a million alike)" "$tool" verify "$work/hostile-names.exe"
run_case "verify --json (a million)" "$tool" verify --json "$work/hostile-names.exe"
