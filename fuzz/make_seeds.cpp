// Writes the fuzz targets' seed corpora: small real carriers and chunks made
// with the project's encoder and the tests' stub and carrier builders, and
// hand-made edge cases.
//
//   build/host/fuzz/fuzz_make_seeds fuzz/corpus [build/windows/launcher.exe]
//
// Given the launcher, the layout reader's seeds include it, bare, packed
// and signed. Seeds are rewritten in place; other files (crash inputs) are
// left alone. The output is deterministic, so a rerun with the same launcher
// leaves git with nothing to commit.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/carrier_integrity.h"
#include "tests/support/carrier_builder.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_data.h"
#include "tests/support/test_files.h"
#include "tools/packing/chunk_encoder.h"
#include "tests/support/test_icons.h"
#include "tools/resources/resource_request.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kStub = 64;  // keeps carrier seeds at a few KB
constexpr size_t kPeStub = 576;  // minimal_pe_stub's headers and 64 bytes of code

std::string g_root;
int g_written = 0;

void seed(const std::string& target, const std::string& name, const Bytes& bytes) {
    const std::string folder = g_root + "/" + target;
    std::filesystem::create_directories(folder);
    write_file(folder + "/" + name, bytes);
    ++g_written;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// --- decode_chunk: flags, u16 capacity, [ring], chunks (see the target).

Bytes chunk_input(uint8_t flags, uint32_t cap, const Bytes& ring, const std::vector<Bytes>& chunks) {
    Bytes out{flags, uint8_t(cap), uint8_t(cap >> 8)};
    if (flags & 1) out = concat(out, ring);
    for (size_t i = 0; i < chunks.size(); ++i) {
        if (i + 1 < chunks.size()) {
            out.push_back(uint8_t(chunks[i].size()));
            out.push_back(uint8_t(chunks[i].size() >> 8));
        }
        out = concat(out, chunks[i]);
    }
    return out;
}

// One file's chunk bodies, each decoding with the ring its predecessors left.
std::vector<Bytes> encode_chunks(const Bytes& data, const EncoderOptions& options, size_t most) {
    ChunkEncoder encoder(options);
    std::vector<Bytes> bodies;
    size_t at = 0;
    while (at < data.size() && bodies.size() < most) {
        Bytes body;
        at += encoder.encode_next(&data[at], data.size() - at, body);
        bodies.push_back(body);
    }
    return bodies;
}

void decode_chunk_seeds() {
    const char* t = "decode_chunk";
    const Bytes text = text_like(6000, 21);
    seed(t, "text-one-chunk", chunk_input(0, 8192, {}, encode_chunks(text, EncoderOptions(), 1)));
    EncoderOptions small = EncoderOptions();
    small.max_block = 700;
    seed(t, "text-four-chunks-ring-carried",
         chunk_input(3 << 1, 8192, {}, encode_chunks(text, small, 4)));
    seed(t, "greedy-two-chunks",
         chunk_input(1 << 1, 1024, {}, encode_chunks(text, greedy_encoder_options(), 2)));
    seed(t, "random-full-body",
         chunk_input(0, 8192, {}, encode_chunks(random_bytes(3000, 22), EncoderOptions(), 1)));
    seed(t, "zeros-8192",
         chunk_input(0, 8192, {}, encode_chunks(Bytes(8192, 0), EncoderOptions(), 1)));
    seed(t, "primed-ring-then-text",
         chunk_input(1, 8192, random_bytes(512, 23), encode_chunks(text, small, 1)));
    // 18 bytes out: capacity 18 fits, 17 does not.
    const Bytes eighteen{0xA0, 0x80, 0x3E};  // literal 'A', match(1, 15), end
    seed(t, "capacity-exact", chunk_input(0, 18, {}, {eighteen}));
    seed(t, "capacity-one-short", chunk_input(0, 17, {}, {eighteen}));
    seed(t, "capacity-zero-empty-chunk", chunk_input(0, 0, {}, {{0x00}}));
    seed(t, "empty-body", chunk_input(0, 8192, {}, {{}}));
    seed(t, "literal-runs-off-the-end", chunk_input(0, 8192, {}, {{0x80}}));
    seed(t, "position-on-the-last-bit", chunk_input(0, 8192, {}, {{0x01}}));
    Bytes overflow(2048, 0);
    for (size_t i = 0; i < overflow.size(); i += 2) overflow[i] = 0x7F, overflow[i + 1] = 0xFF;
    seed(t, "decodes-past-8192", chunk_input(0, 8192, {}, {overflow}));
    seed(t, "all-ones", chunk_input(2, 8192, {}, {Bytes(40, 0xFF), Bytes(300, 0xFF)}));
}

// --- carriers, for the run and the walk alike.

void carrier_seed(const std::string& name, const Bytes& bytes) {
    seed("extract_run", name, bytes);
    seed("carrier_walk", name, bytes);
}

Bytes around(const Bytes& archive) { return carrier_around(archive, kStub); }

// --- carrier_layout: programs, packed, signed, with resources.

void layout_seed(const std::string& name, const Bytes& bytes) { seed("carrier_layout", name, bytes); }

void launcher_seeds(const std::string& path) {
    const Bytes launcher = read_file(path);
    if (launcher.empty()) {
        std::fprintf(stderr, "%s: no launcher to seed from\n", path.c_str());
        return;
    }
    const Bytes packed = packed_carrier(launcher, "setup.exe", {{"setup.exe", {1, 2, 3}}, {"a.txt", text_like(200, 41)}});
    layout_seed("launcher", launcher);
    layout_seed("launcher-packed", packed);
    layout_seed("launcher-packed-signed", signed_copy(packed, 40));
}

// Carriers as courier-pack packs them: a PE image, its integrity record,
// the archive; signed, damaged and cut.
void signed_carrier_seeds(const std::vector<ArchiveEntry>& entries) {
    const Bytes stub = minimal_pe_stub(kPeStub);
    const std::vector<ArchiveEntry> some = {entries[0], entries[1], entries[4]};
    const Bytes packed = packed_carrier(stub, "setup.exe", some);
    carrier_seed("pe-record", packed);
    carrier_seed("pe-record-certificate", signed_copy(packed, 40));
    layout_seed("pe-record", packed);
    layout_seed("pe-record-certificate", signed_copy(packed, 40));
    // 5 data directories hold a certificate entry, 4 do not.
    for (uint32_t count : {4u, 5u}) {
        Bytes fewer = signed_copy(packed, 40);
        set_directory_count(fewer, count);
        layout_seed("pe-record-certificate-" + std::to_string(count) + "-directories", fewer);
    }
    layout_seed("pe-no-record", build_carrier(stub, "setup.exe", some));
    carrier_seed("pe-no-record", build_carrier(stub, "setup.exe", some));
    Bytes damaged = packed;
    damaged[kPeStub + kRecordSize + 100] ^= 0x10;
    carrier_seed("pe-record-archive-damaged", damaged);
    Bytes cut = packed;
    cut.resize(cut.size() - 100);
    carrier_seed("pe-record-cut", cut);
    Bytes record_only = stub;
    record_only.insert(record_only.end(), 5, 0);
    record_only[kPeStub + 1] = 'B';
    carrier_seed("pe-record-prefix-only", record_only);
}

// Carriers whose images hold the resources pack adds: an icon, version
// information and a manifest, for the walk's resource reader.
void resource_seeds() {
    const std::filesystem::path icon = std::filesystem::temp_directory_path() / "brisk-seed.ico";
    write_file(icon.string(), ico_file({{16, 4, false}, {16, 32, true}}));
    ResourceRequest request;
    request.icon = icon.string();
    request.file_version = "1.2.3.4";
    request.version_strings = {"CompanyName=Brisk Courier", "FileDescription=seed"};
    request.execution_level = "asInvoker";
    Bytes with_all = minimal_pe_stub(1024);
    std::vector<std::string> problems;
    add_resources(request, &with_all, problems);
    std::filesystem::remove(icon);
    ResourceRequest version_only;
    version_only.product_version = "5.6.0.65535";
    version_only.version_strings = {"ProductVersion=5.6 beta"};
    Bytes with_version = minimal_pe_stub(1024);
    add_resources(version_only, &with_version, problems);
    if (!problems.empty()) std::fprintf(stderr, "resource seeds: %s\n", problems.front().c_str());
    const std::vector<ArchiveEntry> entries = {{"setup.exe", {1, 2, 3}}, {"Setup.exe", {4}}};
    carrier_seed("resources-icon-version-manifest", packed_carrier(with_all, "setup.exe", entries));
    carrier_seed("resources-version", packed_carrier(with_version, "setup.exe", {entries[0]}));
    layout_seed("resources-icon-version-manifest", packed_carrier(with_all, "setup.exe", entries));
    layout_seed("resources-version-signed",
                signed_copy(packed_carrier(with_version, "setup.exe", {entries[0]}), 40));
}

// Carriers whose launch entry is a program with import tables, for the
// reader of the DLLs it loads: mingw's import table, a delay-load table,
// a load configuration and a manifest, an x64 program, one cut short.
void launch_program_seeds() {
    const ProgramImport kernel32{"KERNEL32.dll", {"ExitProcess", "SetDefaultDllDirectories"}},
        version{"VERSION.dll", {"GetFileVersionInfoSizeA"}};
    ProgramShape mingw;
    mingw.imports = {kernel32, {"msvcrt.dll", {"printf"}}, version};
    const Bytes program = program_with_imports(mingw);
    const Bytes stub = minimal_pe_stub(kPeStub);
    carrier_seed("launch-program-imports", packed_carrier(stub, "setup.exe", {{"setup.exe", program}}));
    carrier_seed("launch-program-carries-its-dll",
                 packed_carrier(stub, "setup.exe", {{"version.dll", {1}}, {"setup.exe", program}}));
    ProgramShape every;
    every.imports = {kernel32};
    every.delay_imports = {version, {"dwmapi.dll", {"DwmFlush"}}};
    every.dependent_load_flags = 0x800;
    every.manifest = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                     "<file name=\"version.dll\"/><dependency><dependentAssembly><assemblyIdentity "
                     "name=\"Microsoft.Windows.Common-Controls\"/></dependentAssembly></dependency></assembly>";
    carrier_seed("launch-program-delay-flags-manifest",
                 packed_carrier(stub, "setup.exe", {{"setup.exe", program_with_imports(every)}}));
    ProgramShape x64 = mingw;
    x64.pe32_plus = true;
    carrier_seed("launch-program-x64", packed_carrier(stub, "setup.exe", {{"setup.exe", program_with_imports(x64)}}));
    Bytes cut = program;
    cut.resize(cut.size() - 512 + 30);
    carrier_seed("launch-program-import-table-cut", packed_carrier(stub, "setup.exe", {{"setup.exe", cut}}));
}

void carrier_seeds() {
    const Bytes stub = fake_stub(kStub);
    const std::vector<ArchiveEntry> entries = {
        {"setup.exe", random_bytes(400, 31)},
        {"readme.txt", text_like(2500, 32)},
        {"zeros.bin", Bytes(5000, 0)},
        {"empty.dat", {}},
        {"one.bin", {0x7F}},
    };
    carrier_seed("real-five-entries", build_carrier(stub, "setup.exe", entries));
    carrier_seed("real-greedy-blocks", build_carrier(stub, "readme.txt",
                                                     {entries[1], entries[2]},
                                                     greedy_encoder_options()));
    carrier_seed("real-duplicate-names",
                 build_carrier(stub, "d", {{"d", {1}}, {"D", {2}}, {"d", {3, 3}}}));
    carrier_seed("empty-archive", build_carrier(stub, "setup.exe", {}));
    carrier_seed("empty-launch-name", build_carrier(stub, "", {{"a", {1, 2}}}));
    carrier_seed("launch-names-no-entry", build_carrier(stub, "missing.exe", {{"a", {1}}}));
    carrier_seed("no-stub-trailer-zero", build_carrier({}, "x", {{"x", {'x'}}}));

    const Bytes body = [] {
        Bytes records;
        const Bytes data = text_like(300, 33);
        append_chunk_records(data.data(), data.size(), EncoderOptions(), records);
        return Bytes(records.begin() + 4, records.end());
    }();
    // Launch name "a.txt", then one entry whose stored size and records are given.
    auto one_entry = [](const std::string& name, uint32_t stored, const Bytes& records) {
        return around(one_entry_archive("a.txt", name, stored, records));
    };
    carrier_seed("zero-length-record-ends-entry", one_entry("early", 5000, chunk_record({})));
    carrier_seed("stored-size-zero", one_entry("zero", 0, {}));
    carrier_seed("stored-size-zero-with-records", one_entry("z", 0, chunk_record(body)));
    carrier_seed("stored-size-all-ones", one_entry("big", 0xFFFFFFFFu, chunk_record(body)));
    carrier_seed("stored-size-short", one_entry("short", 3, chunk_record(body)));
    carrier_seed("record-length-2049",
                 one_entry("long", 2053, concat(Bytes{0x01, 0x08, 0, 0}, Bytes(2049, 0))));
    Bytes overflow(2048, 0);
    for (size_t i = 0; i < overflow.size(); i += 2) overflow[i] = 0x7F, overflow[i + 1] = 0xFF;
    carrier_seed("chunk-decodes-past-8192", one_entry("bad", 2052, chunk_record(overflow)));
    {
        Bytes cut = one_entry("cut", uint32_t(body.size() + 4), chunk_record(body));
        cut.resize(kStub + 20);
        append_u32(cut, uint32_t(kStub));
        carrier_seed("body-cut-short", cut);
    }
    {
        Bytes archive;
        append_name(archive, "a");
        append_name(archive, "a");
        append_u32(archive, uint32_t(body.size() + 4));
        archive = concat(archive, chunk_record(body));  // no end marker
        carrier_seed("no-end-marker", around(archive));
    }

    const std::string n259(259, 'n'), n260(260, 'n');
    carrier_seed("name-259", build_carrier(stub, "x", {{n259, {1}}}));
    carrier_seed("name-120", build_carrier(stub, std::string(120, 'l'), {{std::string(120, 'l'), {1}}}));
    carrier_seed("name-260", one_entry(n260, 0, {}));
    carrier_seed("launch-name-260", around(one_entry_archive(n260, "a", 0, {})));

    const Bytes small = build_carrier(stub, "a", {{"a", {1, 2, 3}}});
    const Bytes head(small.begin(), small.end() - 4);  // stub and archive
    carrier_seed("trailer-past-end", with_trailer(head, 100000));
    carrier_seed("trailer-at-itself", with_trailer(head, uint32_t(head.size())));
    carrier_seed("trailer-2-pow-31", with_trailer(head, 0x80000000u));
    carrier_seed("trailer-all-ones", with_trailer(head, 0xFFFFFFFFu));
    carrier_seed("three-bytes", {'M', 'Z', 0});
    carrier_seed("empty-file", {});

    signed_carrier_seeds(entries);

    int i = 0;
    for (const char* name : {"..\\x", "..\\..\\..\\x", "\\abs.txt", "/abs.txt", "C:x",
                             "a\\..\\..\\b", "sub\\f.txt", "..", "..a..b"})
        carrier_seed("unsafe-name-" + std::to_string(i++), build_carrier(stub, "ok", {{name, {1, 2}}}));
    carrier_seed("unsafe-launch-name", build_carrier(stub, "..\\..\\evil.exe", {{"a", {1}}}));

    // Names Windows takes for one file: letter case, a trailing dot or
    // space, and code page 1252's letters.
    carrier_seed("same-file-names",
                 build_carrier(stub, "setup.exe", {{"setup.exe", {1}}, {"a.txt", {2}}, {"SETUP.EXE", {3}},
                                                   {"A.TXT.", {4}}, {"a.txt ", {5}}}));
    carrier_seed("same-file-code-page-1252",
                 build_carrier(stub, "x", {{"x", {1}}, {"\xE9t\xE9", {2}}, {"\xC9T\xC9", {3}}, {"\xFF", {4}}, {"\x9F", {5}}}));
    resource_seeds();
    launch_program_seeds();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s <corpus folder> [launcher.exe]\n", argv[0]);
        return 2;
    }
    g_root = argv[1];
    decode_chunk_seeds();
    carrier_seeds();
    if (argc == 3) launcher_seeds(argv[2]);
    std::printf("%d seeds written under %s\n", g_written, g_root.c_str());
    return 0;
}
