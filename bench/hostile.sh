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
#              name (241 MB), each a warning or two; listed, verified and
#              extracted (one file)
#   imports    1000 carriers whose launch programs have fuzzed import tables
#              (loops, names 10,000 bytes long, cut short, RVAs outside every
#              section, counts of 65535), each packed and verified; and one
#              launch program of 256 MiB whose import table is at its end
# Each is run RUNS times; the median is given. A run is stopped after
# BRISK_HOSTILE_LIMIT seconds (120 unless set), shown as "> 120".
#
#   bench/hostile.sh [RUNS] [COURIER_PACK]   RUNS defaults to 3; the tool to
#                                            build/bench/courier-pack
# BRISK_HOSTILE_ONLY=imports runs only the import-table cases; =entries only
# the million-entry carriers.
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

only=${BRISK_HOSTILE_ONLY:-}
want() { [ -z "$only" ] || [ "$only" = "$1" ]; }  # want all: no case named

python3 - "$work" "$only" <<'PY'
import struct, sys
work, only = sys.argv[1], sys.argv[2]

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

if not only: open(f'{work}/hostile.manifest', 'wb').write(manifest(16 << 20))

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

if not only:
    open(f'{work}/hostile-carrier.exe', 'wb').write(program_with_manifest(manifest((64 << 20) - 4096)))

    # 512 entries, each pointing at one 4 MiB image after the directory.
    count, image = 512, 4 << 20
    ico = struct.pack('<HHH', 0, 1, count)
    for i in range(count):
        ico += struct.pack('<BBBBHHII', 0, 0, 0, 0, 1, 32, image, 6 + 16 * count)
    ico += struct.pack('<IiiHHIIiiII', 40, 256, 512, 1, 32, 0, 0, 0, 0, 0, 0)
    open(f'{work}/hostile.ico', 'wb').write(ico + bytes(image - 40))

if only in ('', 'entries'):
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
if only == 'entries': sys.exit(0)

# Launch programs: a PE32 image with .rdata (names, thunks, a delay-load
# table, a load configuration, a manifest), an optional big section, then
# .idata (the import descriptors), mapped `mappings` times. As a DLL, its
# exports are `forwarders` ("lib3.f"), the count `exports` says.
def launch_program(dlls, big=0, mappings=1, as_dll=False, forwarders=(), exports=None):
    headers, align, page = 0x1000, 0x200, 0x1000
    rdata = bytearray()
    base = page
    def at(): return base + len(rdata)
    def pad(n):
        while len(rdata) % n: rdata.append(0)
    def string(t):
        a = at(); rdata.extend(t + b'\0'); pad(2); return a
    def thunks(names):
        hints = []
        for n in names:
            hints.append(at()); rdata.extend(b'\0\0'); string(n)
        pad(8); a = at()
        for h in hints: rdata.extend(struct.pack('<I', h))
        rdata.extend(bytes(4)); return a
    descriptors = []
    for dll, functions in dlls:
        ilt, iat = thunks(functions), thunks(functions)
        descriptors.append((ilt, string(dll), iat))
    delay = []
    for dll in (b'dwmapi.dll', b'uxtheme.dll'):
        name, handle = string(dll), at(); rdata.extend(bytes(8))
        delay.append(struct.pack('<8I', 1, name, handle, thunks([b'F']), thunks([b'F']), 0, 0, 0))
    pad(8); delay_rva = at(); rdata.extend(b''.join(delay) + bytes(32))
    pad(8); config_rva = at(); rdata.extend(struct.pack('<I', 64) + bytes(50) + struct.pack('<H', 0x800) + bytes(8))
    text = b'<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0"><file name="a.dll"/></assembly>'
    pad(8); res = at()
    rdata.extend(struct.pack('<IIHHHH', 0, 0, 0, 0, 0, 1) + struct.pack('<II', 24, 0x80000000 | 24))
    rdata.extend(struct.pack('<IIHHHH', 0, 0, 0, 0, 0, 1) + struct.pack('<II', 1, 0x80000000 | 48))
    rdata.extend(struct.pack('<IIHHHH', 0, 0, 0, 0, 0, 1) + struct.pack('<II', 0x409, 72))
    rdata.extend(struct.pack('<IIII', res + 88, len(text), 0, 0) + text)
    export_rva = export_size = 0
    if as_dll:
        pad(8); export_rva = at(); rdata.extend(bytes(40))
        texts = [string(f) for f in forwarders]
        pad(4); table_rva = at()
        for t in texts: rdata.extend(struct.pack('<I', t))
        d = export_rva - base
        struct.pack_into('<I', rdata, d + 20, len(texts) if exports is None else exports)
        struct.pack_into('<I', rdata, d + 28, table_rva)
        export_size = at() - export_rva
    big_rva = base + (len(rdata) + page - 1) // page * page
    idata_rva = big_rva + (big + page - 1) // page * page
    table = b''.join(struct.pack('<5I', ilt, 0, 0, name, iat) for ilt, name, iat in descriptors)
    table = table * (1024 if mappings > 1 else 1) + (b'' if mappings > 1 else bytes(20))
    sections = [(b'.rdata', bytes(rdata), base, 1)]
    if big: sections.append((b'.big', None, big_rva, 1))
    sections.append((b'.idata', table, idata_rva, mappings))
    image = bytearray(headers)
    image[0:2] = b'MZ'
    struct.pack_into('<I', image, 0x3C, 0x40)
    image[0x40:0x44] = b'PE\0\0'
    count = sum(m for _, _, _, m in sections)
    struct.pack_into('<HHIIIHH', image, 0x44, 0x14C, count, 0, 0, 0, 224, 0x2102 if as_dll else 0x0102)
    o = 0x58
    struct.pack_into('<H', image, o, 0x10B)
    struct.pack_into('<I', image, o + 16, page)
    struct.pack_into('<I', image, o + 28, 0x400000)
    struct.pack_into('<II', image, o + 32, page, align)
    span = lambda data: (len(data) + page - 1) // page * page
    end = idata_rva + span(table) * mappings
    struct.pack_into('<I', image, o + 56, end)
    struct.pack_into('<I', image, o + 60, headers)
    struct.pack_into('<H', image, o + 68, 2)
    struct.pack_into('<I', image, o + 92, 16)
    for index, rva, size in ((0, export_rva, export_size), (1, idata_rva, len(table)), (2, res, 100),
                             (10, config_rva, 64), (13, delay_rva, 96)):
        struct.pack_into('<II', image, o + 96 + 8 * index, rva, size)
    raw, s = headers, o + 224
    places = {'resources': headers + res - base, 'idata_rva': idata_rva}
    body = bytearray()
    for name, data, rva, m in sections:
        size = big if data is None else len(data)
        rawsize = (size + align - 1) // align * align
        for k in range(m):
            image[s:s + 8] = name.ljust(8, b'\0')
            struct.pack_into('<IIII', image, s + 8, size, rva + k * ((size + page - 1) // page * page), rawsize, raw)
            struct.pack_into('<I', image, s + 36, 0x40000040)
            s += 40
        if name == b'.idata': places['idata'] = raw
        body.extend(bytes(rawsize) if data is None else data + bytes(rawsize - size))
        raw += rawsize
    return bytearray(image + body), places

import os, random
dlls = [(b'KERNEL32.dll', [b'ExitProcess', b'SetDefaultDllDirectories']), (b'VERSION.dll', [b'GetFileVersionInfoSizeA']),
        (b'msvcrt.dll', [b'printf'])] + [(b'lib%d.dll' % i, [b'f']) for i in range(20)]
os.makedirs(f'{work}/imports', exist_ok=True)
for i in range(1000):
    rng = random.Random(i)
    kind = i % 8
    use = list(dlls)
    if kind == 1: use[1] = (b'A' * 10000 + b'.dll', [b'f'])
    program, places = launch_program(use, mappings=90 if kind in (2, 7) else 1)
    for _ in range(rng.randrange(1, 12)):
        # The directories, the section table and the tables, changed at random.
        at = rng.choice([rng.randrange(0xB8, 0x200), rng.randrange(0x1000, len(program))])
        program[at] = rng.randrange(256)
    if kind == 3: program = program[:rng.randrange(0x1000, len(program))]
    if kind == 4: struct.pack_into('<II', program, 0x58 + 96 + 8, rng.randrange(1 << 32), 0xFFFFFFFF)
    if kind == 5:
        for level in (0, 24, 48): struct.pack_into('<HH', program, places['resources'] + level + 12, 0xFFFF, 0xFFFF)
    if kind == 6: struct.pack_into('<H', program, 0x46, 0xFFFF)
    if kind == 7: struct.pack_into('<I', program, places['idata'], places['idata_rva'])  # kernel32's names: the table
    folder = f'{work}/imports/{i:04}'
    os.makedirs(folder, exist_ok=True)
    open(f'{folder}/setup.exe', 'wb').write(program)
    # The 20 DLLs it imports, carried: each imports two others (loops),
    # and forwards to the rest; one forwards 4096 exports, one claims
    # 2^32 - 1 of them; their bytes changed at random as the program's.
    for j in range(20):
        imports = [(b'KERNEL32.dll', [b'ExitProcess']), (b'lib%d.dll' % ((j + 1) % 20), [b'f']),
                   (b'lib%d.dll' % ((j + 7) % 20), [b'f']), (b'VERSION.dll', [b'GetFileVersionInfoSizeA'])]
        many = 4096 if j == 0 else 16
        forwarders = [b'lib%d.f%d' % ((j + k) % 20, k) for k in range(many)]
        library, _ = launch_program(imports, mappings=90 if j == 2 else 1, as_dll=True, forwarders=forwarders,
                                    exports=0xFFFFFFFF if j == 1 else None)
        for _ in range(rng.randrange(0, 6)):
            at = rng.choice([rng.randrange(0xB8, 0x200), rng.randrange(0x1000, len(library))])
            library[at] = rng.randrange(256)
        open(f'{folder}/lib{j}.dll', 'wb').write(library)

# 256 MiB: the tables read last lie at the end, past the big section.
os.makedirs(f'{work}/imports-big', exist_ok=True)
open(f'{work}/imports-big/setup.exe', 'wb').write(launch_program(dlls, big=256 << 20)[0])
for j in range(20):
    library, _ = launch_program([(b'KERNEL32.dll', [b'ExitProcess']), (b'lib%d.dll' % ((j + 1) % 20), [b'f'])],
                                as_dll=True, forwarders=[b'lib%d.f' % ((j + 3) % 20)])
    open(f'{work}/imports-big/lib{j}.dll', 'wb').write(library)
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
if want all; then
run_case "pack --manifest (16 MiB)" "$tool" pack "${args[@]}" --manifest "$work/hostile.manifest" "$work/in"
run_case "list (64 MiB manifest)" "$tool" list "$work/hostile-carrier.exe"
run_case "verify (64 MiB manifest)" "$tool" verify "$work/hostile-carrier.exe"
run_case "pack --icon (512 x 4 MiB)" "$tool" pack "${args[@]}" --icon "$work/hostile.ico" "$work/in"
run_case "pack 3000 --version-string" "$tool" pack "${args[@]}" "${versions[@]}" "$work/in"
fi
if want entries; then
run_case "list (4 million entries)" "$tool" list "$work/hostile-entries.exe"
run_case "verify (4 million entries)" "$tool" verify "$work/hostile-entries.exe"
run_case "list (a million alike)" "$tool" list "$work/hostile-names.exe"
run_case "verify (a million alike)" "$tool" verify "$work/hostile-names.exe"
run_case "list --json (a million)" "$tool" list --json "$work/hostile-names.exe"
run_case "verify --json (a million)" "$tool" verify --json "$work/hostile-names.exe"
run_case "extract (a million alike)" "$tool" extract -q -C "$work/extracted" "$work/hostile-names.exe"
fi
[ "$only" = entries ] && exit 0

# Each of the 1000 programs packed, then each carrier verified: one run is
# the 1000 calls, its memory the most any one of them held.
stub_given=
[ -f "$stub" ] && stub_given=$stub
programs=("$work"/imports/*/)
for d in "${programs[@]}"; do
    [ -f "${d%/}.exe" ] || "$tool" pack -q -o "${d%/}.exe" ${stub_given:+--stub "$stub_given"} \
        --launch setup.exe "$d" 2>/dev/null || true
done
run_case "pack (1000 import tables)" bash -c 'tool=$1 out=$2 stub=$3; shift 3
    for d; do "$tool" pack -q -o "$out" ${stub:+--stub "$stub"} --launch setup.exe "$d" >/dev/null 2>&1; done
    true' _ "$tool" "$work/out.exe" "$stub_given" "${programs[@]}"
run_case "verify (1000 import tables)" bash -c 'tool=$1; shift
    for d; do "$tool" verify "${d%/}.exe" >/dev/null 2>&1; done
    true' _ "$tool" "${programs[@]}"
[ -f "$work/imports-big.exe" ] || "$tool" pack -q -o "$work/imports-big.exe" ${stub_given:+--stub "$stub_given"} \
    --launch setup.exe "$work/imports-big"
run_case "verify (256 MiB launch program)" "$tool" verify "$work/imports-big.exe"
