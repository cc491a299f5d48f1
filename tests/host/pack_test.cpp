// courier-pack run as a program: round trips through pack, verify, extract
// and the launcher's own run; refused inputs; list's table; damaged carriers.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive/carrier_integrity.h"
#include "archive/format_rules.h"
#include "test_support.h"
#include "tests/support/program_builder.h"
#include "tests/support/test_icons.h"
#include "tools/dlls/dll_exposure.h"
#include "tools/dlls/image_bytes.h"
#include "tools/dlls/known_dlls.h"
#include "tools/model/carrier.h"

namespace fs = std::filesystem;
using Json = nlohmann::json;

namespace {

std::string text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

size_t stored_size(const std::vector<uint8_t>& data, const EncoderOptions& options = {}) {
    std::vector<uint8_t> records;
    return append_chunk_records(data.data(), data.size(), options, records);
}

// C0 controls but the line end, DEL, and C1 controls in UTF-8 (C2 80 to C2 9F):
// what a terminal acts on, never to be sent to it from a carrier or a name.
bool raw_control(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c < 0x20 && c != '\n') || c == 0x7F) return true;
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0 &&
            static_cast<unsigned char>(text[i + 1]) >= 0x80)
            return true;
    }
    return false;
}

// File offset of the resource section pack adds (".rsrc"), 0 when none. With
// one resource its directories are 24 bytes each: the name's entry at 40,
// the data entry's RVA and size at 72 and 76.
size_t resource_section(const std::vector<uint8_t>& carrier) {
    const std::string bytes(carrier.begin(), carrier.end());
    const size_t header = bytes.find(std::string(".rsrc\0\0\0", 8));
    if (header == std::string::npos) return 0;
    const uint8_t* raw = &carrier[header + 20];
    return raw[0] | raw[1] << 8 | raw[2] << 16 | size_t(raw[3]) << 24;
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Rewrites the first byte of `path` in place, its size kept, as each of
// `packs` packs starts reading it: a copy torn between two versions, unless
// the pack notices. With `mtime_back`, its modification time is then put
// back, as copying tools do: only the change time still moves. Gives the
// writer's process, to be waited for.
pid_t rewrite_while_read(const std::string& path, int packs, bool mtime_back = false) {
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    struct stat before {};
    fstat(fd, &before);
    const timespec times[2] = {{0, UTIME_OMIT}, before.st_mtim};
    const int events = inotify_init1(IN_CLOEXEC);
    inotify_add_watch(events, path.c_str(), IN_ACCESS | IN_CLOSE_NOWRITE);
    const pid_t pid = fork();
    if (pid == 0) {
        bool written = false;
        alignas(inotify_event) char buffer[4096];
        for (int done = 0; done < packs;) {
            const ssize_t n = read(events, buffer, sizeof buffer);
            if (n <= 0) _exit(1);
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if ((event->mask & IN_ACCESS) && !written) {
                    written = pwrite(fd, "\x01", 1, 0) == 1;
                    if (mtime_back) futimens(fd, times);
                }
                if ((event->mask & IN_CLOSE_NOWRITE) && written) {  // that pack is done with it
                    written = false;
                    ++done;
                }
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        _exit(0);
    }
    close(fd);
    close(events);
    return pid;
}

class Courier : public ::testing::Test {
protected:
    Courier() { write_file(stub(), minimal_pe_stub()); }

    std::string stub() const { return dir / "stub.exe"; }

    // The launcher the tool was built with, as it embedded it; nothing when
    // it was built without one.
    static std::vector<uint8_t> release() {
        return file_exists(RELEASE_LAUNCHER_COPY) ? read_file(RELEASE_LAUNCHER_COPY) : std::vector<uint8_t>();
    }
    // A stub verify --strict passes: that launcher, or the test stub when
    // the tool has none (it then cannot tell).
    std::string strict_stub() const {
        if (release().empty()) return stub();
        write_file(dir / "release.exe", release());
        return dir / "release.exe";
    }

    ToolResult run(const std::vector<std::string>& args, const std::string& program = COURIER_PACK_PATH) {
        return run_tool(program, args, dir);
    }

    // Writes files into a fresh folder dir/name and returns its path.
    std::string folder(const std::string& name, const std::vector<ArchiveEntry>& files) {
        fs::create_directories(dir / name);
        for (const ArchiveEntry& f : files) write_file(dir / name + "/" + f.name, f.data);
        return dir / name;
    }

    bool temp_left() const {
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            if (e.path().filename().string().find(".tmp-") != std::string::npos) return true;
        return false;
    }

    ScratchDir dir;
};

TEST_F(Courier, RoundTripsMatchTheLibraryAndTheLauncher) {
    struct Case {
        const char* what;
        std::vector<ArchiveEntry> files;
        bool as_folder;
        const char* launch = nullptr;  // the first entry's name when null
    };
    // Incompressible: chunk ends fall anywhere, so one straddles the 1 MiB read.
    std::vector<uint8_t> past_read_block = random_bytes((1 << 20) + 3000, 9);
    // A 1024-byte block whose last 17 bytes repeat those at offset 511, which
    // the decoder holds in ring slot 0: a match from there, last in its
    // chunk, would read as the chunk's end.
    std::vector<uint8_t> slot_zero_at_end = random_bytes(1024, 12);
    std::copy_n(slot_zero_at_end.begin() + 511, 17, slot_zero_at_end.end() - 17);
    // Chunk ends fall anywhere in the head, then every chunk takes 8192
    // bytes: one near the end of the 1 MiB read needs the next read first.
    std::vector<uint8_t> late = random_bytes(4000, 13);
    const auto block = random_bytes(300, 14);
    while (late.size() < (1 << 20) + 40000) late.insert(late.end(), block.begin(), block.end());
    auto many_files = [](int count) {
        std::vector<ArchiveEntry> files;
        for (int i = 0; i < count; ++i) files.push_back({"f" + std::to_string(100 + i), {uint8_t(i)}});
        return files;
    };
    const Case cases[] = {
        {"empty", {{"empty.dat", {}}}, false},
        {"one byte", {{"one.bin", {0x7F}}}, false},
        {"incompressible", {{"noise.bin", random_bytes(70000, 1)}}, false},
        {"zeros", {{"zeros.bin", std::vector<uint8_t>(200000, 0)}}, false},
        {"text", {{"readme.txt", text_like(50000, 2)}}, false},
        {"several files", {{"setup.exe", random_bytes(9000, 3)}, {"a.txt", text_like(20000, 4)}, {"z", {}}}, false},
        {"folder, sorted by name", {{"b.txt", text_like(3000, 5)}, {"A.txt", {1, 2}}, {"c", {}}}, true},
        {"over a megabyte", {{"big.bin", past_read_block}}, false},
        {"last match from ring slot 0", {{"slot0.bin", slot_zero_at_end}}, false},
        {"empty launch name: the folder opens", {{"a.txt", text_like(100, 6)}}, false, ""},
        {"compressible behind an incompressible head", {{"late.bin", late}}, false},
        {"three segments, and files beside", {{"big.txt", text_like((4 << 20) + 5000, 15)}, {"b", {3}}}, false},
        // An 8.3 name has no short name of its own; the others' numbers,
        // hashes and extensions are none Windows or Wine would give.
        {"more files than extract holds at once", many_files(40), true},
        {"names like short names, of no other entry", {{"setup.exe", {1}}, {"SETUP~1.EXE", {2}},
                                                       {"helper-library.dll", {3}}, {"HELPER~1.DL", {4}},
                                                       {"HELPER~1", {5}}, {"HELPEX~1.DLL", {6}},
                                                       {"HELP~1Z9.DLL", {7}}, {"HE1A2G~1.DLL", {8}},
                                                       {"a b.dll", {9}}, {"AB1~1.DLL", {10}}},
         false},
    };
    int n = 0;
    for (const Case& c : cases) {
        for (bool greedy : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (greedy ? ", greedy" : ""));
            const std::string tag = std::to_string(n++);
            const std::string in = folder("in" + tag, c.files);
            std::vector<ArchiveEntry> entries = c.files;
            // The launch name is matched without letter case, as Windows does.
            std::string launch = c.launch ? c.launch : entries[0].name;
            std::transform(launch.begin(), launch.end(), launch.begin(), ::toupper);
            std::vector<std::string> args = {"pack", "-o", dir / ("c" + tag + ".exe"), "--launch",
                                             launch, "--stub", stub()};
            if (greedy) args.push_back("--greedy");
            args.insert(args.begin() + 1, {"-j", "3"});
            if (c.as_folder) {
                args.push_back(in);
                std::sort(entries.begin(), entries.end(),
                          [](const ArchiveEntry& a, const ArchiveEntry& b) { return a.name < b.name; });
            } else {
                for (const ArchiveEntry& f : c.files) args.push_back(in + "/" + f.name);
            }
            ToolResult r = run(args);
            ASSERT_EQ(r.code, 0) << r.err;
            const auto carrier = read_file(dir / ("c" + tag + ".exe"));
            EXPECT_EQ(carrier, packed_carrier(minimal_pe_stub(), launch, entries,
                                              greedy ? greedy_encoder_options() : EncoderOptions()));

            args[2] = "1";
            r = run(args);  // again on one thread, over the first: the same bytes
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(read_file(dir / ("c" + tag + ".exe")), carrier);

            r = run({"verify", dir / ("c" + tag + ".exe")});
            EXPECT_EQ(r.code, 0) << r.err;

            const std::string out = dir / ("x" + tag);
            r = run({"extract", dir / ("c" + tag + ".exe"), "-C", out});
            EXPECT_EQ(r.code, 0) << r.err;
            size_t written = 0;
            for (const auto& e : fs::directory_iterator(out)) written += e.is_regular_file();
            EXPECT_EQ(written, entries.size());
            for (const ArchiveEntry& f : entries) EXPECT_EQ(read_file(out + "/" + f.name), f.data) << f.name;

            RunSetup launcher;
            EXPECT_EQ(launcher.run(carrier), 1);
            for (const ArchiveEntry& f : entries) EXPECT_EQ(read_file(launcher.out(f.name)), f.data) << f.name;
        }
    }
}

TEST_F(Courier, RefusedInputsWriteNothing) {
    struct Case {
        const char* what;
        std::function<std::vector<std::string>(const std::string& in)> setup;  // gives pack's inputs and options
        int code;
        const char* message;
    };
    auto files = [this](std::vector<std::string> names) {
        return [this, names](const std::string& in) {
            fs::create_directories(in);
            for (const std::string& name : names) write_file(in + "/" + name, {'x'});
            return std::vector<std::string>{"--stub", stub(), "--launch", names[0], in};
        };
    };
    auto with_stub = [this](std::vector<uint8_t> stub_bytes) {
        return [this, stub_bytes](const std::string& in) {
            write_file(in + ".stub", stub_bytes);
            fs::create_directories(in);
            write_file(in + "/a", {1});
            return std::vector<std::string>{"--launch", "a", "--stub", in + ".stub", in};
        };
    };
    std::vector<pid_t> writers;  // of files rewritten while read
    auto sub_folder = [files](const std::string& in) {  // a folder holding one
        fs::create_directories(in + "/sub");
        return files({"a"})(in);
    };
    const std::string cut_name = "=" + std::string(232, 'n') + ".txt as an input";  // its extension kept
    // A list of `times` lines, each `line`, after the folder of files({"a"}).
    auto with_list = [files](std::string line, int times) {
        return [=](const std::string& in) {
            auto args = files({"a"})(in);
            std::string list;
            for (int i = 0; i < times; ++i) list += line + "\n";
            write_file(in + ".list", bytes(list));
            args.insert(args.end(), {"--files-from", in + ".list"});
            return args;
        };
    };
    std::vector<Case> cases = {
        {"launch name is no entry",
         [&](const std::string& in) {
             auto args = files({"a.txt", "b.txt"})(in);
             args[3] = "c.txt";
             return args;
         },
         1, "--launch 'c.txt': no entry has that name"},
        {"backslash", files({"a\\b"}), 1, "path separator"},
        {"control character", files({"tab\there"}), 1, "byte 0x09 is not printable ASCII"},
        {"non-ASCII", files({"caf\xC3\xA9"}), 1, "byte 0xC3 is not printable ASCII"},
        // Each refused name comes with the input that renames it.
        {"non-ASCII: the input that renames it", files({"donn\xC3\xA9""es-licence.txt"}), 1,
         "/donn\xC3\xA9""es-licence.txt=donnees-licence.txt' as an input"},
        {"a device name: the input that renames it", files({"con.txt"}), 1, "/con.txt=_con.txt as an input"},
        {"too long: the input that renames it", files({std::string(237, 'n') + ".txt"}), 1, cut_name.c_str()},
        {"PATH=NAME: the input that renames it", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.back() = in + "/a=b|c";
             return args;
         }, 1, "/a=b_c instead"},
        {"last control character", files({"a\x1F"}), 1, "byte 0x1F is not printable ASCII"},
        {"DEL", files({"a\x7F"}), 1, "byte 0x7F is not printable ASCII"},
        {"C1 control", files({"a\xC2\x9B"}), 1, "byte 0xC2 is not printable ASCII"},
        {"dots and spaces only", files({". ."}), 1, "only dots and spaces"},
        {"trailing dot", files({"name."}), 1, "trailing space or dot"},
        {"trailing space", files({"name "}), 1, "trailing space or dot"},
        {"too long for any %TEMP%", files({std::string(237, 'n')}), 1,
         "237 characters: the launcher's 255-character path takes at most 236 even under the "
         "shortest %TEMP%"},
        // The kernel's files change size between the scan and the read:
        // this one is 0 bytes to stat and reads longer.
        {"file grows while packed", [&](const std::string&) {
             return std::vector<std::string>{"--stub", stub(), "--launch", "version",
                                             "/proc/version"};
         }, 1, "0 bytes when scanned, more when read: it changed while being packed"},
        {"file rewritten in place while packed", [&](const std::string& in) {
             // Not the launch file, which pack reads once more for its imports.
             auto args = files({"setup.txt", "a"})(in);
             fs::resize_file(in + "/a", 64 << 20);  // read a segment at a time
             writers.push_back(rewrite_while_read(in + "/a", 2));  // for both runs below
             return args;
         }, 1, "/a: changed while it was read (its modification or change time moved)"},
        {"file rewritten in place, its modification time put back", [&](const std::string& in) {
             auto args = files({"setup.txt", "a"})(in);
             fs::resize_file(in + "/a", 64 << 20);
             writers.push_back(rewrite_while_read(in + "/a", 2, true));
             return args;
         }, 1, "/a: changed while it was read (its modification or change time moved)"},
        {"same name twice", [&](const std::string& in) {
             auto args = files({"a.txt"})(in);
             args.push_back(in + "/a.txt");
             return args;
         }, 1, "'a.txt' is also the name of"},
        {"names differing in case", files({"Setup.exe", "SETUP.EXE"}), 1, "differs only in letter case"},
        // Short (8.3) names Windows may give another entry's file.
        {"the short name of another entry", files({"helper-library.dll", "HELPER~1.DLL"}), 1,
         "/HELPER~1.DLL: entry name 'HELPER~1.DLL' may be the short (8.3) name Windows gives "
         "'helper-library.dll' ("},
        {"Wine's short name of another entry", files({"helper-library.dll", "HELP~1ZK.DLL"}), 1,
         "'HELP~1ZK.DLL' may be the short (8.3) name Windows gives 'helper-library.dll'"},
        {"a hashed short name, in lower case", files({"helper-library.dll", "he1a2b~1.dll"}), 1,
         "'he1a2b~1.dll' may be the short"},
        {"a short name past ~9, its base cut to 5", files({"helper-library.dll", "HELPE~10.DLL"}), 1,
         "'HELPE~10.DLL' may be the short"},
        {"a short name with '+' as '_'", files({"ver +1.2.text", "VER_12~1.TEX"}), 1,
         "'VER_12~1.TEX' may be the short (8.3) name Windows gives 'ver +1.2.text'"},
        {"a short name with '+' dropped", files({"ver +1.2.text", "VER12~1.TEX"}), 1,
         "'VER12~1.TEX' may be the short"},
        // Every character Windows maps, all as '_', then all dropped; every
        // one Wine maps that a name may hold.
        {"a short name with + , ; = [ ] as '_'", files({"+,;=[].txt", "______~1.TXT"}), 1,
         "'______~1.TXT' may be the short (8.3) name Windows gives '+,;=[].txt'"},
        {"a short name with + , ; = [ ] dropped", files({"a+,;=[]b.txt", "AB~1.TXT"}), 1,
         "'AB~1.TXT' may be the short (8.3) name Windows gives 'a+,;=[]b.txt'"},
        {"Wine's short name with + = , ; [ ] ~ as '_'", files({"+=,;x.[]~", "____~AAA.___"}), 1,
         "'____~AAA.___' may be the short (8.3) name Windows gives '+=,;x.[]~'"},
        {"Wine's short name with a space, '~' and a dot as '_'", files({"a ~.b.txt", "A___~AAA.TXT"}), 1,
         "'A___~AAA.TXT' may be the short (8.3) name Windows gives 'a ~.b.txt'"},
        {"sub-folder", sub_folder, 1, "sub-folder"},
        {"sub-folder: what to do", sub_folder, 1, "/sub: sub-folder: the launcher creates no sub-folders; leave it out (--exclude "},
        {"sub-folder: the other ways", sub_folder, 1, "/sub/FILE=FILE), or carry them in one archive (a .zip) that the setup program unpacks"},
        {"--exclude that matches nothing", [&](const std::string& in) {
             auto args = sub_folder(in);
             args.insert(args.end(), {"--exclude", "su"});
             return args;
         }, 1, "/sub: sub-folder"},
        {"missing input", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.push_back(in + "/missing");
             return args;
         }, 1, "missing: no such file or folder"},
        {"4 GiB file", [&](const std::string& in) {
             auto args = files({"a"})(in);
             fs::resize_file(in + "/a", uint64_t(4) << 30);  // sparse: nothing is read
             return args;
         }, 1, "4294967296 bytes: files of 4 GiB or more"},
        {"missing stub", [&](const std::string& in) {
             auto args = with_stub({})(in);
             fs::remove(in + ".stub");
             return args;
         }, 1, ".stub: stub: No such file"},
        {"stub too short", with_stub(pe_header_stub(0x14C, 0x40, 20)), 1, "too small for a DOS header"},
        {"stub without MZ", with_stub(std::vector<uint8_t>(1024, 0)), 1, "no MZ signature"},
        {"PE offset past the stub", with_stub(pe_header_stub(0x14C, 0x10000)), 1, "PE header offset 65536 lies outside"},
        {"PE header cut", with_stub(pe_header_stub(0x14C, 1024 - 20)), 1, "lies outside"},
        {"no PE signature", [&](const std::string& in) {
             auto stub_bytes = pe_header_stub();
             stub_bytes[0x41] = 'X';
             return with_stub(stub_bytes)(in);
         }, 1, "no PE signature at offset 64"},
        {"x64 stub", with_stub(pe_header_stub(0x8664)), 1, "machine 0x8664 is not i386"},
        {"headers the launcher cannot read", with_stub(pe_header_stub()), 1, "the launcher cannot read these headers"},
        {"data after the image", [&](const std::string& in) {
             auto stub_bytes = minimal_pe_stub(1024);
             stub_bytes.resize(1030, 0);
             return with_stub(stub_bytes)(in);
         }, 1, "1030 bytes, but its image ends at offset 1024: data after the image"},
        {"stub with a section whose raw data wraps past 4 GiB", [&](const std::string& in) {
             auto stub_bytes = minimal_pe_stub(1024);
             stub_bytes[0x46] = 2;  // a second section header, after the first
             const uint8_t wraps[] = {0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x04, 0x00, 0x00};  // 0xFFFFFF00 bytes at 0x400
             std::copy_n(wraps, 8, stub_bytes.begin() + 0x160 + 16);
             return with_stub(stub_bytes)(in);
         }, 1, "the launcher cannot read these headers"},
        {"signed stub", [&](const std::string& in) {
             auto stub_bytes = minimal_pe_stub(1024);
             stub_bytes.resize(1024 + 16, 0);
             set_directory(stub_bytes, PeDirectory::kCertificates, 1024, 16);
             return with_stub(stub_bytes)(in);
         }, 1, "signed (certificate table at offset 1024, 16 bytes)"},
        {"2 GiB stub", [&](const std::string& in) {
             auto args = with_stub(pe_header_stub())(in);
             fs::resize_file(in + ".stub", uint64_t(1) << 31);
             return args;
         }, 1, "the archive must start below 2 GiB"},
        {"PATH=NAME, a name the launcher refuses", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.back() = in + "/a=b|c";
             return args;
         }, 1, "/a: entry name 'b|c': '|' is not allowed"},
        {"PATH=NAME of a folder", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.back() = in + "=a";
             return args;
         }, 1, " is a folder: PATH=NAME names one file"},
        {"PATH=NAME of no file", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.back() = in + "/missing=a";
             return args;
         }, 1, "/missing: no such file or folder"},
        {"--files-from, no such list", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.insert(args.end(), {"--files-from", in + ".list"});
             return args;
         }, 1, ".list: cannot open the list of inputs: No such file"},
        {"--files-from, an endless line", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.insert(args.end(), {"--files-from", "/dev/zero"});
             return args;
         }, 1, "/dev/zero: line 1 is longer than 128 KiB"},
        // 128 KiB lines, but not one too long.
        {"--files-from, more than 64 MiB", with_list(std::string(131000, 'x'), 520), 1,
         ".list: more than 64 MiB or 1000000 inputs"},
        {"--files-from, more than a million inputs", with_list("x", 1000001), 1,
         ".list: more than 64 MiB or 1000000 inputs"},
        {"--depfile, a name that would run a command from make", [&](const std::string& in) {
             auto args = files({"setup.exe;touch${IFS}PWNED"})(in);
             args.insert(args.end(), {"--depfile", in + ".d"});
             return args;
         }, 1, "in a dependency file: make would run what follows its ';' as a command"},
        {"--files-from, an empty list", [&](const std::string& in) {
             write_file(in + ".list", bytes("\n"));
             return std::vector<std::string>{"--stub", stub(), "--launch", "a", "--files-from", in + ".list"};
         }, 1, ".list lists none"},
        {"--files-from, a name the launcher refuses", [&](const std::string& in) {
             auto args = files({"a"})(in);
             write_file(in + ".list", bytes(in + "/a=CON\n"));
             args.insert(args.end(), {"--files-from", in + ".list"});
             return args;
         }, 1, "entry name 'CON': "},
        {"empty folder", [&](const std::string& in) {
             fs::create_directories(in);
             return std::vector<std::string>{"--stub", stub(), "--launch", "a", in};
         }, 1, "no files to pack: "},
        {"no inputs", [](const std::string&) { return std::vector<std::string>{"--launch", "a"}; }, 2, "inputs is required"},
        {"no launch name", [&](const std::string& in) { return std::vector<std::string>{in}; }, 2, "--launch is required"},
        {"unknown option", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.push_back("--fast");
             return args;
         }, 2, "--fast"},
        {"-- ends the options", [&](const std::string& in) {
             auto args = files({"a"})(in);
             args.insert(args.end(), {"--", "--fast"});
             return args;
         }, 1, "--fast: no such file or folder"},
    };
    // Resource options; "@" stands for a file holding `content`.
    auto with_resource = [files](std::vector<std::string> options, std::vector<uint8_t> content = {}) {
        return [=](const std::string& in) {
            auto args = files({"a"})(in);
            write_file(in + ".res", content);
            for (const std::string& option : options) args.push_back(option == "@" ? in + ".res" : option);
            return args;
        };
    };
    auto icon = [](std::vector<TestIcon> images, std::function<void(std::vector<uint8_t>&)> change) {
        auto bytes = ico_file(images);
        change(bytes);
        return bytes;
    };
    auto with_stub_change = [&](std::function<void(std::vector<uint8_t>&)> change) {
        return [=](const std::string& in) {
            auto stub_bytes = minimal_pe_stub(1024);
            change(stub_bytes);
            auto args = with_stub(stub_bytes)(in);
            args.insert(args.end(), {"--execution-level", "asInvoker"});
            return args;
        };
    };
    const std::vector<Case> resource_cases = {
        {"0-byte icon", with_resource({"--icon", "@"}), 1, ".res: not an .ico file: 0 bytes"},
        {"icon count past the file", with_resource({"--icon", "@"}, icon({{16, 4, false}}, [](auto& b) {
             b[4] = b[5] = 0xFF;
         })), 1, "icon directory of 65535 images needs 1048566 bytes, the file has 318"},
        {"icon image cut short", with_resource({"--icon", "@"}, icon({{32, 32, false}}, [](auto& b) {
             b.resize(b.size() - 10);
         })), 1, "image 1 (32x32): 4264 bytes at offset 22 lie outside the file's 4276 bytes"},
        {"PNG image that is not a PNG", with_resource({"--icon", "@"}, icon({{16, 4, false}, {16, 32, true}}, [](auto& b) {
             b[b.size() - 30] ^= 1;  // a pixel: the IDAT chunk's CRC fails
         })), 1, "image 2 (16x16): PNG chunk 'IDAT' fails its CRC"},
        {"bitmap cut short", with_resource({"--icon", "@"}, icon({{32, 32, false}}, [](auto& b) {
             b.resize(b.size() - 4);
             b[14] = uint8_t(b[14] - 4);  // the directory agrees: 4260 bytes
         })), 1, "image 1 (32x32): bitmap cut short: 4264 bytes needed, 4260 given"},
        {"icon image inside the directory", with_resource({"--icon", "@"}, icon({{16, 4, false}}, [](auto& b) {
             b[18] = 10;
         })), 1, "image 1 (16x16): starts at offset 10, inside the icon directory, which ends at offset 22"},
        {"icon images that overlap", with_resource({"--icon", "@"}, icon({{16, 4, false}, {16, 4, false}}, [](auto& b) {
             std::copy_n(&b[18], 4, &b[34]);  // image 2 at image 1's offset
         })), 1, "images 1 and 2 overlap"},
        {"icon images past the limit", with_resource({"--icon", "@"}, icon({{16, 4, false}}, [](auto& b) {
             b.resize(22 + (9 << 20));
             b[14] = 0, b[15] = 0, b[16] = 0x90, b[17] = 0;  // 9 MiB at offset 22
         })), 1, "images of 9437184 bytes in all: more than 8 MiB"},
        {"FIFO as the icon", [&](const std::string& in) {
             auto args = with_resource({"--icon", "@"})(in);
             fs::remove(in + ".res");
             mkfifo((in + ".res").c_str(), 0600);
             return args;
         }, 1, ".res: not a regular file"},
        {"version string given three times", with_resource({"--version-string", "K=a", "--version-string", "K=b",
                                                             "--version-string", "K=c"}),
         1, "--version-string K: given twice"},
        {"stub that is no launcher", with_stub_change([](std::vector<uint8_t>& b) {
             std::fill(b.begin() + 0x200, b.begin() + 0x210, 0xCC);  // its folder name
         }), 1, "stub is not a Brisk Courier launcher"},
        {"icon image of another size", with_resource({"--icon", "@"}, icon({{16, 8, false}}, [](auto& b) {
             b[6] = b[7] = 32;
         })), 1, "bitmap of 16x32 where the directory says 32x32"},
        {"image neither PNG nor bitmap", with_resource({"--icon", "@"}, icon({{16, 8, false}}, [](auto& b) {
             b[22] = 'G', b[23] = 'I', b[24] = 'F';
         })), 1, "neither a PNG nor a bitmap"},
        {"missing icon", [&](const std::string& in) {
             auto args = with_resource({"--icon", "@"})(in);
             fs::remove(in + ".res");
             return args;
         }, 1, ".res: No such file"},
        {"file version of three parts", with_resource({"--file-version", "1.2.3"}), 2, "'1.2.3' is not A.B.C.D"},
        {"product version past 65535", with_resource({"--product-version", "1.2.3.65536"}), 2, "is not A.B.C.D"},
        {"version string without a value", with_resource({"--version-string", "CompanyName"}), 2, "'CompanyName' is not KEY=VALUE"},
        {"version string given twice", with_resource({"--version-string", "CompanyName=A", "--version-string", "companyname=B"}),
         1, "--version-string companyname: given twice"},
        {"unknown execution level", with_resource({"--execution-level", "admin"}), 2, "admin not in"},
        {"manifest and execution level", with_resource({"--manifest", "@", "--execution-level", "asInvoker"}), 2, "excludes"},
        {"stub with no room for another section header", with_stub_change([](std::vector<uint8_t>& b) {
             std::fill(b.begin() + 0x160, b.begin() + 0x200, 0x90);  // after the one header
         }), 1, "stub: cannot add the resources: no room for another section header"},
        {"stub with resources of its own", with_stub_change([](std::vector<uint8_t>& b) {
             set_directory(b, PeDirectory::kResources, 0x2000, 0);
         }), 1, "stub: cannot add the resources: the image already has one"},
    };
    cases.insert(cases.end(), resource_cases.begin(), resource_cases.end());
    const char kAssembly[] = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"";
    std::string deep = std::string(kAssembly) + ">";
    for (int i = 0; i < 300; ++i) deep += "<a>";
    std::string deepest = std::string(kAssembly) + ">", many_attributes;  // the limits, then one more
    for (int i = 0; i < 255; ++i) deepest += "<a>";
    for (int i = 0; i < 255; ++i) many_attributes += " a" + std::to_string(i) + "=''";  // and <assembly>'s two
    const std::pair<std::string, const char*> manifests[] = {
        {std::string(kAssembly) + ">", "line 1: <assembly> is not closed"},
        {"<assembly manifestVersion=\"1.0\"/>", "the root element must be <assembly> in namespace urn:schemas-microsoft-com:asm.v1"},
        {"<a:assembly xmlns:a=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\n<b:x/></a:assembly>",
         "line 2: namespace prefix 'b' is not declared"},
        {"<!DOCTYPE assembly>" + std::string(kAssembly) + "/>", "document type declarations are not allowed"},
        {std::string(kAssembly) + "><a></b></assembly>", "</b> closes <a>"},
        {std::string(kAssembly) + " manifestVersion=\"1.0\"/>", "attribute 'manifestVersion' given twice"},
        {"<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"2.0\"/>", "needs manifestVersion=\"1.0\""},
        {std::string(kAssembly) + "><requestedExecutionLevel level=\"admin\"/></assembly>", "level must be asInvoker"},
        {std::string(kAssembly) + ">a & b</assembly>", "'&' that starts no reference"},
        {std::string(kAssembly) + "/><more/>", "more after the root element ends"},
        {deep, "line 1: elements nested more than 256 deep"},
        {deepest + "<a>", "line 1: elements nested more than 256 deep"},
        {std::string(kAssembly) + many_attributes + "/>", "more than 256 attributes"},
        {std::string("\xFF\xFE<\0a\0"), "UTF-16 text: save the manifest as UTF-8"},
        {std::string(kAssembly) + "><!-- caf\xE9 --></assembly>", "not UTF-8 text"},
        // What would change what the launcher loads or how it runs.
        {std::string(kAssembly) + "><file name=\"uxtheme.dll\"/></assembly>", "a <file> element: Windows would load"},
        {std::string(kAssembly) + "><dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
         "name=\"Microsoft.Windows.GdiPlus\" version=\"1.0.0.0\" publicKeyToken=\"6595b64144ccf1df\"/>"
         "</dependentAssembly></dependency></assembly>", "a dependency on 'Microsoft.Windows.GdiPlus'"},
        {std::string(kAssembly) + "><dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
         "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"/>"
         "</dependentAssembly></dependency></assembly>", "a dependency on 'Microsoft.Windows.Common-Controls'"},
        {std::string(kAssembly) + "><application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
         "<activeCodePage>UTF-8</activeCodePage></windowsSettings></application></assembly>",
         "<application> (in assembly/application): it would change how the launcher runs"},
        {std::string(kAssembly) + "><trustInfo><security><requestedPrivileges><requestedExecutionLevel "
         "level=\"asInvoker\" uiAccess=\"true\"/></requestedPrivileges></security></trustInfo></assembly>",
         "uiAccess=\"true\""},
    };
    for (const auto& [text, message] : manifests)
        cases.push_back({message, with_resource({"--manifest", "@"}, bytes(text)), 1, message});
    for (const char* name : {"a:b", "a<b", "a>b", "a\"b", "a|b", "a?b", "a*b"})
        cases.push_back({name, files({name}), 1, "is not allowed in Windows file names"});
    for (const char* name : {"CON", "nul.txt", "Com1.log", "lpt9", "aux.tar.gz", "PRN .txt", "COM\xB9",
                             "lpt\xB2.txt", "CONIN$", "conout$.log"})
        cases.push_back({name, files({name}), 1, "reserved Windows device name"});
    // 4096 bytes to stat, fewer to read.
    if (file_exists("/sys/devices/system/cpu/online"))
        cases.push_back({"file shrinks while packed", [&](const std::string&) {
                             return std::vector<std::string>{"--stub", stub(), "--launch", "online",
                                                             "/sys/devices/system/cpu/online"};
                         }, 1, "4096 bytes when scanned, "});

    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = {"pack", "-o", dir / "out.exe"};
        const auto rest = c.setup(dir / ("in" + std::to_string(n++)));
        args.insert(args.end(), rest.begin(), rest.end());
        // Over an existing file, through the named temporary file that file
        // systems without unnamed ones get.
        std::vector<std::string> named = {"COURIER_PACK_NAMED_TEMP=1", COURIER_PACK_PATH};
        named.insert(named.end(), args.begin(), args.end());
        for (bool existing : {false, true}) {
            if (existing) write_file(dir / "out.exe", bytes("old"));
            const ToolResult r = existing ? run(named, "env") : run(args);
            EXPECT_EQ(r.code, c.code);
            EXPECT_EQ(r.err.rfind("courier-pack: ", 0), 0u) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            EXPECT_FALSE(raw_control(r.err)) << "sent raw: " << r.err;
            const auto said = lines(r.err);
            EXPECT_EQ(std::set<std::string>(said.begin(), said.end()).size(), said.size()) << "repeated: " << r.err;
            if (existing) EXPECT_EQ(text(read_file(dir / "out.exe")), "old");
            else EXPECT_FALSE(file_exists(dir / "out.exe"));
            EXPECT_FALSE(temp_left());
        }
        fs::remove(dir / "out.exe");
    }
    for (const pid_t writer : writers) {
        int status = 0;
        EXPECT_EQ(waitpid(writer, &status, WNOHANG), writer) << "a pack never read the file";
        kill(writer, SIGKILL);
        waitpid(writer, &status, 0);
    }
}

// Both files pack writes, the carrier (-o) and the dependency file
// (--depfile), under one set of rules: never a file the pack reads, nor
// the other one, however spelt or linked; no folder or device; through a
// symbolic link, the file it leads to.
TEST_F(Courier, OutputIsNeverAnInputTheStubOrALink) {
    const std::string in = folder("in", {{"a", {1}}});
    const std::string icon = dir / "app.ico", manifest = dir / "app.manifest", list = dir / "list";
    write_file(icon, ico_file({{16, 4, false}}));
    write_file(manifest, bytes("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\"/>"));
    write_file(list, bytes(in + "/a=b\n"));
    const std::set<std::string> kept = {"in", "stub.exe", "app.ico", "app.manifest", "list"};
    const auto carrier = packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}});
    // With --depfile, the carrier goes here.
    const std::string carrier_path = dir / "carrier.exe";
    const auto rule = bytes(carrier_path + ": \\\n  " + stub() + " \\\n  " + in + " \\\n  " + in + "/a\n\n" +
                            stub() + ":\n\n" + in + ":\n\n" + in + "/a:\n");
    const auto read = [&] {
        return std::vector<std::vector<uint8_t>>{read_file(in + "/a"), read_file(stub()), read_file(icon),
                                                 read_file(manifest), read_file(list)};
    };
    const auto before = read();
    auto unchanged = [&](const std::vector<uint8_t>&) { EXPECT_EQ(read(), before); };
    struct Case {
        const char* what;
        std::function<std::string()> setup;  // makes what the option meets; gives its path
        const char* message;                 // "" when the file is written
        std::function<void(const std::vector<uint8_t>& written)> check;  // what the option writes
        std::vector<std::string> options = {};
        bool depfile_only = false;  // the dependency file against the carrier
    };
    const Case cases[] = {
        {"an input", [&] { return in + "/a"; }, "is the input", unchanged},
        {"the stub", [&] { return stub(); }, "is the stub", unchanged},
        {"the stub spelt another way", [&] { return dir / "./stub.exe"; }, "is the stub", unchanged},
        {"the stub through a linked folder", [&] {
             fs::create_directory_symlink(dir.path(), dir / "linked");
             return dir / "linked/stub.exe";
         }, "is the stub", unchanged},
        {"a hard link to an input", [&] {
             fs::create_hard_link(in + "/a", dir / "hard.exe");
             return dir / "hard.exe";
         }, "is the input", unchanged},
        {"a symbolic link to the stub", [&] {
             fs::create_symlink(stub(), dir / "soft.exe");
             return dir / "soft.exe";
         }, "is the stub", unchanged},
        {"the icon", [&] { return icon; }, "is the icon", unchanged, {"--icon", icon}},
        {"the manifest", [&] { return dir / "./app.manifest"; }, "is the manifest", unchanged,
         {"--manifest", manifest}},
        {"the list of inputs", [&] { return list; }, "is the list of inputs", unchanged,
         {"--files-from", list}},
        {"the carrier", [&] { return carrier_path; }, "is the carrier", unchanged, {}, true},
        {"the carrier spelt another way, before it exists", [&] { return dir / "./carrier.exe"; },
         "is the carrier", [&](const std::vector<uint8_t>&) { EXPECT_FALSE(file_exists(carrier_path)); },
         {}, true},
        {"a symbolic link to the carrier", [&] {
             write_file(carrier_path, bytes("old"));
             fs::create_symlink("carrier.exe", dir / "carrier.d");
             return dir / "carrier.d";
         }, "is the carrier", [&](const std::vector<uint8_t>&) {
             EXPECT_EQ(text(read_file(carrier_path)), "old");
         }, {}, true},
        {"a folder", [&] {
             fs::create_directories(dir / "out.exe/keep");
             return dir / "out.exe";
         }, "a folder, not replaced", [&](const std::vector<uint8_t>&) { EXPECT_TRUE(file_exists(dir / "out.exe/keep")); }},
        {"a FIFO", [&] {
             mkfifo((dir / "fifo.exe").c_str(), 0600);
             return dir / "fifo.exe";
         }, "not a regular file", [&](const std::vector<uint8_t>&) { EXPECT_TRUE(fs::is_fifo(dir / "fifo.exe")); }},
        {"a symbolic link to a FIFO", [&] {
             mkfifo((dir / "fifo.exe").c_str(), 0600);
             fs::create_symlink("fifo.exe", dir / "to-fifo.exe");
             return dir / "to-fifo.exe";
         }, "not a regular file", [&](const std::vector<uint8_t>&) { EXPECT_TRUE(fs::is_fifo(dir / "fifo.exe")); }},
        {"in a folder that does not exist", [&] { return dir / "missing/out.exe"; },
         "missing: no such folder", [&](const std::vector<uint8_t>&) { EXPECT_FALSE(file_exists(dir / "missing")); }},
        {"a symbolic link: written through", [&] {
             write_file(dir / "old.exe", bytes("old"));
             fs::create_symlink("old.exe", dir / "link.exe");
             return dir / "link.exe";
         }, "", [&](const std::vector<uint8_t>& written) {
             EXPECT_TRUE(fs::is_symlink(dir / "link.exe"));
             EXPECT_EQ(read_file(dir / "old.exe"), written);
         }},
        {"a link to no file yet", [&] {
             fs::create_symlink("new.exe", dir / "dangling.exe");
             return dir / "dangling.exe";
         }, "", [&](const std::vector<uint8_t>& written) {
             EXPECT_TRUE(fs::is_symlink(dir / "dangling.exe"));
             EXPECT_EQ(read_file(dir / "new.exe"), written);
         }},
    };
    for (const Case& c : cases) {
        for (const bool as_depfile : {false, true}) {
            if (c.depfile_only && !as_depfile) continue;
            SCOPED_TRACE(std::string(c.what) + (as_depfile ? ", as --depfile" : ", as -o"));
            for (const auto& e : fs::directory_iterator(dir.path()))
                if (!kept.count(e.path().filename())) fs::remove_all(e.path());
            const std::string out = c.setup();
            std::vector<std::string> args = {"pack", "-o", as_depfile ? carrier_path : out, "--launch", "a",
                                             "--stub", stub(), in};
            if (as_depfile) args.insert(args.end(), {"--depfile", out});
            args.insert(args.end(), c.options.begin(), c.options.end());
            const ToolResult r = run(args);
            EXPECT_EQ(r.code, *c.message ? 1 : 0) << r.err;
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
            c.check(as_depfile ? rule : carrier);
            EXPECT_FALSE(temp_left());
        }
    }
}

// The carrier has no name until it is whole, so even kill -9 leaves nothing.
// Where it must have one (file systems without unnamed files, or no /proc),
// a signal's handler removes it, and what kill -9 leaves the next run for
// the same output removes.
TEST_F(Courier, InterruptedPackLeavesNothing) {
    fs::create_directories(dir / "in");
    write_file(dir / "in/big", {});
    fs::resize_file(dir / "in/big", uint64_t(1) << 30);  // sparse
    std::string stale;  // what kill -9 left
    for (bool named : {false, true}) {
        for (int signal_number : {SIGKILL, SIGINT}) {
            SCOPED_TRACE(std::to_string(signal_number) + (named ? ", named" : ""));
            const pid_t pid = fork();
            if (pid == 0) {
                signal(SIGINT, SIG_DFL);  // as a terminal's Ctrl-C finds it
                if (named) setenv("COURIER_PACK_NAMED_TEMP", "1", 1);
                execl(COURIER_PACK_PATH, "courier-pack", "pack", "-o", (dir / "out.exe").c_str(),
                      "--launch", "big", "--stub", stub().c_str(), (dir / "in").c_str(), nullptr);
                _exit(127);
            }
            // Killed once it has a file of its own open in the folder.
            bool writing = false;
            const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
            for (int wait = 0; wait < 30000 && !writing; ++wait) {
                std::error_code ec;
                for (fs::directory_iterator it(fds, ec), end; !ec && it != end; it.increment(ec)) {
                    const std::string target = fs::read_symlink(it->path(), ec).string();
                    writing = writing || (target.rfind(dir.path() + "/", 0) == 0 &&
                                          target.rfind(dir / "in", 0) != 0 &&  // nor the folder read
                                          target != stub() && target != stale);
                }
                if (!writing) usleep(1000);
            }
            EXPECT_TRUE(writing);
            kill(pid, signal_number);
            int status = 0;
            waitpid(pid, &status, 0);
            EXPECT_TRUE(WIFSIGNALED(status));
            std::vector<std::string> left;
            for (const auto& e : fs::directory_iterator(dir.path()))
                left.push_back(e.path().filename());
            std::sort(left.begin(), left.end());
            if (named && signal_number == SIGKILL) {
                ASSERT_EQ(left.size(), 3u);
                EXPECT_EQ(left[1].rfind("out.exe.tmp-", 0), 0u) << left[1];
                stale = dir / left[1];
            } else {
                EXPECT_EQ(left, (std::vector<std::string>{"in", "stub.exe"}));
            }
        }
    }
}

// Two packs to one output at once, through named temporary files: each
// keeps its own, both succeed, and the output is one carrier whole. The
// first is stopped while it writes, holding its file's lock, or by the
// tool itself between creating its file and locking it, when the second
// may take the file for stale and remove it: the first must see that.
TEST_F(Courier, TwoPacksToOneOutputAtOnce) {
    fs::create_directories(dir / "in");
    write_file(dir / "in/big", {});
    fs::resize_file(dir / "in/big", uint64_t(2) << 20);  // sparse: a second to pack
    const std::string small = folder("small", {{"a", {1}}}), out = dir / "out.exe";
    // True once process `pid` holds a flock.
    auto holds_lock = [](pid_t pid) {
        std::istringstream locks(text(read_file("/proc/locks")));
        for (std::string line; std::getline(locks, line);) {
            std::istringstream fields(line);
            std::string number, kind, mode, access, holder;
            fields >> number >> kind >> mode >> access >> holder;
            if (kind == "FLOCK" && holder == std::to_string(pid)) return true;
        }
        return false;
    };
    for (bool before_lock : {false, true}) {
        SCOPED_TRACE(before_lock ? "stopped between creating its file and locking it"
                                 : "stopped holding its lock");
        const pid_t first = fork();
        if (first == 0) {
            setenv("COURIER_PACK_NAMED_TEMP", "1", 1);
            if (before_lock) setenv("COURIER_PACK_STOP_BEFORE_LOCK", "1", 1);
            execl(COURIER_PACK_PATH, "courier-pack", "pack", "-q", "-o", out.c_str(), "--launch", "big",
                  "--stub", stub().c_str(), (dir / "in").c_str(), nullptr);
            _exit(127);
        }
        int status = 0;
        if (!before_lock) {
            for (int wait = 0; wait < 30000 && !holds_lock(first); ++wait) usleep(1000);
            kill(first, SIGSTOP);
        }
        ASSERT_EQ(waitpid(first, &status, WUNTRACED), first);
        ASSERT_TRUE(WIFSTOPPED(status)) << "the first pack ended before the second began";
        const ToolResult second = run({"COURIER_PACK_NAMED_TEMP=1", COURIER_PACK_PATH, "pack", "-q", "-o", out,
                                       "--launch", "a", "--stub", stub(), small}, "env");
        EXPECT_EQ(second.code, 0) << second.err;
        EXPECT_EQ(read_file(out), packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}}));
        // On again, each time it stops itself.
        for (kill(first, SIGCONT); waitpid(first, &status, WUNTRACED) == first && WIFSTOPPED(status);)
            kill(first, SIGCONT);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the first pack failed";
        const ToolResult r = run({"list", out});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("big  "), std::string::npos) << r.out;
        EXPECT_FALSE(temp_left());
        fs::remove(out);
    }
}

TEST_F(Courier, ExtractReplacesOnlyRegularFiles) {
    const std::vector<ArchiveEntry> entries = {{"a.txt", text_like(3000, 1)}, {"c.exe", {2}}};
    const auto carrier = packed_carrier(minimal_pe_stub(), "a.txt", entries);
    struct Case {
        const char* what;
        std::function<void(const std::string& x)> setup;  // what the folder x holds before
        bool carrier_inside;                              // the carrier is x/c.exe
        const char* message;                              // "" when the extract succeeds
        std::function<void(const std::string& x)> check;
        std::vector<std::string> names = {};              // extract's NAME... arguments
    };
    const Case cases[] = {
        {"a regular file", [](const std::string& x) { write_file(x + "/a.txt", bytes("old")); },
         false, "", [&](const std::string& x) {
             EXPECT_EQ(read_file(x + "/a.txt"), entries[0].data);
         }},
        {"a symbolic link", [&](const std::string& x) {
             write_file(dir / "outside.txt", bytes("outside"));
             fs::create_symlink(dir / "outside.txt", x + "/a.txt");
         }, false, "a.txt: a symbolic link, left as it is", [&](const std::string& x) {
             EXPECT_TRUE(fs::is_symlink(x + "/a.txt"));
             EXPECT_EQ(text(read_file(dir / "outside.txt")), "outside");
         }},
        {"a FIFO", [](const std::string& x) { mkfifo((x + "/a.txt").c_str(), 0600); },
         false, "a.txt: not a regular file", [](const std::string& x) {
             EXPECT_TRUE(fs::is_fifo(x + "/a.txt"));
         }},
        {"a folder", [](const std::string& x) { fs::create_directories(x + "/a.txt/keep"); },
         false, "a.txt: a folder", [](const std::string& x) {
             EXPECT_TRUE(file_exists(x + "/a.txt/keep"));
         }},
        {"the carrier being read: the file before it is in place", [](const std::string&) {}, true,
         "c.exe: is the carrier being read", [&](const std::string& x) {
             EXPECT_EQ(read_file(x + "/c.exe"), carrier);
             EXPECT_EQ(read_file(x + "/a.txt"), entries[0].data);
         }},
        {"only the entry named, in any letter case, past a FIFO of the other's name",
         [](const std::string& x) { mkfifo((x + "/a.txt").c_str(), 0600); }, false, "",
         [](const std::string& x) {
             EXPECT_TRUE(fs::is_fifo(x + "/a.txt"));
             EXPECT_EQ(read_file(x + "/c.exe"), std::vector<uint8_t>{2});
         }, {"C.EXE"}},
        {"a folder that is not there yet: made for the first file",
         [](const std::string& x) { fs::remove(x); }, false, "", [&](const std::string& x) {
             EXPECT_EQ(read_file(x + "/a.txt"), entries[0].data);
         }},
        {"a folder that is not there yet, and no entry of the name asked for: not made",
         [](const std::string& x) { fs::remove(x); }, false, "c.exe: no entry named 'b.txt'",
         [](const std::string& x) { EXPECT_FALSE(file_exists(x)); }, {"b.txt"}},
        {"a name no entry has: the others are unpacked", [](const std::string&) {}, false,
         "c.exe: no entry named 'b.txt'", [&](const std::string& x) {
             EXPECT_EQ(read_file(x + "/a.txt"), entries[0].data);
             EXPECT_FALSE(file_exists(x + "/c.exe"));
         }, {"a.txt", "b.txt"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string x = dir / ("x" + std::to_string(n++));
        fs::create_directories(x);
        c.setup(x);
        const std::string path = c.carrier_inside ? x + "/c.exe" : dir / "c.exe";
        write_file(path, carrier);
        // Bounded: a FIFO opened for writing would wait for a reader.
        std::vector<std::string> args = {"60", COURIER_PACK_PATH, "extract", path, "-C", x};
        args.insert(args.end(), c.names.begin(), c.names.end());
        const ToolResult r = run(args, "timeout");
        EXPECT_EQ(r.code, *c.message ? 1 : 0) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        c.check(x);
        EXPECT_FALSE(temp_left());
    }
}

TEST_F(Courier, UnreadableInputIsRefused) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads any file";
    const std::string in = folder("in", {{"a", {1}}});
    chmod((in + "/a").c_str(), 0);
    const ToolResult r = run({"pack", "-o", dir / "out.exe", "--launch", "a", "--stub", stub(), in});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("a: cannot open for reading"), std::string::npos) << r.err;
    EXPECT_FALSE(file_exists(dir / "out.exe"));
}

TEST_F(Courier, DefaultStubIsTheBuiltLauncher) {
    // A copy of the tool in bin/, with a launcher.exe where each build tree
    // and an installed tree put one: anyone may have put it there, and
    // without --stub none is read, only the launcher the tool holds.
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "windows");
    fs::create_directories(dir / "share/brisk-courier");
    fs::copy_file(COURIER_PACK_PATH, dir / "bin/courier-pack");
    const std::string in = folder("in", {{"a", {1}}});
    const std::vector<std::string> args = {"pack", "-o", dir / "out.exe", "--launch", "a", in};

    ToolResult r;
    for (const char* where : {"", "windows", "share/brisk-courier", "bin"}) {
        SCOPED_TRACE(where);
        if (where[0] != '\0') write_file(dir / where + "/launcher.exe", minimal_pe_stub(600));
        r = run(args, dir / "bin/courier-pack");
        if (release().empty()) {
            EXPECT_EQ(r.code, 1);
            EXPECT_NE(r.err.find("built without the launcher"), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(read_file(dir / "out.exe"), packed_carrier(release(), "a", {{"a", {1}}}));
        }
    }

    r = run({"pack", "--help"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("no folder is searched"), std::string::npos);
    r = run({"--version"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.rfind("courier-pack ", 0), 0u);
}

// What each verb says, and how much: a usage error names what was wrong and
// the verb's help; -q leaves errors only, -v adds a line an entry.
TEST_F(Courier, MessagesSayWhatHappened) {
    const std::string one = folder("one", {{"a", {1}}});
    std::vector<ArchiveEntry> many;
    for (int i = 0; i < 51; ++i) many.push_back({"f" + std::to_string(i), {}});
    const std::string fifty_one = folder("many", many);
    const std::string carrier = dir / "one.exe", opens_nothing = dir / "opens-nothing.exe",
                      out = dir / "out.exe", x = dir / "x";
    write_file(carrier, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}}));
    write_file(opens_nothing, packed_carrier(minimal_pe_stub(), "setup.exe", {{"a", {1}}}));
    const std::string opens_folder = dir / "opens-folder.exe";
    write_file(opens_folder, packed_carrier(minimal_pe_stub(), "", {{"a", {1}}}));
    // Carriers pack cannot make: edited after packing.
    auto packed_then = [&](const std::string& name, std::vector<std::string> options,
                           std::function<void(std::vector<uint8_t>&)> change) {
        std::vector<std::string> args = {"pack", "-o", dir / name, "--launch", "a", "--stub", stub(), one};
        args.insert(args.end(), options.begin(), options.end());
        EXPECT_EQ(run(args).code, 0);
        auto bytes = read_file(dir / name);
        change(bytes);
        write_file(dir / name, bytes);
        return dir / name;
    };
    // A manifest named by a string, not the ID Windows reads: whatever it
    // holds, it is not the carrier's manifest.
    const std::string named_manifest = packed_then("named.exe", {"--execution-level", "asInvoker"}, [](auto& b) {
        b[resource_section(b) + 43] = 0x80;
        const size_t end = text(b).find("</assembly>");
        b[end + 9] = 'x';  // </assemblx>: Windows would refuse it
    });
    const std::string twice = packed_then("twice.exe", {"--version-string", "CompanyName=first",
                                                        "--version-string", "CompanyNamf=second"}, [](auto& b) {
        const std::string key = std::string("C\0o\0m\0p\0a\0n\0y\0N\0a\0m\0f\0", 22);
        b[text(b).find(key) + 20] = 'e';  // two keys alike, which pack refuses
    });
    // Text from the carrier that would drive a terminal: a right-to-left
    // override in a version string, line ends and a C1 control in the
    // manifest's encoding, which list's problem line quotes.
    const std::string bidi = packed_then("bidi.exe", {"--version-string", "Comments=a\xE2\x80\xAE" "b"}, [](auto&) {});
    const std::string controls = packed_then("controls.exe", {"--execution-level", "asInvoker"}, [](auto& b) {
        const size_t at = text(b).find("UTF-8");
        std::copy_n("\r\n\xC2\x9Bx", 5, &b[at]);
    });
    const std::string one_file = dir / "one-file.exe", code_page = dir / "code-page.exe", plain = dir / "plain.exe";
    write_file(one_file, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}, {"A.", {2, 2}}, {"b", {3}}}));
    write_file(code_page, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}, {"\xE9t\xE9", {2}}, {"\xC9T\xC9", {3}}}));
    const std::string wine_short = dir / "wine-short.exe";  // Wine 8 writes \xFC (u-umlaut) as '_'
    write_file(wine_short, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}, {"\xFC" "ber-setup.exe", {2}},
                                                                   {"_BER~4S2.EXE", {3}}}));
    auto plain_stub = minimal_pe_stub();
    std::fill(plain_stub.begin() + 0x200, plain_stub.begin() + 0x210, 0xCC);
    write_file(plain, plain_stub);
    // With the launcher the tool holds, which draws no warning.
    const std::string release_stub = release().empty() ? stub() : dir / "held-launcher.exe";
    if (!release().empty()) write_file(release_stub, release());
    auto pack = [&](std::vector<std::string> extra, const std::string& launch = "a") {
        std::vector<std::string> args = {"pack", "-o", out, "--launch", launch, "--stub", release_stub};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    // A doubt said of three entries alike, and more of one kind than the
    // tool keeps (1000).
    const std::string thrice = dir / "thrice.exe", doubts = dir / "doubts.exe", paused = dir / "paused.exe";
    const std::string long_name = std::string(206, 'n') + ".txt";
    write_file(thrice, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}, {long_name, {}}, {long_name, {}}, {long_name, {}}}));
    std::vector<ArchiveEntry> dotted = {{"a", {1}}};
    for (size_t i = 0; i <= 1000; ++i) dotted.push_back({"d" + std::to_string(i) + ".", {}});
    write_file(doubts, packed_carrier(minimal_pe_stub(), "a", dotted));
    write_file(paused, packed_carrier(minimal_pe_stub(), "f0", many));
    // A stub over 1 MiB whose folder name straddles the 1 MiB boundary.
    auto big_stub_bytes = minimal_pe_stub((1 << 20) + 0x400);
    std::fill(big_stub_bytes.begin() + 0x200, big_stub_bytes.begin() + 0x210, 0xCC);
    std::copy_n(kFolderName, kFolderNameLength, big_stub_bytes.begin() + (1 << 20) - 8);
    const std::string big_stub = dir / "big-stub.exe", named_in_manifest = dir / "named.manifest";
    write_file(big_stub, big_stub_bytes);
    write_file(named_in_manifest, bytes("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" "
                                        "manifestVersion=\"1.0\"><!-- BriskCourierTmp\\ --></assembly>"));
    // A stub verify --strict passes, kept apart from the carriers below.
    const std::string installer_stub = dir / "installer-stub.exe";
    fs::copy_file(strict_stub(), installer_stub);
    const std::string level_manifest = dir / "level.manifest";
    write_file(level_manifest, bytes("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                                     "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
                                     "<requestedPrivileges><requestedExecutionLevel level=\"asInvoker\"/>"
                                     "</requestedPrivileges></security></trustInfo></assembly>"));
    // Short-name twins pack refuses to make: of names beyond ASCII, and
    // of the launch file, written after it and before it.
    const std::string beyond = dir / "beyond.exe", twin_after = dir / "twin-after.exe",
                      twin_before = dir / "twin-before.exe";
    write_file(beyond, packed_carrier(minimal_pe_stub(), "a", {{"a", {1}}, {"\xE9t\xE9-library.txt", {2}},
                                                               {"_T_-LI~1.TXT", {3}}, {"\xE5ngstr\xF6m.txt", {4}},
                                                               {"_NGS~AAA.TXT", {5}}}));
    write_file(twin_after, packed_carrier(minimal_pe_stub(), "setup-program.exe",
                                          {{"setup-program.exe", {1}}, {"SETUP-~1.EXE", {2}}}));
    write_file(twin_before, packed_carrier(minimal_pe_stub(), "setup-program.exe",
                                           {{"SETUP-~1.EXE", {2}}, {"setup-program.exe", {1}}}));
    const std::string equals = folder("equals", {{"x=y", {1}}});
    // A folder with what pack refuses: a sub-folder, a name outside ASCII.
    const std::string mixed = folder("mixed", {{"setup.exe", {1}}, {"donn\xC3\xA9""es.txt", {2}}, {"app.pdb", {3}}});
    fs::create_directories(mixed + "/sub");
    const std::string list = dir / "list.txt";
    write_file(list, bytes(one + "/a=listed.txt\r\n\n"));
    // The commit the tree is at, which the tool names as the one it was
    // built from; nothing to compare with outside a git checkout.
    const ToolResult head = run_tool("git", {"-C", BRISK_SOURCE_DIR, "rev-parse", "HEAD"}, dir);
    const std::string commit = head.code == 0 ? head.out.substr(0, head.out.find('\n')) : "";
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int code;
        std::string out, err;  // what each holds; "" for nothing at all
        std::string input = "";  // on stdin
        std::string redirect = "";  // of the tool's own streams, as sh writes it
        std::string before = "";    // sh commands run first, in the process the tool then is
    };
    std::vector<Case> cases = {
        {"unknown command", {"bogus"}, 2, "",
         "courier-pack: unknown command 'bogus'\ncourier-pack: see courier-pack --help\n"},
        {"no command", {}, 2, "", "no command given"},
        {"-V", {"-V"}, 0, "courier-pack ", ""},
        {"--version names the commit", {"--version"}, 0,
         "courier-pack " COURIER_PACK_VERSION "\nbuilt from commit " + commit, ""},
        {"pack --help names --", {"pack", "--help"}, 0, "-- ends the options: every word after it is an input", ""},
        {"pack --help: where the opened program starts", {"pack", "--help"}, 0,
         "The launch file opens in the launcher's working folder, not the folder it was unpacked "
         "into, and the launcher exits with code 1 without waiting for it", ""},
        {"unknown option, though --launch is missing too", {"pack", "--lanch", "a", one}, 2, "",
         "unknown option '--lanch'\ncourier-pack: see courier-pack pack --help\n"},
        {"one carrier too many", {"list", carrier, "two.exe"}, 2, "", "unexpected argument 'two.exe'"},
        {"-q with -v", {"verify", "-q", "-v", carrier}, 2, "", "excludes"},
        {"pack", pack({one}), 0, out + ": 1 entry, ", ""},
        {"pack -v", pack({"-v", one}), 0, "a: 1 byte, ", ""},
        {"pack -q", pack({"-q", one}), 0, "", ""},
        {"pack of 51 files", pack({fifty_one}, "f0"), 0, "51 entries",
         "courier-pack: warning: 51 files: the launcher pauses 0.1 s after each and 0.5 s after the "
         "launch, 5.6 s in all\n"},
        {"verify of 51 files: the launcher's pauses", {"verify", paused}, 0,
         "51 files: the launcher pauses 0.1 s after each and 0.5 s after the launch, 5.6 s in all\n" +
             paused + ": ok, 51 entries",
         ""},
        {"pack -o -: the carrier on stdout, the rest on stderr",
         {"pack", "-o", "-", "-v", "--launch", "a", "--stub", stub(), one}, 0, text(read_file(carrier)),
         "a: 1 byte, "},
        {"pack -o -: what it says", {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 0,
         text(read_file(carrier)), "standard output: 1 entry, "},
        {"pack PATH=NAME; a path that is a file, '=' and all, is taken whole",
         pack({"-v", equals + "/x=y", equals + "/x=y=z.txt"}, "z.txt"), 0, "x=y: 1 byte, ", ""},
        {"pack PATH=NAME: the last '=' splits", pack({"-v", equals + "/x=y=z.txt"}, "z.txt"), 0,
         "z.txt: 1 byte, ", ""},
        {"pack --files-from", pack({"-v", "--files-from", list}, "listed.txt"), 0, "listed.txt: 1 byte, ", ""},
        // Windows' installer detection: a name or version string with its
        // words, and no execution level, draws a prompt for elevation.
        {"pack of a carrier named like an installer",
         {"pack", "-o", dir / "MyApp-Setup.exe", "--launch", "a", "--stub", installer_stub, one}, 0,
         dir / "MyApp-Setup.exe: 1 entry",
         "courier-pack: warning: " + dir / "MyApp-Setup.exe: Windows takes this carrier for an installer (its "
         "file name 'MyApp-Setup.exe' holds \"setup\") and asks for administrator rights before it starts"},
        {"verify warns of it", {"verify", dir / "MyApp-Setup.exe"}, 0, dir / "MyApp-Setup.exe: ok",
         "file name 'MyApp-Setup.exe' holds \"setup\") and asks for administrator rights before it starts, "
         "since no manifest names an execution level; a standard user then sees a prompt, and the files go "
         "to the %TEMP% of whoever types the credentials: pack it with --execution-level asInvoker\n"},
        {"verify --strict fails it", {"verify", "--strict", dir / "MyApp-Setup.exe"}, 1, "launcher: ",
         "'MyApp-Setup.exe' holds \"setup\")"},
        {"--json: its kind", {"verify", "--json", dir / "MyApp-Setup.exe"}, 0, "\"kind\": \"installer-detection\"", "setup"},
        {"pack: a version string Windows reads", pack({"--version-string", "ProductName=Example Installer", one}), 0,
         out + ": 1 entry", "(its version string ProductName 'Example Installer' holds \"install\")"},
        {"verify of it", {"verify", out}, 0, out + ": ok", "ProductName 'Example Installer' holds \"install\""},
        {"a version string Windows does not read", pack({"--version-string", "Comments=setup", one}), 0,
         out + ": 1 entry", ""},
        {"with an execution level, no word of it",
         {"pack", "-o", dir / "Setup.exe", "--launch", "a", "--stub", installer_stub, "--execution-level", "asInvoker", one}, 0,
         dir / "Setup.exe: 1 entry", ""},
        {"verify of it: no word either", {"verify", dir / "Setup.exe"}, 0, dir / "Setup.exe: ok", ""},
        {"a manifest of its own naming a level",
         {"pack", "-o", dir / "Update.exe", "--launch", "a", "--stub", installer_stub, "--manifest", level_manifest, one}, 0,
         dir / "Update.exe: 1 entry", ""},
        {"a manifest naming none", {"pack", "-o", dir / "Update.exe", "--launch", "a", "--stub", stub(), "--manifest",
                                    named_in_manifest, one}, 0, dir / "Update.exe: 1 entry", "holds \"update\""},
        {"PATH=NAME takes the place of the file the folder gives; --exclude leaves out the rest",
         pack({"--exclude", "sub", "--exclude", mixed + "/*.pdb", mixed, mixed + "/donn\xC3\xA9""es.txt=donnees.txt"},
              "setup.exe"), 0, out + ": 2 entries", ""},
        {"where the folder has it", pack({"-v", "--exclude", "sub", "--exclude", "*.pdb", mixed,
                                          mixed + "/donn\xC3\xA9""es.txt=donnees.txt"}, "setup.exe"), 0,
         "donnees.txt: 1 byte, 6 stored\nsetup.exe: ", ""},
        {"an --exclude that matches a PATH=NAME leaves it in: it is named", pack({"-v", "--exclude", "sub",
         "--exclude", "*.pdb", "--exclude", mixed + "/donn*", mixed, mixed + "/donn\xC3\xA9""es.txt=donnees.txt"},
         "setup.exe"), 0, "setup.exe: 1 byte, 6 stored\ndonnees.txt: 1 byte, 6 stored\n", ""},
        {"pack --files-from -", pack({"-v", "--files-from", "-", one}, "stdin.txt"), 0,
         "stdin.txt: 1 byte, 6 stored\n" + out + ": 1 entry, ", "", one + "/a=stdin.txt\n"},  // in a's place
        {"--depfile with -o -", {"pack", "-o", "-", "--depfile", dir / "out.d", "--launch", "a", one}, 2, "",
         "--depfile needs -o FILE"},
        {"pack -q of 51 files", pack({"-q", fifty_one}, "f0"), 0, "", ""},
        // Closed streams: no file the tool opens takes their place.
        {"pack -v with stdout closed", pack({"-v", one}), 0, "", "", "", ">&-"},
        {"the carrier it made has no line in it", {"verify", out}, 0, out + ": ok", ""},
        {"pack -o - -v with stderr closed: the carrier, and nothing in it",
         {"pack", "-o", "-", "-v", "--launch", "a", "--stub", stub(), one}, 0, text(read_file(carrier)), "",
         "", "2>&-"},
        {"pack -o - with stdout closed", {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 1, "",
         "-o -: standard output is closed", "", ">&-"},
        // Another user may know the process's number, as sh's $$ does here:
        // -o -'s file in the temporary folder has no name it could take.
        // Appended to, standard output cannot be written where it stands.
        {"pack -o -, a folder where a temporary name with the process's number would go",
         {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 0, text(read_file(carrier)),
         "standard output: 1 entry, ", "", ">>" + dir / "stdout",
         "export TMPDIR=" + dir / "tmp" + "; mkdir -p \"$TMPDIR/courier-pack-$$.exe\""},
        {"the same where only named temporary files can be made",
         {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 0, text(read_file(carrier)),
         "standard output: 1 entry, ", "", ">>" + dir / "stdout",
         "export COURIER_PACK_NAMED_TEMP=1 TMPDIR=" + dir / "tmp" + "; mkdir -p \"$TMPDIR/courier-pack-$$.exe\""},
        // A regular file is written where it stands.
        {"pack -o - into a file, with no temporary folder",
         {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 0, text(read_file(carrier)),
         "standard output: 1 entry, ", "", "", "export TMPDIR=" + dir / "no-such-folder"},
        {"pack -o - appended to, with no temporary folder",
         {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 1, "",
         "-o -: no temporary folder to write the carrier in", "", ">>" + dir / "stdout",
         "export TMPDIR=" + dir / "no-such-folder"},
        {"pack -o - to a full device", {"pack", "-o", "-", "--launch", "a", "--stub", stub(), one}, 1, "",
         "-o -: cannot send the carrier to standard output: No space left on device\n", "", ">/dev/full"},
        {"verify", {"verify", carrier}, 0, carrier + ": ok, 1 entry, 1 byte unpacked, launches 'a'\n", ""},
        {"verify -v", {"verify", "-v", carrier}, 0, "ok: a (1 byte)\n", ""},
        {"verify, empty launch name", {"verify", opens_folder}, 0,
         opens_folder + ": ok, 1 entry, 1 byte unpacked, opens the folder\n", ""},
        {"verify -q, a warning", {"verify", "-q", opens_nothing}, 0, "", ""},
        {"verify -q --strict, a warning", {"verify", "-q", "--strict", opens_nothing}, 1, "", "names no entry"},
        {"list -v", {"list", "-v", carrier}, 0, "integrity record: carrier of ", ""},
        {"extract", {"extract", carrier, "-C", x}, 0, carrier + ": 1 entry (1 byte) unpacked into " + x + "\n", ""},
        {"extract -v", {"extract", "-v", carrier, "-C", x}, 0, x + "/a (1 byte)\n", ""},
        {"extract -q", {"extract", "-q", carrier, "-C", x}, 0, "", ""},
        {"missing carrier", {"list", dir / "missing.exe"}, 1, "",
         dir / "missing.exe: cannot open: No such file or directory\n"},
        {"a folder", {"verify", one}, 1, "", one + ": a folder, not a carrier\n"},
        {"--json on a missing carrier", {"verify", "--json", dir / "missing.exe"}, 1,
         "\"reason\": \"cannot open: No such file or directory\"", "cannot open"},
        // Linux names are exact: no file is found under another letter case.
        {"carrier under another case", {"list", dir / "ONE.EXE"}, 1, "",
         dir / "ONE.EXE: cannot open: No such file or directory\n"},
        {"input under another case", pack({one + "/A"}), 1, "", one + "/A: no such file or folder\n"},
        {"list of a right-to-left override", {"list", bidi}, 0, "version string: Comments = a\\u202Eb\n", ""},
        {"list of controls in the manifest", {"list", controls}, 0,
         "manifest: not well-formed XML: line 2: encoding '\\x0D\\x0A\\u009Bx': a manifest here must be UTF-8\n", ""},
        {"verify of a manifest named by a string", {"verify", named_manifest}, 0, named_manifest + ": ok", ""},
        {"a version key given twice: Windows finds the first", {"list", "--json", twice}, 0,
         "\"CompanyName\": \"first\"", ""},
        {"extract of entries Windows takes for one file", {"extract", one_file, "-C", dir / "one-file"}, 0,
         "3 entries (4 bytes) unpacked into " + dir / "one-file" + " as 2 files",
         "entries 'a' and 'A.' are one file on Windows; the last one stays"},
        {"verify: the launch file written again under another spelling", {"verify", one_file}, 0,
         one_file + ": ok, 3 entries, 4 bytes unpacked, opens nothing\n",
         "launch name 'a' at archive offset 0: its file is written again by the later entry 'A.', "
         "which Windows takes for the same file, so the launcher opens nothing\n"},
        {"extract NAME: the file as the launcher leaves it", {"extract", one_file, "-C", dir / "chosen", "A"}, 0,
         "2 entries (3 bytes) unpacked into " + dir / "chosen" + " as 1 file", "one file on Windows"},
        {"a doubt of entries alike, said once", {"verify", thrice}, 0, thrice + ": ok",
         "so it unpacks only under a shorter %TEMP% (3 times)\n"},
        {"--json: how often", {"verify", "--json", thrice}, 0, "\"count\": 3", "(3 times)"},
        {"more doubts of a kind than are kept", {"verify", doubts}, 0, doubts + ": ok",
         "courier-pack: warning: " + doubts + ": 1 more warnings of the kind name-may-change, "
         "each of another entry, not listed\n"},
        {"--json: counted, not listed", {"verify", "--json", doubts}, 0,
         "\"warnings_not_listed\": {\n    \"name-may-change\": 1\n  }", "not listed"},
        {"a byte beyond ASCII as '_' in a short name", {"verify", beyond}, 0, beyond + ": ok",
         "'_T_-LI~1.TXT' at archive offset 40: may be the short (8.3) name Windows gives '\\xE9t\\xE9-library.txt'"},
        {"a-ring as '_' in Wine's", {"verify", beyond}, 0, beyond + ": ok",
         "'_NGS~AAA.TXT' at archive offset 86: may be the short (8.3) name Windows gives '\\xE5ngstr\\xF6m.txt'"},
        {"a short-name twin written after the launch file, into it", {"verify", twin_after}, 0, twin_after + ": ok",
         "the later one's bytes stay under both names, so the launcher opens nothing\n"},
        {"one written before it, which the launch file then overwrites", {"verify", twin_before}, 0,
         twin_before + ": ok", "the later one's bytes stay under both names\n"},
        {"Wine's short name of a name beyond ASCII", {"verify", wine_short}, 0, wine_short + ": ok",
         "'_BER~4S2.EXE' at archive offset 39: may be the short (8.3) name Windows gives '\\xFCber-setup.exe'"},
        {"letters of code page 1252", {"verify", code_page}, 0, code_page + ": ok",
         "entries '\\xE9t\\xE9' and '\\xC9T\\xC9' are one file on Windows (letters as code page 1252 has them)"},
        {"a stub that is no launcher, insisted on",
         {"pack", "-o", out, "--launch", "a", "--stub", plain, "--any-stub", one}, 0, out + ": 1 entry",
         "courier-pack: warning: stub " + plain + ": not a Brisk Courier launcher"},
        {"the carrier it makes", {"verify", out}, 1,
         "launcher: not a Brisk Courier launcher (it holds no BriskCourierTmp folder name)",
         "stub is not a Brisk Courier launcher"},
        {"--json of it", {"verify", "--json", out}, 1,
         "\"kind\": \"other\",\n    \"version\": null,\n    \"modified\": true", "stub is not"},
        {"a stub whose folder name straddles 1 MiB",
         {"pack", "-o", dir / "big.exe", "--launch", "a", "--stub", big_stub, one}, 0, dir / "big.exe: 1 entry",
         "warning: stub " + big_stub + ": a modified Brisk Courier launcher"},
        {"the carrier it makes: a launcher", {"verify", dir / "big.exe"}, 0, dir / "big.exe: ok", ""},
        {"a stub that is no launcher, with the folder name in its manifest",
         {"pack", "-o", out, "--launch", "a", "--stub", plain, "--any-stub", "--manifest",
          named_in_manifest, one}, 0, out + ": 1 entry", "warning: stub " + plain + ": not a Brisk Courier launcher"},
        {"the carrier it makes: its resources are not searched", {"verify", out}, 1,
         "launcher: not a Brisk Courier launcher (it holds no BriskCourierTmp folder name)",
         "stub is not a Brisk Courier launcher"},
    };
    // The launcher in front of a carrier: the one the tool was built with, as
    // pack and signing leave it, or changed, before or after packing.
    const std::vector<uint8_t> launcher = release();
    const std::string released = " Brisk Courier " COURIER_PACK_VERSION;
    if (launcher.empty()) {
        cases.push_back({"a tool built without the launcher says so", {"verify", carrier}, 0,
                         "launcher: a Brisk Courier launcher, not compared: this courier-pack was built "
                         "without the launcher to compare it with\n", ""});
    } else {
        auto packed_with = [&](const std::string& name, const std::vector<uint8_t>& stub_bytes,
                               std::vector<std::string> options = {}) {
            write_file(dir / (name + "-stub.exe"), stub_bytes);
            std::vector<std::string> args = {"pack", "-o", dir / name, "--launch", "a", "--stub",
                                             dir / (name + "-stub.exe"), one};
            args.insert(args.end(), options.begin(), options.end());
            EXPECT_EQ(run(args).code, 0);
            return dir / name;
        };
        const std::vector<std::string> resources = {"--execution-level", "asInvoker", "--file-version",
                                                    "1.2.3.4"};
        const std::string plain_release = packed_with("release.exe", launcher),
                          with_resources = packed_with("resources.exe", launcher, resources);
        // Signed as a publisher signs: a certificate table after the trailer,
        // its directory entry and the checksum rewritten.
        const std::string signed_release = dir / "signed.exe";
        ASSERT_EQ(run_tool("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                                       "/CN=test", "-keyout", dir / "key.pem", "-out", dir / "cert.pem"}, dir).code, 0);
        const ToolResult signing = run_tool("osslsigncode", {"sign", "-certs", dir / "cert.pem", "-key", dir / "key.pem",
                                                             "-in", with_resources, "-out", signed_release}, dir);
        ASSERT_EQ(signing.code, 0) << "osslsigncode (scripts/install-deps.sh) " << signing.err;
        // The first byte of its code; the image version, a header field the
        // resource writer leaves alone, in a carrier whose headers it moved.
        const uint32_t pe = le32(&launcher[0x3C]);
        const uint32_t code_at = le32(&launcher[pe + 24 + le16(&launcher[pe + 20]) + 20]);
        auto code = launcher, header = launcher;
        code[code_at] ^= 1;
        header[pe + 24 + 44] ^= 1;
        const std::string code_changed = packed_with("code.exe", code), header_changed = packed_with("header.exe", header, resources);
        const uint32_t moved = le32(&read_file(header_changed)[0x3C]);
        const std::string code_differs = "modified Brisk Courier launcher (code differs in .text: 1 byte at offset " +
                                         std::to_string(code_at) + ")";
        // The first and last byte of each range compared, in a stub pack
        // leaves in place (no resources): MZ, the magic and the PE
        // signature, which make it a program, are the ranges' ends elsewhere.
        const uint32_t optional_at = pe + 24, table_at = optional_at + le16(&launcher[pe + 20]),
                       sections = le16(&launcher[pe + 6]), table_end = table_at + 40 * sections,
                       headers_end = le32(&launcher[optional_at + 60]);
        ASSERT_GT(pe, 0x40u) << "a DOS stub";
        ASSERT_LT(table_end, headers_end) << "free space after the section table";
        std::vector<std::tuple<std::string, uint32_t, uint32_t>> ranges = {
            {"headers differ in the DOS header", 2, 0x3B},
            {"headers differ in the DOS stub", 0x40, pe - 1},
            {"headers differ in the file header", pe + 8, pe + 23},
            {"headers differ in the optional header", optional_at + 2, table_at - 1},
            {"headers differ in the section table", table_at, table_end - 1},
            {"headers differ in the headers' free space", table_end, headers_end - 1}};
        for (uint32_t i = 0; i < sections; ++i) {
            const uint8_t* h = &launcher[table_at + 40 * i];
            const std::string name(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 8));
            if (le32(h + 16) != 0)
                ranges.push_back({(le32(h + 36) & 0x20000020 ? "code differs in " : "data differs in ") + name,
                                  le32(h + 20), le32(h + 20) + le32(h + 16) - 1});
        }
        auto every_end = launcher;
        std::string every_end_differs;
        for (const auto& [what, first, last] : ranges) {
            every_end[first] ^= 1, every_end[last] ^= 1;
            every_end_differs += (every_end_differs.empty() ? "" : "; ") + what + ": 2 bytes from offset " +
                                 std::to_string(first);
        }
        const std::string ends_changed = packed_with("ends.exe", every_end);
        // Where pack moved the headers: the header of the section it added,
        // marked executable, and the free space after it.
        auto moved_bytes = read_file(with_resources);
        const uint32_t moved_pe = le32(&moved_bytes[0x3C]);
        const uint32_t added_at = moved_pe + 24 + le16(&moved_bytes[moved_pe + 20]) + 40 * sections;
        moved_bytes[added_at] ^= 1, moved_bytes[added_at + 39] ^= 0x20;
        moved_bytes[added_at + 40] ^= 1, moved_bytes[headers_end - 1] ^= 1;
        const std::string added_changed = dir / "added.exe";
        write_file(added_changed, moved_bytes);
        const std::vector<Case> identity = {
            {"the first and last byte of every range compared", {"verify", ends_changed}, 0,
             "launcher: modified Brisk Courier launcher (" + every_end_differs + ")\n", ""},
            {"the added section's header, marked executable, and the free space after it",
             {"verify", added_changed}, 0,
             "launcher: modified Brisk Courier launcher (headers differ in the resource section's header: 2 bytes "
             "from offset " + std::to_string(added_at) + "; headers differ in the headers' free space: 2 bytes "
             "from offset " + std::to_string(added_at + 40) + ")\n", ""},
            {"verify names the launcher", {"verify", plain_release}, 0, "launcher:" + released + "\n", ""},
            {"list too", {"list", plain_release}, 0, "launcher:" + released + "\n", ""},
            {"--json: its version, not modified", {"verify", "--json", plain_release}, 0,
             "\"launcher\": {\n    \"kind\": \"release\",\n    \"version\": \"" COURIER_PACK_VERSION
             "\",\n    \"modified\": false,\n    \"differences\": []\n  }", ""},
            {"the resources pack adds are not the launcher", {"verify", "--strict", with_resources}, 0,
             "launcher:" + released + "\n", ""},
            {"nor is a signature", {"verify", "--strict", signed_release}, 0, "launcher:" + released + "\n", ""},
            {"one code byte changed", {"verify", code_changed}, 0, "launcher: " + code_differs + "\n", ""},
            {"--strict fails it", {"verify", "--strict", code_changed}, 1, "launcher: " + code_differs + "\n",
             code_changed + ": stub is a " + code_differs + ": --strict passes only the launcher of" + released + "\n"},
            {"--json of it", {"verify", "--json", code_changed}, 0,
             "\"kind\": \"modified\",\n    \"version\": null,\n    \"modified\": true,\n    \"differences\": "
             "[\n      {\n        \"part\": \"code\",\n        \"where\": \".text\",\n        \"offset\": " +
             std::to_string(code_at) + ",\n        \"bytes\": 1\n      }\n    ]", ""},
            {"a header field the resource writer leaves alone", {"verify", "--strict", header_changed}, 1,
             "launcher: modified Brisk Courier launcher (headers differ in the optional header: 1 byte at offset " +
             std::to_string(moved + 24 + 44) + ")\n", "stub is a modified Brisk Courier launcher"},
            {"pack warns of such a stub", {"pack", "-o", out, "--launch", "a", "--stub", dir / "code.exe-stub.exe", one},
             0, out + ": 1 entry", "courier-pack: warning: stub " + dir / "code.exe-stub.exe: a " + code_differs +
             ": verify says so, and verify --strict fails the carrier\n"},
            {"-q does not hide it", {"pack", "-q", "-o", out, "--launch", "a", "--stub", dir / "code.exe-stub.exe", one},
             0, "", "courier-pack: warning: stub " + dir / "code.exe-stub.exe: a " + code_differs},
            {"nor of a stub that is no launcher", {"pack", "-q", "-o", out, "--launch", "a", "--stub", plain,
                                                   "--any-stub", one},
             0, "", "stub " + plain + ": not a Brisk Courier launcher"},
            {"the release launcher as --stub draws none", {"pack", "-q", "-o", out, "--launch", "a", "--stub",
                                                           plain_release + "-stub.exe", one},
             0, "", ""},
        };
        cases.insert(cases.end(), identity.begin(), identity.end());
    }
    // Code page 1252's letter pairs at both ends of its range and beyond
    // it, and letters it keeps apart: extract makes one file of a pair.
    // The same of a file of no bytes, at either end.
    const struct {
        const char *what, *a, *b;
        bool one_file;
        std::vector<uint8_t> a_bytes = {1}, b_bytes = {2};
    } pairs[] = {{"extract of E9 't' E9 and C9 'T' C9", "\xE9t\xE9", "\xC9T\xC9", true},
                 {"extract of E0 and C0, the range's first pair", "\xE0", "\xC0", true},
                 {"extract of FE and DE, its last pair", "\xFE", "\xDE", true},
                 {"extract of FF and 9F, a pair outside it", "\xFF", "\x9F", true},
                 {"extract of F7 and D7, no letters", "\xF7", "\xD7", false},
                 {"extract of FF and DF, no pair", "\xFF", "\xDF", false},
                 {"extract of an empty file, then its file under another case", "e", "E", true, {}, {2, 2}},
                 {"extract of a file, then an empty one of it under another case", "f", "F", true, {1, 1}, {}}};
    for (size_t i = 0; i < std::size(pairs); ++i) {
        const std::string carrier_path = dir / ("pair" + std::to_string(i) + ".exe"), into = dir / ("pair" + std::to_string(i));
        write_file(carrier_path, packed_carrier(minimal_pe_stub(), pairs[i].a,
                                                {{pairs[i].a, pairs[i].a_bytes}, {pairs[i].b, pairs[i].b_bytes}}));
        const bool ascii = static_cast<unsigned char>(pairs[i].a[0]) < 0x80;
        cases.push_back({pairs[i].what, {"extract", carrier_path, "-C", into}, 0,
                         "2 entries (2 bytes) unpacked into " + into + (pairs[i].one_file ? " as 1 file" : "\n"),
                         !pairs[i].one_file ? "depends on the ANSI code page"
                         : ascii            ? "are one file on Windows; the last one stays"
                                            : "are one file on Windows (letters as code page 1252 has them)"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> args = c.args;
        const bool shell = !c.input.empty() || !c.redirect.empty() || !c.before.empty();
        if (!c.input.empty()) write_file(dir / "stdin", bytes(c.input));
        if (shell)
            args.insert(args.begin(), {"-c", c.before + "\nexec \"$0\" \"$@\" " +
                                                 (c.input.empty() ? "" : "<" + dir / "stdin" + " ") + c.redirect,
                                       COURIER_PACK_PATH});
        const ToolResult r = run(args, shell ? "sh" : COURIER_PACK_PATH);
        EXPECT_EQ(r.code, c.code);
        // A carrier on stdout (-o -) is bytes, not text.
        const bool carrier_out = std::find(c.args.begin(), c.args.end(), "-") != c.args.end();
        EXPECT_FALSE(raw_control(carrier_out ? r.err : r.out + r.err)) << "sent raw: " << r.err;
        for (const auto& [got, want] : {std::pair{r.out, c.out}, {r.err, c.err}}) {
            if (want.empty()) EXPECT_EQ(got, "");
            else EXPECT_NE(got.find(want), std::string::npos) << got;
        }
        EXPECT_FALSE(temp_left());  // -o -'s file in TMPDIR too
    }
    // The launcher's folder: the last name, as Windows makes it, and the last bytes.
    EXPECT_EQ(read_file(dir / "one-file/A"), (std::vector<uint8_t>{2, 2}));
    EXPECT_FALSE(file_exists(dir / "one-file/a"));
    EXPECT_FALSE(file_exists(dir / "one-file/A."));
    EXPECT_EQ(read_file(dir / "chosen/A"), (std::vector<uint8_t>{2, 2}));
    EXPECT_FALSE(file_exists(dir / "chosen/b"));
    for (size_t i = 0; i < std::size(pairs); ++i) {
        const std::string into = dir / ("pair" + std::to_string(i)) + "/";
        EXPECT_EQ(read_file(into + pairs[i].b), pairs[i].b_bytes) << i;
        EXPECT_EQ(file_exists(into + pairs[i].a), !pairs[i].one_file) << i;
    }

    // On a terminal, a pack that takes seconds shows its progress, then
    // clears the line; the test build shows it from the start, however fast
    // the pack.
    write_file(dir / "big.bin", random_bytes(3 << 20, 7));
    const ToolResult r = run_tool("script", {"-qec", "COURIER_PACK_PROGRESS_AT_ONCE=1 " + std::string(COURIER_PACK_PATH) + " pack -o " + out +
                                  " --launch big.bin --stub " + stub() + " " + dir / "big.bin", "/dev/null"}, dir);
    EXPECT_EQ(r.code, 0) << r.out;
    const size_t summary = r.out.find(out + ": 1 entry");
    ASSERT_NE(summary, std::string::npos) << r.out;
    const std::string before = r.out.substr(0, summary);
    const size_t last = before.rfind("% big.bin");
    ASSERT_NE(last, std::string::npos) << "no progress shown: " << r.out;
    EXPECT_EQ(before.find_first_not_of(" \r", last + 9), std::string::npos) << "not cleared: " << r.out;
}

// pack --depfile: one rule naming the carrier and every file the pack read,
// escaped as make and Ninja read it; a failed pack writes none.
TEST_F(Courier, DependencyFileNamesEveryFileRead) {
    const std::string in = folder("a b$#c", {{"setup.exe", {1}}, {"x.txt", {2}}});
    write_file(dir / "app.ico", ico_file({{16, 4, false}}));
    write_file(dir / "list", bytes(in + "/x.txt=y.txt\n"));
    const std::string out = dir / "out.exe", rule = dir / "out.d";
    std::vector<std::string> args = {"pack", "-o", out, "--launch", "setup.exe", "--stub", stub(),
                                     "--icon", dir / "app.ico", "--files-from", dir / "list",
                                     "--depfile", rule, in};
    ToolResult r = run(args);
    ASSERT_EQ(r.code, 0) << r.err;
    const std::string folder = dir / "a\\ b$$\\#c";
    std::string own_rules;  // one for each file, so make goes on once it is removed
    // x.txt once: the list's x.txt=y.txt takes the place of the folder's.
    for (const std::string& file : {stub(), dir / "app.ico", dir / "list", folder, folder + "/setup.exe",
                                    folder + "/x.txt"})
        own_rules += "\n" + file + ":\n";
    EXPECT_EQ(text(read_file(rule)), out + ": \\\n  " + stub() + " \\\n  " + dir / "app.ico" +
                                         " \\\n  " + dir / "list" + " \\\n  " + folder + " \\\n  " +
                                         folder + "/setup.exe \\\n  " + folder + "/x.txt\n" + own_rules);
    args.back() = dir / "missing";
    args[args.size() - 2] = dir / "none.d";
    EXPECT_EQ(run(args).code, 1);
    EXPECT_FALSE(file_exists(dir / "none.d"));
}

TEST_F(Courier, LongNamesWarnAndVerifyHoldsThemToTheTempLength) {
    const std::string name = std::string(206, 'n') + ".txt";  // 210: fits 236, not 199
    const std::string in = folder("in", {{name, {1}}});
    std::vector<std::string> args = {"pack", "-o", dir / "out.exe", "--launch", name,
                                     "--stub", strict_stub(), in};
    ToolResult r = run(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("warning: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("40-character %TEMP%"), std::string::npos) << r.err;
    args.insert(args.end(), {"--temp-length", "29"});
    r = run(args);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
    // The launcher succeeds under a short enough %TEMP%: a warning.
    r = run({"verify", dir / "out.exe"});
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.err.find("warning: " + dir / "out.exe: entry '"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("210 characters: with a 40-character %TEMP%"), std::string::npos) << r.err;
    r = run({"verify", "--strict", dir / "out.exe"});
    EXPECT_EQ(r.code, 1);
    r = run({"verify", "--strict", "--temp-length", "29", dir / "out.exe"});
    EXPECT_EQ(r.code, 0) << r.err;
}

// The DLLs a launch program loads, once the launcher opens it in the folder
// every carrier shares: where each comes from, as pack and verify judge it,
// one warning when any comes from that folder first, and --strict failing.
TEST_F(Courier, LaunchProgramsDllsFromTheSharedFolderAreWarnedOf) {
    const ProgramImport kernel32{"KERNEL32.dll", {"ExitProcess"}}, msvcrt{"msvcrt.dll", {"printf"}},
        version{"VERSION.dll", {"GetFileVersionInfoSizeA"}};
    auto program = [](std::vector<ProgramImport> imports, std::function<void(ProgramShape&)> more = nullptr) {
        ProgramShape shape;
        shape.imports = std::move(imports);
        if (more) more(shape);
        return program_with_imports(shape);
    };
    auto delayed = [&](ProgramImport kernel) {
        return program({kernel}, [&](ProgramShape& s) { s.delay_imports = {version}; });
    };
    auto flags = [&](int value) { return [value](ProgramShape& s) { s.dependent_load_flags = value; }; };
    // A manifest asking for no elevation, so Windows' installer detection
    // leaves setup.exe unelevated; `more` goes inside <assembly>.
    auto manifest = [](const std::string& more, const char* level = "asInvoker") {
        return "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">" + more +
               "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security><requestedPrivileges>"
               "<requestedExecutionLevel level=\"" + level + "\" uiAccess=\"false\"/></requestedPrivileges>"
               "</security></trustInfo></assembly>";
    };
    auto unelevated = [&](std::vector<ProgramImport> imports, std::function<void(ProgramShape&)> more = nullptr) {
        return program(std::move(imports), [&](ProgramShape& s) {
            s.manifest = manifest("");
            if (more) more(s);
        });
    };
    auto dll = [&](std::vector<ProgramImport> imports, std::vector<std::string> forwarders = {}) {
        return program(std::move(imports), [&](ProgramShape& s) {
            s.dll = true;
            s.forwarders = forwarders;
        });
    };
    const std::string common_controls =
        "<dependency><dependentAssembly><assemblyIdentity type=\"win32\" "
        "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" processorArchitecture=\"*\" "
        "publicKeyToken=\"6595b64144ccf1df\" language=\"*\"/></dependentAssembly></dependency>";
    const std::string for_it = "setup.exe runs elevated (";
    // The import table ends the file: its last 512 bytes, 20 a DLL.
    auto table_edited = [&](std::function<void(std::vector<uint8_t>&, size_t table)> edit) {
        std::vector<uint8_t> bytes = program({version, kernel32});
        edit(bytes, bytes.size() - 512);
        return bytes;
    };
    // Filler of the DLLs' names, so the names after it decode from matches
    // into it; 1151 blocks of 512 bytes put them 512 bytes into the chunk at
    // 576 KiB, where verify keeps a place: read back from there, after the
    // import table, they come out right only with the ring that place kept.
    const std::string pattern("VERSION.dll\0\0\0KERNEL32.dll\0\0", 28);
    std::vector<uint8_t> names;
    while (names.size() < 1151 * 512) names.insert(names.end(), pattern.begin(), pattern.end());
    names.resize(1151 * 512);
    const std::string loads = "setup.exe loads VERSION.dll from the folder it starts in first";
    struct Case {
        const char* what;
        std::vector<uint8_t> program;
        std::vector<ArchiveEntry> beside;  // packed with it
        std::string exposure;  // verify --json's dll_exposure as "name:from", "(delay)" when delay-loaded
        std::string warning;   // how the one warning starts; "" for none
        std::string note = ""; // a line verify shows
        bool by_hand = false;  // the program first and the rest after it, as pack would not order them
        std::string pack_says = "";  // a line pack prints
        std::vector<std::string> options = {};  // given to pack and verify
        std::string fails = "";  // pack refuses and verify fails, saying this; the carrier made by hand
        std::string launch = "setup.exe";  // --launch, as given
    };
    auto machine = [](uint16_t value, bool wide) {
        return [=](ProgramShape& s) { s.machine = value, s.pe32_plus = wide; };
    };
    // The known DLLs as Windows 7 SP1 to 11 all hold them, every one.
    std::vector<ProgramImport> known;
    std::string known_exposure;
    for (const char* dll : {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll",
                            "imm32.dll", "kernel32.dll", "kernelbase.dll", "msctf.dll", "msvcrt.dll",
                            "normaliz.dll", "nsi.dll", "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll",
                            "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
                            "user32.dll", "wldap32.dll", "ws2_32.dll"}) {
        known.push_back({dll});
        known_exposure += std::string(known_exposure.empty() ? "" : " ") + dll + ":system";
    }
    auto own_files = [](int load_flags, const std::string& file) {
        return [=](ProgramShape& s) {
            s.dependent_load_flags = load_flags;
            s.manifest = "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"
                         "<file name=\"" + file + "\"/></assembly>";
        };
    };
    const Case cases[] = {
        {"a mingw program importing version.dll", program({kernel32, msvcrt, version}), {},
         "KERNEL32.dll:system msvcrt.dll:system VERSION.dll:folder",
         // GNU ld's remedy only, and no copy of a DLL Windows ships
         loads + "; that folder is shared by every carrier, so a VERSION.dll another one left there would be "
                 "loaded instead: delay-load it after SetDefaultDllDirectories (GNU ld: an import library from "
                 "dlltool --output-delaylib, as the README shows). " + for_it},
        {"that program carrying version.dll", unelevated({kernel32, msvcrt, version}), {{"version.dll", {1}}},
         "KERNEL32.dll:system msvcrt.dll:system VERSION.dll:archive", "", "", false,
         "version.dll packed before setup.exe, which loads it: the launcher writes it before it can open it\n"},
        {"carrying it after the program, as pack never does", program({version}), {{"version.dll", {1}}},
         "VERSION.dll:folder", "setup.exe loads VERSION.dll, which the archive carries only after setup.exe: "
         "should writing it fail", "", true},
        {"the launch file written again: the last entry's bytes run", program({kernel32}),
         {{"SETUP.EXE", program({version})}}, "VERSION.dll:folder", loads, "", true},
        {"naming it without its extension", unelevated({{"VERSION", {"f"}}}), {{"version.dll", {1}}},
         "VERSION:archive", ""},
        {"delay-loading version.dll", delayed(kernel32), {}, "KERNEL32.dll:system VERSION.dll:folder(delay)",
         "setup.exe delay-loads VERSION.dll and imports no SetDefaultDllDirectories"},
        {"delay-loading it after SetDefaultDllDirectories",
         delayed({"KERNEL32.dll", {"ExitProcess", "SetDefaultDllDirectories"}}), {},
         "KERNEL32.dll:system VERSION.dll:program(delay)", "",
         "setup.exe: delay-loads VERSION.dll and imports SetDefaultDllDirectories"},
        {"DependentLoadFlags 0x800, which Windows before 10 1607 ignores", program({kernel32, version}, flags(0x800)),
         {}, "KERNEL32.dll:system VERSION.dll:folder",
         loads + "; that folder is shared by every carrier, so a VERSION.dll another one left there would be "
                 "loaded instead: pack with --min-windows 10.1607 if no older Windows runs it",
         "setup.exe: DependentLoadFlags 0x800 keeps its static imports to the system folder only on Windows 10"},
        {"DependentLoadFlags 0x800 for Windows 10 1607 on", program({kernel32, version}, flags(0x800)), {},
         "KERNEL32.dll:system VERSION.dll:system", "",
         "setup.exe: DependentLoadFlags 0x800 keeps its static imports to the system folder (on Windows 10",
         false, "", {"--min-windows", "10.1607"}},
        {"DependentLoadFlags past the size its directory declares",
         program({kernel32, version}, [](ProgramShape& s) {
             s.dependent_load_flags = 0x800;
             s.load_config_declared = 48;
         }), {}, "KERNEL32.dll:system VERSION.dll:folder", loads, "", false, "", {"--min-windows", "10.1607"}},
        {"an MSVC program: its linker's remedies",
         program({kernel32, version}, [](ProgramShape& s) {
             s.dependent_load_flags = 0;
             s.linker_major = 14;
         }), {}, "KERNEL32.dll:system VERSION.dll:folder",
         loads + "; that folder is shared by every carrier, so a VERSION.dll another one left there would be "
                 "loaded instead: link it with /DEPENDENTLOADFLAG:0x800 (system folder only, honoured from "
                 "Windows 10 version 1607: pack with --min-windows 10.1607) or delay-load it (/DELAYLOAD) "
                 "after SetDefaultDllDirectories."},
        {"a DLL only some Windows have, which it may carry", unelevated({kernel32, {"VCRUNTIME140.dll"}}), {},
         "KERNEL32.dll:system VCRUNTIME140.dll:folder",
         "setup.exe loads VCRUNTIME140.dll from the folder it starts in first; that folder is shared by every "
         "carrier, so a VCRUNTIME140.dll another one left there would be loaded instead: delay-load it after "
         "SetDefaultDllDirectories (GNU ld: an import library from dlltool --output-delaylib, as the README "
         "shows) or carry VCRUNTIME140.dll in the archive. setup.exe may not start: not every Windows from "
         "Windows 7 SP1 on has VCRUNTIME140.dll"},
        {"DependentLoadFlags that add the program's folder", program({kernel32, version}, flags(0x1800)), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads, "0x1800 still lets its static imports come"},
        {"a manifest naming version.dll as its own file, flags 0x800 or not",
         program({version}, own_files(0x800, "version.dll")), {}, "VERSION.dll:folder",
         "setup.exe's manifest names VERSION.dll as its own file",
         "setup.exe: its manifest takes its own files version.dll from the folder it starts in"},
        {"a manifest naming a known DLL as its own file", unelevated({kernel32, {"USER32.dll"}}, own_files(-1, "user32.dll")),
         {}, "KERNEL32.dll:system USER32.dll:folder", "setup.exe's manifest names USER32.dll as its own file"},
        // Each search flag that adds a folder to 0x800.
        {"DependentLoadFlags 0x900, the DLL's own folder too", unelevated({kernel32, version}, flags(0x900)), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads, "0x900 still lets its static imports come", false, "", {"--min-windows", "10.1607"}},
        {"DependentLoadFlags 0xA00, the program's folder too", unelevated({kernel32, version}, flags(0xA00)), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads, "0xA00 still lets its static imports come", false, "", {"--min-windows", "10.1607"}},
        {"DependentLoadFlags 0x800 and a delay-loaded DLL, loaded with the default search",
         unelevated({kernel32}, [&](ProgramShape& s) {
             s.delay_imports = {version};
             s.dependent_load_flags = 0x800;
         }), {}, "KERNEL32.dll:system VERSION.dll:folder(delay)",
         "setup.exe delay-loads VERSION.dll and imports no SetDefaultDllDirectories", "", false, "", {"--min-windows", "10.1607"}},
        // The load configuration's length against the flags' end, 56 bytes in.
        {"a load configuration that ends with the flags", unelevated({kernel32, version}, [](ProgramShape& s) {
             s.dependent_load_flags = 0x800, s.load_config_length = 56;
         }), {}, "KERNEL32.dll:system VERSION.dll:system", "", "0x800 keeps its static imports", false, "", {"--min-windows", "10.1607"}},
        {"one that ends a byte before them", unelevated({kernel32, version}, [](ProgramShape& s) {
             s.dependent_load_flags = 0x800, s.load_config_length = 55;
         }), {}, "KERNEL32.dll:system VERSION.dll:folder", loads, "", false, "", {"--min-windows", "10.1607"}},
        // Each DLL SetDefaultDllDirectories comes from.
        {"SetDefaultDllDirectories from kernelbase.dll", delayed({"kernelbase.dll", {"SetDefaultDllDirectories"}}),
         {}, "kernelbase.dll:system VERSION.dll:program(delay)", ""},
        {"SetDefaultDllDirectories from the loader's API set",
         delayed({"api-ms-win-core-libraryloader-l1-1-0.dll", {"SetDefaultDllDirectories"}}), {},
         "api-ms-win-core-libraryloader-l1-1-0.dll:system VERSION.dll:program(delay)", ""},
        // One row per machine Windows runs programs of, and one it does not.
        {"an x64 program", program({kernel32, version}, [](ProgramShape& s) { s.pe32_plus = true; }), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads},
        {"known DLLs and API sets Windows 7 SP1 maps only",
         unelevated({{"USER32.dll"}, {"ADVAPI32.dll"}, {"api-ms-win-core-synch-l1-1-0.dll"}}), {},
         "USER32.dll:system ADVAPI32.dll:system api-ms-win-core-synch-l1-1-0.dll:system", "",
         "setup.exe: imports no SetDefaultDllDirectories, so the DLLs Windows loads for it by name"},
        {"an API set the running Windows may not map", unelevated({{"api-ms-win-core-rt4probe-l1-1-0.dll"}}), {},
         "api-ms-win-core-rt4probe-l1-1-0.dll:folder",
         "setup.exe loads api-ms-win-core-rt4probe-l1-1-0.dll from the folder it starts in first"},
        {"the UCRT's API sets, files before Windows 10", unelevated({{"api-ms-win-crt-runtime-l1-1-0.dll"}}), {},
         "api-ms-win-crt-runtime-l1-1-0.dll:folder",
         "setup.exe loads api-ms-win-crt-runtime-l1-1-0.dll from the folder it starts in first"},
        {"the UCRT's API sets from Windows 10 1607 on", unelevated({{"api-ms-win-crt-runtime-l1-1-0.dll"}}), {},
         "api-ms-win-crt-runtime-l1-1-0.dll:system", "", "", false, "", {"--min-windows", "10.1607"}},
        {"comctl32 from the side-by-side store", unelevated({kernel32, {"COMCTL32.DLL"}}, [&](ProgramShape& s) {
             s.manifest = manifest(common_controls);
         }), {}, "KERNEL32.dll:system COMCTL32.DLL:system", ""},
        {"comctl32 without the manifest's dependency", unelevated({kernel32, {"COMCTL32.DLL"}}), {},
         "KERNEL32.dll:system COMCTL32.DLL:folder", "setup.exe loads COMCTL32.DLL from the folder"},
        {"a carried DLL's own import", unelevated({kernel32, {"helper.dll"}}),
         {{"helper.dll", dll({kernel32, version})}}, "KERNEL32.dll:system helper.dll:archive VERSION.dll:folder",
         "setup.exe loads VERSION.dll (setup.exe -> helper.dll -> VERSION.dll) from the folder it starts in first"},
        {"a carried DLL's forwarded export", unelevated({kernel32, {"helper.dll"}}),
         {{"helper.dll", dll({kernel32}, {"VERSION.GetFileVersionInfoSizeA"})}},
         "KERNEL32.dll:system helper.dll:archive VERSION:folder",
         "setup.exe loads VERSION (setup.exe -> helper.dll -> VERSION) from the folder it starts in first"},
        {"carried DLLs that import each other", unelevated({kernel32, {"a.dll"}}),
         {{"a.dll", dll({{"b.dll"}})}, {"b.dll", dll({{"a.dll"}, version})}},
         "KERNEL32.dll:system a.dll:archive b.dll:archive VERSION.dll:folder",
         "setup.exe loads VERSION.dll (setup.exe -> a.dll -> b.dll -> VERSION.dll)"},
        {"a setup program of known DLLs only, elevated by its name", program({kernel32, {"USER32.dll"}}), {},
         "KERNEL32.dll:system USER32.dll:system",
         for_it + "Windows takes it for an installer by its name and asks for administrator rights) and imports "
                  "no SetDefaultDllDirectories, so the DLLs Windows loads for it by name (uxtheme.dll for its "
                  "windows, dwmapi.dll, cryptbase.dll, ...) come from the folder it starts in first"},
        {"an x64 program whose manifest asks for elevation",
         unelevated({kernel32}, [&](ProgramShape& s) {
             s.pe32_plus = true;
             s.manifest = manifest("", "requireAdministrator");
         }), {}, "KERNEL32.dll:system", for_it + "its manifest asks for requireAdministrator)"},
        {"elevated, but calling SetDefaultDllDirectories",
         program({{"KERNEL32.dll", {"ExitProcess", "SetDefaultDllDirectories"}}}), {}, "KERNEL32.dll:system", ""},
        {"a warning accepted by name", unelevated({kernel32, version}), {}, "KERNEL32.dll:system VERSION.dll:folder",
         "", "setup.exe: loads VERSION.dll from the folder it starts in first, a warning accepted by --accept-dll",
         false, "", {"--accept-dll", "version.dll"}},
        {"one accepted, another not", unelevated({kernel32, version, {"dwmapi.dll"}}), {},
         "KERNEL32.dll:system VERSION.dll:folder dwmapi.dll:folder",
         "setup.exe loads dwmapi.dll from the folder it starts in first", "", false, "",
         {"--accept-dll", "VERSION.dll"}},
        {"mingw's runtime DLL, neither carried nor in Windows", unelevated({kernel32, {"libgcc_s_dw2-1.dll"}}), {},
         "KERNEL32.dll:system libgcc_s_dw2-1.dll:missing", "", "", false, "", {},
         "setup.exe cannot start: it loads libgcc_s_dw2-1.dll, which the archive does not carry and Windows does "
         "not have: carry libgcc_s_dw2-1.dll (for mingw's runtime"},
        {"that DLL carried", unelevated({kernel32, {"libgcc_s_dw2-1.dll"}}), {{"libgcc_s_dw2-1.dll", dll({kernel32})}},
         "KERNEL32.dll:system libgcc_s_dw2-1.dll:archive", ""},
        {"an ARM program", program({kernel32, version}, machine(0x1C4, false)), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads},
        {"an ARM64 program", program({kernel32, version}, machine(0xAA64, true)), {},
         "KERNEL32.dll:system VERSION.dll:folder", loads},
        {"an Itanium program, which no Windows here runs", program({kernel32, version}, machine(0x200, true)), {},
         "null", ""},
        {"every known DLL", unelevated(known), {}, known_exposure, ""},
        {"a launch file that is no program", bytes("@echo off\r\n"), {}, "null", ""},
        {"an import table cut short", table_edited([](auto& b, size_t table) { b.resize(table + 30); }), {},
         "VERSION.dll:folder", loads, "setup.exe: import table: DLL 2 is cut short: the file ends inside it"},
        {"an import name 10,000 bytes long", program({version, {std::string(10000, 'a') + ".dll"}}), {},
         "VERSION.dll:folder", loads, "setup.exe: import table: the name of DLL 2 is longer than 255 characters"},
        {"an import table that loops", program({version}, [](ProgramShape& s) { s.table_mappings = 5; }), {},
         "VERSION.dll:folder", loads, "import table: more than 4096 DLLs; the rest are not read"},
        {"a name outside every section", table_edited([](auto& b, size_t table) { b[table + 20 + 15] = 0x7F; }),
         {}, "VERSION.dll:folder", loads, "setup.exe: import table: the name of DLL 2 lies outside every section"},
        {"its names 576 KiB before its import table", program({kernel32, version}, [&](ProgramShape& s) {
             s.filler = names;
         }), {}, "KERNEL32.dll:system VERSION.dll:folder", loads},
        // The launch file found as Windows compares names.
        {"--launch spelt otherwise than the file", unelevated({kernel32, version}), {{"version.dll", {1}}},
         "KERNEL32.dll:system VERSION.dll:archive", "", "", false,
         "version.dll packed before SETUP.EXE, which loads it", {}, "", "SETUP.EXE"},
        {"the launch name's last entry, the one that runs", program({kernel32}),
         {{"setup.exe", program({kernel32, version})}}, "KERNEL32.dll:system VERSION.dll:folder", loads, "", true},
    };
    const std::string out = dir / "dlls.exe";
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string in = folder("dlls" + std::to_string(n++), c.beside);
        write_file(in + "/setup.exe", c.program);
        auto with_options = [&](std::vector<std::string> args) {
            args.insert(args.end() - 1, c.options.begin(), c.options.end());
            return args;
        };
        if (!c.by_hand) {
            fs::remove(out);
            const ToolResult packed =
                run(with_options({"pack", "-o", out, "--launch", c.launch, "--stub", strict_stub(), in}));
            ASSERT_EQ(packed.code, c.fails.empty() ? 0 : 1) << packed.err;
            EXPECT_NE(packed.out.find(c.pack_says), std::string::npos) << packed.out;
            if (!c.fails.empty()) {
                EXPECT_NE(packed.err.find("courier-pack: " + c.fails), std::string::npos) << packed.err;
                EXPECT_FALSE(fs::exists(out));
            } else if (c.warning.empty()) {
                EXPECT_EQ(packed.err, "");
            } else {
                EXPECT_EQ(packed.err.find("courier-pack: warning: " + c.warning), 0u) << packed.err;
            }
        }
        if (c.by_hand || !c.fails.empty()) {
            std::vector<ArchiveEntry> entries = {{"setup.exe", c.program}};
            entries.insert(entries.end(), c.beside.begin(), c.beside.end());
            write_file(out, packed_carrier(release().empty() ? minimal_pe_stub() : release(), c.launch, entries));
        }
        const int verdict = c.fails.empty() ? 0 : 1;
        ToolResult r = run(with_options({"verify", "--json", out}));
        EXPECT_EQ(r.code, verdict) << r.err;
        const Json document = Json::parse(r.out);
        const Json& found = document["launch"]["dll_exposure"];
        std::string exposure = found.is_null() ? "null" : "";
        for (const Json& dll : found)
            exposure += (exposure.empty() ? "" : " ") + dll["name"].get<std::string>() + ":" +
                        dll["from"].get<std::string>() + (dll["delay_loaded"].get<bool>() ? "(delay)" : "");
        EXPECT_EQ(exposure, c.exposure);
        std::vector<std::string> warnings;
        for (const Json& w : document["warnings"])
            if (w["kind"] == "dll-from-shared-folder") warnings.push_back(w["message"]);
        ASSERT_EQ(warnings.size(), c.warning.empty() ? 0u : 1u);
        for (const std::string& w : warnings) EXPECT_EQ(w.find(c.warning), 0u) << w;
        r = run(with_options({"verify", out}));
        EXPECT_EQ(r.code, verdict);
        EXPECT_NE(r.out.find(c.note), std::string::npos) << r.out;
        if (!c.fails.empty()) {
            EXPECT_NE(r.err.find(out + ": " + c.fails), std::string::npos) << r.err;
        } else if (c.warning.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find("warning: " + out + ": " + c.warning), std::string::npos) << r.err;
        }
        EXPECT_EQ(run(with_options({"verify", "--strict", out})).code, c.warning.empty() ? verdict : 1);
    }
}

// The lists the DLL verdicts trust, whole: one row per member, each
// judged as the list says, and no member the rows do not name. A name
// dropped from a list, or added to one, fails here.
TEST(WindowsDlls, EveryListedDllIsJudgedAsItsListSays) {
    const WindowsRange old = WindowsRange::kFrom7Sp1, later = WindowsRange::kFrom10v1607;
    struct Row {
        const char* list;
        std::vector<std::string> names;
        bool known;
        bool mapped_old, mapped_later;  // an API set each range maps
        Shipped old_has, later_has;
    };
    const Row rows[] = {
        {"known", {"advapi32.dll", "clbcatq.dll", "comdlg32.dll", "gdi32.dll", "imagehlp.dll", "imm32.dll",
                   "kernel32.dll", "kernelbase.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll",
                   "ntdll.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll",
                   "setupapi.dll", "shell32.dll", "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll"},
         true, false, false, Shipped::kEvery, Shipped::kEvery},
        {"api_sets_everywhere",
         {"api-ms-win-core-console-l1-1-0.dll", "api-ms-win-core-datetime-l1-1-0.dll",
          "api-ms-win-core-debug-l1-1-0.dll", "api-ms-win-core-delayload-l1-1-0.dll",
          "api-ms-win-core-errorhandling-l1-1-0.dll", "api-ms-win-core-fibers-l1-1-0.dll",
          "api-ms-win-core-file-l1-1-0.dll", "api-ms-win-core-handle-l1-1-0.dll",
          "api-ms-win-core-heap-l1-1-0.dll", "api-ms-win-core-interlocked-l1-1-0.dll",
          "api-ms-win-core-io-l1-1-0.dll", "api-ms-win-core-libraryloader-l1-1-0.dll",
          "api-ms-win-core-localization-l1-1-0.dll", "api-ms-win-core-localregistry-l1-1-0.dll",
          "api-ms-win-core-memory-l1-1-0.dll", "api-ms-win-core-misc-l1-1-0.dll",
          "api-ms-win-core-namedpipe-l1-1-0.dll", "api-ms-win-core-processenvironment-l1-1-0.dll",
          "api-ms-win-core-processthreads-l1-1-0.dll", "api-ms-win-core-profile-l1-1-0.dll",
          "api-ms-win-core-rtlsupport-l1-1-0.dll", "api-ms-win-core-string-l1-1-0.dll",
          "api-ms-win-core-synch-l1-1-0.dll", "api-ms-win-core-sysinfo-l1-1-0.dll",
          "api-ms-win-core-threadpool-l1-1-0.dll", "api-ms-win-core-util-l1-1-0.dll",
          "api-ms-win-core-xstate-l1-1-0.dll", "api-ms-win-security-base-l1-1-0.dll",
          "api-ms-win-security-lsalookup-l1-1-0.dll", "api-ms-win-security-sddl-l1-1-0.dll",
          "api-ms-win-service-core-l1-1-0.dll", "api-ms-win-service-management-l1-1-0.dll",
          "api-ms-win-service-management-l2-1-0.dll", "api-ms-win-service-winsvc-l1-1-0.dll"},
         false, true, true, Shipped::kEvery, Shipped::kEvery},
        {"api_sets_from_10",
         {"api-ms-win-crt-conio-l1-1-0.dll", "api-ms-win-crt-convert-l1-1-0.dll",
          "api-ms-win-crt-environment-l1-1-0.dll", "api-ms-win-crt-filesystem-l1-1-0.dll",
          "api-ms-win-crt-heap-l1-1-0.dll", "api-ms-win-crt-locale-l1-1-0.dll", "api-ms-win-crt-math-l1-1-0.dll",
          "api-ms-win-crt-multibyte-l1-1-0.dll", "api-ms-win-crt-private-l1-1-0.dll",
          "api-ms-win-crt-process-l1-1-0.dll", "api-ms-win-crt-runtime-l1-1-0.dll",
          "api-ms-win-crt-stdio-l1-1-0.dll", "api-ms-win-crt-string-l1-1-0.dll", "api-ms-win-crt-time-l1-1-0.dll",
          "api-ms-win-crt-utility-l1-1-0.dll", "api-ms-win-core-file-l1-2-0.dll",
          "api-ms-win-core-synch-l1-2-0.dll", "api-ms-win-core-winrt-l1-1-0.dll",
          "api-ms-win-core-winrt-string-l1-1-0.dll"},
         false, false, true, Shipped::kSome, Shipped::kEvery},
        {"shipped_everywhere",
         {"activeds.dll", "apphelp.dll", "atl.dll", "authz.dll", "avifil32.dll", "bcrypt.dll",
          "bcryptprimitives.dll", "cabinet.dll", "cfgmgr32.dll", "comctl32.dll", "credui.dll", "crypt32.dll",
          "cryptbase.dll", "cryptnet.dll", "cryptsp.dll", "cryptui.dll", "d2d1.dll", "d3d10.dll", "d3d10_1.dll",
          "d3d11.dll", "d3d9.dll", "dbghelp.dll", "ddraw.dll", "dhcpcsvc.dll", "dinput.dll", "dinput8.dll",
          "dnsapi.dll", "dsound.dll", "dwmapi.dll", "dwrite.dll", "dxgi.dll", "dxva2.dll", "evr.dll",
          "faultrep.dll", "fltlib.dll", "gdiplus.dll", "glu32.dll", "hid.dll", "iphlpapi.dll", "ktmw32.dll",
          "mapi32.dll", "mf.dll", "mfc42.dll", "mfc42u.dll", "mfplat.dll", "mfreadwrite.dll", "mlang.dll",
          "mpr.dll", "msacm32.dll", "msasn1.dll", "mscms.dll", "mscoree.dll", "msftedit.dll", "msi.dll",
          "msimg32.dll", "msvcp60.dll", "msvfw32.dll", "mswsock.dll", "msxml3.dll", "msxml6.dll", "ncrypt.dll",
          "netapi32.dll", "newdev.dll", "ntdsapi.dll", "ntmarta.dll", "odbc32.dll", "oleacc.dll", "oledlg.dll",
          "olepro32.dll", "opengl32.dll", "pdh.dll", "powrprof.dll", "profapi.dll", "propsys.dll",
          "rasapi32.dll", "riched20.dll", "riched32.dll", "rstrtmgr.dll", "secur32.dll", "sfc.dll",
          "shdocvw.dll", "shfolder.dll", "sspicli.dll", "sxs.dll", "tapi32.dll", "urlmon.dll", "userenv.dll",
          "usp10.dll", "uxtheme.dll", "version.dll", "vssapi.dll", "wer.dll", "wevtapi.dll",
          "windowscodecs.dll", "winhttp.dll", "wininet.dll", "winmm.dll", "winscard.dll", "winspool.drv",
          "winsta.dll", "wintrust.dll", "wlanapi.dll", "wsock32.dll", "wtsapi32.dll", "xinput9_1_0.dll",
          "xmllite.dll"},
         false, false, false, Shipped::kEvery, Shipped::kEvery},
        {"shipped_from_10",
         {"combase.dll", "d3d12.dll", "d3dcompiler_47.dll", "dcomp.dll", "shcore.dll", "ucrtbase.dll",
          "windows.storage.dll", "xinput1_4.dll"},
         false, false, false, Shipped::kSome, Shipped::kEvery},
        {"shipped_by_some",
         {"concrt140.dll", "d3dcompiler_43.dll", "d3dx10_43.dll", "d3dx11_43.dll", "d3dx9_43.dll", "mfc140.dll",
          "mfc140u.dll", "msvcp100.dll", "msvcp110.dll", "msvcp120.dll", "msvcp140.dll", "msvcp140_1.dll",
          "msvcp140_2.dll", "msvcp71.dll", "msvcp80.dll", "msvcp90.dll", "msvcr100.dll", "msvcr110.dll",
          "msvcr120.dll", "msvcr71.dll", "msvcr80.dll", "msvcr90.dll", "opencl.dll", "vcomp140.dll",
          "vcruntime140.dll", "vcruntime140_1.dll", "vulkan-1.dll", "xaudio2_7.dll", "xinput1_3.dll"},
         false, false, false, Shipped::kSome, Shipped::kSome},
        // Outside every list: searched for, and in no Windows.
        {"none", {"libgcc_s_dw2-1.dll", "libstdc++-6.dll", "libwinpthread-1.dll", "helper.dll"},
         false, false, false, Shipped::kNone, Shipped::kNone},
        // API sets no list names: some Windows may map them.
        {"none", {"api-ms-win-core-rt4probe-l1-1-0.dll", "ext-ms-win-x-l1-1-0.dll"},
         false, false, false, Shipped::kSome, Shipped::kSome},
    };
    const WindowsDllLists lists = windows_dll_lists();
    const std::map<std::string, const std::vector<std::string>*> kept = {
        {"known", &lists.known}, {"api_sets_everywhere", &lists.api_sets_everywhere},
        {"api_sets_from_10", &lists.api_sets_from_10}, {"shipped_everywhere", &lists.shipped_everywhere},
        {"shipped_from_10", &lists.shipped_from_10}, {"shipped_by_some", &lists.shipped_by_some}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.list);
        if (kept.count(row.list)) {
            EXPECT_EQ(*kept.at(row.list), row.names) << "the list holds other members";
        }
        for (const std::string& name : row.names) {
            SCOPED_TRACE(name);
            std::string upper = name;
            for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
            for (const std::string& spelled : {name, upper}) {
                EXPECT_EQ(is_known_dll(spelled), row.known);
                EXPECT_EQ(resolves_api_set(spelled, old), row.mapped_old);
                EXPECT_EQ(resolves_api_set(spelled, later), row.mapped_later);
                EXPECT_EQ(windows_ships(spelled, old), row.old_has);
                EXPECT_EQ(windows_ships(spelled, later), row.later_has);
            }
        }
    }
    // The side-by-side assemblies, each with its one DLL.
    EXPECT_TRUE(assembly_provides("Microsoft.Windows.Common-Controls", "COMCTL32.DLL"));
    EXPECT_TRUE(assembly_provides("Microsoft.Windows.GdiPlus", "gdiplus.dll"));
    EXPECT_FALSE(assembly_provides("Microsoft.Windows.Common-Controls", "gdiplus.dll"));
    EXPECT_FALSE(assembly_provides("Microsoft.VC90.CRT", "msvcr90.dll"));
    // DependentLoadFlags: 0x800 alone keeps to the system folder; each
    // bit that adds a folder undoes it.
    const std::pair<uint16_t, bool> flags[] = {{0x800, true},   {0x800 | 0x400, true}, {0x900, false},
                                               {0xA00, false},  {0x1800, false},       {0, false},
                                               {0x1000, false}, {0x100, false}};
    for (const auto& [value, only] : flags) EXPECT_EQ(system_folder_only(value), only) << value;
}

// The machines Windows runs programs of, one row each, and one it does not.
TEST(WindowsDlls, ProgramsOfEachMachineWindowsRunsAreRead) {
    const std::pair<uint16_t, bool> machines[] = {
        {0x014C, true}, {0x8664, true}, {0x01C4, true}, {0xAA64, true}, {0x0200, false}, {0x0166, false}};
    for (const auto& [machine, runs] : machines) {
        ProgramShape shape;
        shape.imports = {{"VERSION.dll"}};
        std::vector<uint8_t> image = program_with_imports(shape);
        image[0x44] = uint8_t(machine), image[0x45] = uint8_t(machine >> 8);
        struct Bytes final : ImageBytes {
            const std::vector<uint8_t>& b;
            explicit Bytes(const std::vector<uint8_t>& bytes) : b(bytes) {}
            uint64_t size() const override { return b.size(); }
            size_t read(uint64_t at, uint8_t* out, size_t n) override {
                const size_t got = at < b.size() ? std::min<size_t>(n, b.size() - size_t(at)) : 0;
                if (got) std::memcpy(out, b.data() + at, got);
                return got;
            }
        } bytes(image);
        const ProgramImports imports = read_program_imports(bytes);
        EXPECT_EQ(imports.not_a_program.empty(), runs) << machine << ": " << imports.not_a_program;
        EXPECT_EQ(imports.dlls.size(), runs ? 1u : 0u) << machine;
    }
}

TEST_F(Courier, ListShowsAlignedSizesAndTotals) {
    const std::vector<ArchiveEntry> files = {
        {"readme.txt", text_like(30000, 1)}, {"e", {}}, {"zeros.bin", std::vector<uint8_t>(100000, 0)}};
    const std::string in = folder("in", files);
    ASSERT_EQ(run({"pack", "-o", dir / "out.exe", "--launch", "readme.txt", "--stub", stub(),
                   in + "/readme.txt", in + "/e", in + "/zeros.bin"}).code, 0);
    const ToolResult r = run({"list", dir / "out.exe"});
    ASSERT_EQ(r.code, 0) << r.err;
    auto got = lines(r.out);
    ASSERT_EQ(got.size(), 7u) << r.out;
    EXPECT_EQ(got[0].rfind("launcher: ", 0), 0u) << r.out;  // the identity table has its verdicts
    got.erase(got.begin());
    EXPECT_EQ(got[0], "launch: readme.txt");

    const size_t s0 = stored_size(files[0].data), s2 = stored_size(files[2].data);
    auto percent = [](size_t stored, size_t decoded) {
        char t[32];
        std::snprintf(t, sizeof t, "%.1f%%", 100.0 * double(stored) / double(decoded));
        return std::string(t);
    };
    const std::vector<std::vector<std::string>> want = {
        {"name", "stored", "decoded", "ratio"},
        {"readme.txt", std::to_string(s0), "30000", percent(s0, 30000)},
        {"e", "0", "0", "-"},
        {"zeros.bin", std::to_string(s2), "100000", percent(s2, 100000)},
        {"total (3 entries)", std::to_string(s0 + s2), "130000", percent(s0 + s2, 130000)},
    };
    // Name columns start every line; numbers end at the same column in every line.
    for (size_t i = 0; i < want.size(); ++i) {
        const std::string& line = got[i + 1];
        EXPECT_EQ(line.rfind(want[i][0], 0), 0u) << line;
        size_t end = line.size();
        for (size_t c = 3; c >= 1; --c) {
            const std::string& cell = want[i][c];
            EXPECT_EQ(line.substr(end - cell.size(), cell.size()), cell) << line;
            end -= cell.size();
            EXPECT_EQ(line.substr(end - 2, 2), "  ") << line;
            end = line.find_last_not_of(' ', end - 1) + 1;
        }
        EXPECT_EQ(line.size(), got[2].size()) << "right edges line up";
    }

    // The same, and the integrity record, as one JSON document; verify's is list's.
    const auto carrier = read_file(dir / "out.exe");
    const size_t stub_size = minimal_pe_stub().size(), archive = stub_size + 28;
    const Json want_doc = {
        {"format_version", 1}, {"command", "list"}, {"carrier", dir / "out.exe"}, {"ok", true}, {"failure", nullptr},
        {"integrity", {{"state", "intact"}, {"carrier_length", carrier.size()},
                       {"archive_offset", archive}, {"archive_length", carrier.size() - 4 - archive},
                       {"archive_crc32", crc32_update(0, carrier.data() + archive, carrier.size() - 4 - archive)}}},
        {"signature", nullptr}, {"archive_offset", archive},
        {"launch", {{"name", "readme.txt"}, {"opens", true}, {"dll_exposure", nullptr}, {"dll_search", nullptr}}},
        {"entries", {{{"name", "readme.txt"}, {"offset", 11}, {"stored", s0}, {"decoded", 30000}},
                     {{"name", "e"}, {"offset", 11 + 15 + s0}, {"stored", 0}, {"decoded", 0}},
                     {{"name", "zeros.bin"}, {"offset", 11 + 15 + s0 + 6}, {"stored", s2}, {"decoded", 100000}}}},
        {"total", {{"entries", 3}, {"stored", s0 + s2}, {"decoded", 130000}, {"pauses_ms", 3 * 100 + 500}}},
        {"warnings", Json::array()}, {"warnings_not_listed", Json::object()}, {"resources", nullptr}};
    for (const char* command : {"list", "verify"}) {
        const ToolResult r = run({command, "--json", dir / "out.exe"});
        EXPECT_EQ(r.code, 0) << r.err;
        Json want = want_doc, doc = Json::parse(r.out);
        want["command"] = command;
        EXPECT_TRUE(doc["launcher"].is_object()) << r.out;
        doc.erase("launcher");
        EXPECT_EQ(doc, want) << r.out;
    }
}

// A crafted carrier of 1,000,001 entries, as bench/hostile.sh makes one:
// list shows the first million and says so, and the totals count them all.
TEST_F(Courier, ListingStopsAtAMillionEntriesAndCountsThemAll) {
    const auto last = text_like(3000, 1);
    std::vector<uint8_t> archive;
    append_name(archive, "last");
    char name[8];
    for (int i = 0; i < 1000000; ++i) {
        std::snprintf(name, sizeof name, "%06x", i);
        archive.insert(archive.end(), name, name + 7);  // the name, its NUL
        archive.insert(archive.end(), 4, 0);            // stored size 0
    }
    ASSERT_TRUE(append_entry(archive, "last", last.data(), last.size(), EncoderOptions()));
    archive.push_back(0);
    write_file(dir / "many.exe", carrier_around(archive));
    const std::string stored = std::to_string(stored_size(last));
    char ratio[32];
    std::snprintf(ratio, sizeof ratio, "%.1f%%", 100.0 * double(stored_size(last)) / 3000.0);
    // 100 MB of output: to a file, read in one go (a stream's iterators
    // take longer under the sanitizers than the listing itself).
    auto output = [&](const char* options) {
        const ToolResult r = run({"-c", std::string("exec \"$0\" list ") + options + " \"$1\" >\"$2\"",
                                  COURIER_PACK_PATH, dir / "many.exe", dir / "many.out"}, "sh");
        EXPECT_EQ(r.code, 0) << r.err;
        std::string text(size_t(fs::file_size(dir / "many.out")), '\0');
        FILE* in = std::fopen((dir / "many.out").c_str(), "rb");
        EXPECT_EQ(std::fread(&text[0], 1, text.size(), in), text.size());
        std::fclose(in);
        return text;
    };

    std::string text = output("");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 1000000);
    EXPECT_EQ(text.find("entries after the first 1000000 are checked and counted, not listed or compared by name\n"),
              text.find('\n') + 1);
    const auto tail = lines(text.substr(text.rfind("\n0f423f ") + 1));
    ASSERT_EQ(tail.size(), 2u);
    EXPECT_EQ(lines(std::regex_replace(tail[1], std::regex("  +"), "\n")),
              (std::vector<std::string>{"total (1000001 entries)", stored, "3000", ratio}));

    text = output("--json");
    size_t entries = 0;
    for (size_t at = text.find("\"offset\": "); at != std::string::npos; at = text.find("\"offset\": ", at + 1))
        ++entries;
    EXPECT_EQ(entries, 1000000u);
    EXPECT_NE(text.find("\"total\": {\n    \"entries\": 1000001,\n    \"stored\": " + stored +
                        ",\n    \"decoded\": 3000,\n"),
              std::string::npos);

    // Long names stop it sooner, at what the kept ones take: a million of
    // 236 characters would hold 300 MB. Those kept are the first.
    Carrier held;
    CarrierEntry entry;
    entry.name.assign(236, 'n');
    for (int i = 0; i < 1000000; ++i) held.add_entry(entry);
    entry.name = "a";
    held.add_entry(entry);
    EXPECT_LE(held.listed_bytes, kMostListedBytes);
    EXPECT_LT(held.entries.size(), 300000u);
    EXPECT_EQ(held.entries.back().name.size(), 236u);
    EXPECT_EQ(held.entry_count(), 1000001u);
}

uint32_t u32_at(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24;
}

TEST_F(Courier, DamagedCarriersFailWhereTheLauncherWould) {
    const std::vector<ArchiveEntry> entries = {{"first.txt", text_like(20000, 1)},
                                               {"second.bin", random_bytes(5000, 2)}};
    const std::string launch = "first.txt";
    const auto good = build_carrier(pe_header_stub(), launch, entries);
    const size_t stub_size = pe_header_stub().size();
    // Archive offsets of each entry's first chunk record, and of the second's name.
    const size_t first = launch.size() + 1 + entries[0].name.size() + 1 + 4;
    const size_t second = first + stored_size(entries[0].data);
    const size_t record = second + entries[1].name.size() + 1 + 4;

    // Without its end marker the archive runs into the trailer, whose first
    // byte (a 1000-byte stub) reads as a two-character name.
    std::vector<uint8_t> unended_archive = archive_of(launch, {entries[0]});
    unended_archive.pop_back();
    const auto unended = carrier_of(pe_header_stub(0x14C, 0x40, 1000), unended_archive);
    const size_t unended_end = unended_archive.size();

    struct Case {
        const char* what;
        std::vector<uint8_t> carrier;
        std::string at;  // where, with the archive offset
        const char* reason;
        bool launcher_fails;  // on the host stand-in; else it returns success, yet nothing runs
        bool walks;           // list and extract get through
        bool warning = false;  // verify passes with it, as the launcher's run does
        std::string name_hex = "";  // the name's bytes in --json, when not printable ASCII
    };
    auto damaged = [&](std::function<void(std::vector<uint8_t>&)> change) {
        auto bytes = good;
        change(bytes);
        return bytes;
    };
    auto offset = [](const std::string& where, size_t at) {
        return where + " at archive offset " + std::to_string(at) + ": ";
    };
    const Case cases[] = {
        {"body decodes past 8192 bytes", damaged([&](std::vector<uint8_t>& b) {
             const size_t body = stub_size + record + 4;
             for (size_t i = 0; i + 1 < u32_at(b, body - 4); i += 2) b[body + i] = 0x7F, b[body + i + 1] = 0xFF;
         }), offset("entry 'second.bin'", record), "chunk decodes to more than 8192 bytes", true, false},
        {"body length above 2048", damaged([&](std::vector<uint8_t>& b) {
             b[stub_size + record] = 0xB8, b[stub_size + record + 1] = 0x0B;  // 3000
         }), offset("entry 'second.bin'", record), "chunk body length 3000 is above 2048", true, false},
        {"truncated inside a body", damaged([&](std::vector<uint8_t>& b) {
             b.resize(stub_size + record + 100);
             append_u32(b, uint32_t(stub_size));
         }), offset("entry 'second.bin'", record), "file ends inside a chunk body", true, false},
        {"end marker missing", unended, offset("entry '\\xE8\\x03'", unended_end + 3),
         "file ends inside the stored size", true, false, false, "e803"},
        // No integrity record either (the launcher cannot read pe_stub's headers).
        {"trailer past the file", damaged([&](std::vector<uint8_t>& b) { b[b.size() - 1] = 0x7F; }),
         "not a carrier: no integrity record, and trailer: ", "does not point into the file", true, false},
        {"not a Windows program", bytes("just some text, ending in a newline\n"), "not a carrier: ",
         "not a Windows program (it does not start with MZ)", true, false},
        {"escaping name", build_carrier(pe_header_stub(), launch, {entries[0], {"..\\x.bin", {1}}}),
         offset("entry '..\\x.bin'", second), "reaches outside the extraction folder", true, false},
        {"name Windows refuses", build_carrier(pe_header_stub(), launch, {entries[0], {"a|b", {1}}}),
         offset("entry 'a|b'", second), "not allowed in Windows file names", false, false},
        {"device name", build_carrier(pe_header_stub(), launch, {entries[0], {"Nul.txt", {1}}}),
         offset("entry 'Nul.txt'", second), "reserved Windows device name", true, false},
        {"superscript port", build_carrier(pe_header_stub(), launch, {entries[0], {"COM\xB9", {1}}}),
         offset("entry 'COM\\xB9'", second), "reserved Windows device name", true, false, false,
         "434f4db9"},
        {"console", build_carrier(pe_header_stub(), launch, {entries[0], {"CONOUT$", {1}}}),
         offset("entry 'CONOUT$'", second), "reserved Windows device name", true, false},
        {"name too long for any %TEMP%",
         build_carrier(pe_header_stub(), launch, {entries[0], {std::string(237, 'n'), {1}}}),
         offset("entry '" + std::string(237, 'n') + "'", second), "237 characters", true, false},
        {"name with an escape sequence",
         build_carrier(pe_header_stub(), launch, {entries[0], {"a\x1B[2Jb", {1}}}),
         offset("entry 'a\\x1B[2Jb'", second), "byte 0x1B is not printable ASCII", false, false,
         false, "611b5b324a62"},
        {"launch name a device", build_carrier(pe_header_stub(), "conout$", {entries[0]}),
         offset("launch name 'conout$'", 0), "reserved Windows device name", true, false},
        {"launch name no entry has", build_carrier(pe_header_stub(), "setup.exe", entries),
         offset("launch name 'setup.exe'", 0), "names no entry", false, true, true},
        {"launch name with an escape sequence",
         build_carrier(pe_header_stub(), "\x1B]0;owned\x07", entries),
         offset("launch name '\\x1B]0;owned\\x07'", 0), "names no entry", false, true, true,
         "1b5d303b6f776e656407"},
        {"name outside ASCII", build_carrier(pe_header_stub(), launch, {entries[0], {"caf\xE9", {1}}}),
         offset("entry 'caf\\xE9'", second), "depends on the ANSI code page", false, true, true,
         "636166e9"},
        {"name with a trailing dot", build_carrier(pe_header_stub(), launch, {entries[0], {"name.", {1}}}),
         offset("entry 'name.'", second), "trailing space or dot", false, true, true},
        {"stub not i386", build_carrier(pe_header_stub(0x8664), launch, entries), "stub is not an i386",
         "machine 0x8664", false, true},
        {"manifest Windows refuses", [&] {
             // The manifest lies in the image, outside the archive's checksum.
             const std::string in = folder("manifest-in", entries);
             run({"pack", "-o", dir / "manifest.exe", "--launch", launch, "--stub", stub(),
                  "--execution-level", "asInvoker", in});
             std::string bytes = text(read_file(dir / "manifest.exe"));
             bytes.replace(bytes.find("</assembly>"), 11, "</assemblx>");
             return std::vector<uint8_t>(bytes.begin(), bytes.end());
         }(), "manifest: not well-formed XML: ", "</assemblx> closes <assembly>: Windows would refuse", false, true},
        {"a manifest that loads a DLL from the carrier's folder", [&] {
             std::string bytes = text(read_file(dir / "manifest.exe"));
             const size_t at = bytes.find("<supportedOS Id");
             bytes.replace(at, 15, "<file        Id");  // as long, and still well-formed
             return std::vector<uint8_t>(bytes.begin(), bytes.end());
         }(), "manifest: a <file> element", "a launcher's manifest may not change what it loads or how it runs",
         false, true},
        {"resource data past its section", [&] {
             auto bytes = read_file(dir / "manifest.exe");
             bytes[resource_section(bytes) + 77] = 0x10;  // the manifest's size: 4 KiB more
             return bytes;
         }(), "resources: ", "resource data lies outside its section", false, true},
        {"stub that is no launcher", build_carrier(pe_header_stub(0x14C, 0x40, 0x2FF), launch, entries),
         "stub is not a Brisk Courier launcher", "nothing in it would unpack the archive", false, true},
        {"plain program", minimal_pe_stub(), "not a carrier: ", "nothing is appended to this program",
         true, false},
        {"names Windows takes for one file",
         build_carrier(pe_header_stub(), launch, {entries[0], {"Second.bin", {1}}, {"SECOND.BIN", {2}}}),
         offset("entry 'SECOND.BIN'", second + 15 + stored_size({1})),
         "entries 'Second.bin' and 'SECOND.BIN' are one file on Windows; the last one stays", false, true,
         true},
        {"the short name of another entry",
         build_carrier(pe_header_stub(), launch, {entries[0], {"second-library.bin", {1}}, {"SECOND~1.BIN", {2}}}),
         offset("entry 'SECOND~1.BIN'", second + 19 + 4 + stored_size({1})),
         "may be the short (8.3) name Windows gives 'second-library.bin' (the volume decides): then the two "
         "are one file, and the later one's bytes stay under both names",
         false, true, true},
        {"a name five times: the group's members past a few counted",
         build_carrier(pe_header_stub(), launch, {entries[0], {"dup", {1}}, {"dup", {1}}, {"dup", {1}}, {"dup", {1}}, {"dup", {1}}}),
         offset("entry 'dup'", second + 4 * (4 + 4 + stored_size({1}))),
         "entries 'dup', 'dup', 'dup', 1 more and 'dup' are one file on Windows; the last one stays", false, true,
         true},
        {"name with DEL and a C1 control",
         build_carrier(pe_header_stub(), launch, {entries[0], {"a\x7F\xC2\x9B", {1}}}),
         offset("entry 'a\\x7F\\xC2\\x9B'", second), "byte 0x7F is not printable ASCII", false, true,
         true, "617fc29b"},
    };
    write_file(dir / "good.exe", good);
    EXPECT_EQ(run({"verify", dir / "good.exe"}).code, 0);
    const std::string path = dir / "bad.exe";
    // Names from the carrier reach the terminal escaped.
    auto raw_control = [](const std::string& text) {
        return std::any_of(text.begin(), text.end(), [](unsigned char c) {
            return (c < 0x20 && c != '\n') || c >= 0x7F;
        });
    };
    fs::create_directories(dir / "x/in");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        write_file(path, c.carrier);
        ToolResult r = run({"verify", path});
        EXPECT_EQ(r.code, c.warning ? 0 : 1);
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
        const std::string kind = c.warning ? "warning: " : "";
        EXPECT_EQ(r.err.rfind("courier-pack: " + kind + path + ": ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(c.at), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_FALSE(raw_control(r.out + r.err)) << r.out << r.err;
        r = run({"verify", "--strict", path});
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err.rfind("courier-pack: " + path + ": " + c.at, 0), 0u) << r.err;

        // --json: the same verdict and finding, as fields.
        r = run({"verify", "--json", path});
        EXPECT_EQ(r.code, c.warning ? 0 : 1);
        const Json doc = Json::parse(r.out);
        EXPECT_EQ(doc["ok"], c.warning);
        const Json& found = c.warning ? doc["warnings"][0] : doc["failure"];
        ASSERT_TRUE(found.is_object()) << r.out;
        EXPECT_EQ(found["message"].get<std::string>().rfind(c.at, 0), 0u) << r.out;
        EXPECT_NE(found["reason"].get<std::string>().find(c.reason), std::string::npos) << r.out;
        std::string parts = found["where"].is_null() ? "" : found["where"].get<std::string>();
        if (!found["offset"].is_null()) parts += " at archive offset " + found["offset"].dump();
        EXPECT_EQ(found["message"], (parts.empty() ? "" : parts + ": ") + found["reason"].get<std::string>());
        if (found.contains("name")) {
            EXPECT_NE(c.at.find("'" + found["name"].get<std::string>() + "'"), std::string::npos) << r.out;
        }
        EXPECT_EQ(found.value("name_hex", ""), c.name_hex) << r.out;
        // Whether the launch name opens anything is known only from a walk to its end.
        if (!c.walks && doc["launch"].is_object()) {
            EXPECT_TRUE(doc["launch"]["opens"].is_null()) << r.out;
        }

        r = run({"list", path});
        EXPECT_EQ(r.code, c.walks ? 0 : 1);
        EXPECT_FALSE(raw_control(r.out + r.err)) << r.out << r.err;
        // A failed entry leaves the file it would have replaced as it was.
        write_file(dir / "x/in/second.bin", bytes("old"));
        r = run({"extract", path, "-C", dir / "x/in"});
        EXPECT_EQ(r.code, c.walks ? 0 : 1) << r.err;
        if (!c.walks) {
            EXPECT_EQ(text(read_file(dir / "x/in/second.bin")), "old");
        }
        EXPECT_FALSE(temp_left());
        EXPECT_FALSE(file_exists(dir / "x/x.bin")) << "nothing outside the folder";

        RunSetup launcher;
        EXPECT_EQ(launcher.run(c.carrier), c.launcher_fails ? 0 : 1);
    }

    // Flipped bits in chunk bodies: verify passes exactly when the launcher does.
    int failures = 0;
    for (const size_t at : {first, record}) {
        const size_t body = stub_size + at + 4;
        for (size_t i = 0; i < u32_at(good, body - 4); i += 97) {
            auto flipped = good;
            flipped[body + i] ^= uint8_t(1 << (i % 8));
            write_file(path, flipped);
            const int code = run({"verify", path}).code;
            RunSetup launcher;
            EXPECT_EQ(code == 0, launcher.run(flipped) == 1) << "byte " << body + i;
            failures += code != 0;
        }
    }
    EXPECT_GT(failures, 0) << "some flips must overflow a chunk";
}

}  // namespace

namespace {

// The carrier's resources as tools nobody here wrote read them: wrestool
// lists and extracts them, objdump reads the headers that lead to them.
// list and verify report them, and the launcher still finds its record and
// archive after the image.
TEST_F(Courier, ResourcesReadBackWithOtherTools) {
    const auto ico = ico_file({{16, 4, false}, {32, 32, false}, {48, 8, false}, {256, 32, true}});
    write_file(dir / "app.ico", ico);
    const std::string own_manifest =
        "<?xml version='1.0' encoding='utf-8'?>\n"
        "<asmv1:assembly manifestVersion=\"1.0\" xmlns:asmv1=\"urn:schemas-microsoft-com:asm.v1\">\n"
        "<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v2\"><security><requestedPrivileges>"
        "<requestedExecutionLevel level=\"highestAvailable\" uiAccess=\"false\"/>"
        "</requestedPrivileges></security></trustInfo>\n"
        "<asmv1:description><![CDATA[a <b> & c]]> &#169; &#x263A; &amp;</asmv1:description>\n"
        "<!-- a comment --></asmv1:assembly>\n";
    write_file(dir / "own.manifest", bytes(own_manifest));
    const std::vector<std::string> icon = {"--icon", dir / "app.ico"};
    // A stub with a checksum, which pack must bring up to date.
    constexpr size_t kChecksumAt = 0x40 + 24 + 64;
    auto summed = minimal_pe_stub();
    summed[kChecksumAt] = 1;
    write_file(dir / "summed.exe", summed);
    // The PE checksum as the image's loader computes it: 16-bit words, the
    // field itself left out, carries folded in, then the length added.
    auto pe_checksum = [](const std::vector<uint8_t>& image) {
        uint32_t sum = 0;
        for (size_t i = 0; i < image.size(); i += 2) {
            if (i == kChecksumAt || i == kChecksumAt + 2) continue;
            sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        return uint32_t(sum + image.size());
    };
    const std::vector<std::string> version = {
        "--file-version", "1.2.3.4", "--product-version", "5.6.0.65535",
        "--version-string", "CompanyName=Brisk Courier Ltd",
        "--version-string", "LegalCopyright=\xC2\xA9 2025 Brisk",
        "--version-string", "ProductVersion=5.6 beta"};
    auto plus = [](std::vector<std::string> a, const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::vector<std::string> icon_types = {"3 1", "3 2", "3 3", "3 4", "14 1"};
    const std::vector<std::string> icon_report = {
        "icon: 16x16 4-bit, 32x32 32-bit, 48x48 8-bit, 256x256 32-bit PNG"};
    const std::vector<std::string> version_report = {
        "version: file 1.2.3.4, product 5.6.0.65535", "version string: FileVersion = 1.2.3.4",
        "version string: CompanyName = Brisk Courier Ltd",
        "version string: LegalCopyright = \xC2\xA9 2025 Brisk",
        "version string: ProductVersion = 5.6 beta"};
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::vector<std::string> types;  // "type name" of each resource, in order
        std::vector<std::string> report;  // list's and verify's lines
        std::string manifest_holds;
    };
    const Case cases[] = {
        {"icon", icon, icon_types, icon_report, ""},
        {"version information", version, {"16 1"}, version_report, ""},
        {"asInvoker", {"--execution-level", "asInvoker"}, {"24 1"}, {"execution level: asInvoker"},
         "level=\"asInvoker\" uiAccess=\"false\""},
        {"highestAvailable", {"--execution-level", "highestAvailable"}, {"24 1"},
         {"execution level: highestAvailable"}, "level=\"highestAvailable\" uiAccess=\"false\""},
        {"requireAdministrator", {"--execution-level", "requireAdministrator"}, {"24 1"},
         {"execution level: requireAdministrator"}, "supportedOS Id=\"{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}\""},
        {"own manifest", {"--manifest", dir / "own.manifest"}, {"24 1"},
         {"execution level: highestAvailable"}, own_manifest},
        {"everything", plus(plus(icon, version), {"--execution-level", "asInvoker"}),
         plus(icon_types, {"16 1", "24 1"}), plus(plus(icon_report, version_report), {"execution level: asInvoker"}),
         "level=\"asInvoker\""},
    };
    const std::vector<ArchiveEntry> files = {{"setup.exe", random_bytes(5000, 1)}, {"b.txt", text_like(9000, 2)}};
    const std::string in = folder("in", files);
    const std::string carrier = dir / "out.exe";
    auto hex = [](const std::string& text, const std::string& field) {
        const size_t at = text.find(field);
        return at == std::string::npos ? 0 : std::stoul(text.substr(at + field.size()), nullptr, 16);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // Options before the inputs: each takes one value.
        ToolResult r = run(plus(plus({"pack", "-o", carrier, "--launch", "setup.exe", "--stub", dir / "summed.exe"}, c.options),
                                {in + "/setup.exe", in + "/b.txt"}));
        ASSERT_EQ(r.code, 0) << r.err;

        r = run_tool("wrestool", {"-l", carrier}, dir);
        ASSERT_EQ(r.code, 0) << "wrestool (Debian's icoutils; scripts/install-deps.sh) " << r.err;
        std::vector<std::string> types;
        for (const std::string& line : lines(r.out)) {
            unsigned type = 0, name = 0, language = 0;
            std::sscanf(line.c_str(), "--type=%u --name=%u --language=%u", &type, &name, &language);
            EXPECT_EQ(language, 1033u) << line;
            types.push_back(std::to_string(type) + " " + std::to_string(name));
        }
        EXPECT_EQ(types, c.types) << r.out;
        auto given = [&c](const char* option) {
            return std::find(c.options.begin(), c.options.end(), option) != c.options.end();
        };
        if (given("--icon")) {
            // wrestool writes the group's own bytes after the last image.
            r = run_tool("wrestool", {"-x", "--type=14", carrier}, dir);
            EXPECT_EQ(r.out.substr(0, ico.size()), text(ico)) << "the icon file, its images in order";
        }
        if (given("--file-version")) {
            r = run_tool("wrestool", {"-x", "--raw", "--type=16", carrier}, dir);
            for (const std::u16string value : {u"CompanyName", u"\u00A9 2025 Brisk", u"5.6 beta"}) {
                std::string utf16le;
                for (char16_t ch : value) utf16le += char(ch & 0xFF), utf16le += char(ch >> 8);
                EXPECT_NE(r.out.find(utf16le), std::string::npos) << value.size();
            }
            // Each string's value length counts its characters and its NUL.
            for (const auto& [key, value] : {std::pair{u"CompanyName", u"Brisk Courier Ltd"},
                                             {u"ProductVersion", u"5.6 beta"}}) {
                std::string utf16le;
                for (const char16_t* ch = key; *ch; ++ch) utf16le += char(*ch & 0xFF), utf16le += char(*ch >> 8);
                const size_t at = r.out.find(utf16le + std::string(2, '\0'));
                ASSERT_NE(at, std::string::npos);
                const size_t length = uint8_t(r.out[at - 4]) | uint8_t(r.out[at - 3]) << 8;
                EXPECT_EQ(length, std::u16string(value).size() + 1);
            }
        }
        if (!c.manifest_holds.empty()) {
            r = run_tool("wrestool", {"-x", "--raw", "--type=24", carrier}, dir);
            EXPECT_NE(r.out.find(c.manifest_holds), std::string::npos) << r.out;
        }

        // The section is the image's last, its directory entry and the image size agree.
        r = run_tool("objdump", {"-h", "-p", carrier}, dir);
        ASSERT_EQ(r.code, 0) << r.err;
        const size_t section = r.out.find(" .rsrc ", r.out.find("\nSections:"));
        ASSERT_NE(section, std::string::npos) << r.out;
        unsigned size = 0, vma = 0, lma = 0, offset = 0;
        std::sscanf(r.out.c_str() + section, " .rsrc %x %x %x %x", &size, &vma, &lma, &offset);
        const unsigned long rva = vma - 0x400000, image_size = hex(r.out, "SizeOfImage");
        char directory[40];
        std::snprintf(directory, sizeof directory, "Entry 2 %08lx %08x", rva, size);
        EXPECT_NE(r.out.find(directory), std::string::npos) << r.out;
        EXPECT_TRUE(image_size % 0x1000 == 0 && image_size >= rva + size && image_size - (rva + size) < 0x1000)
            << std::hex << image_size;
        const auto carrier_bytes = read_file(carrier);
        const size_t image_end = (offset + size + 511) & ~511u;
        EXPECT_EQ(u32_at(carrier_bytes, carrier_bytes.size() - 4), image_end + 28)
            << "the archive follows the section and the record";
        EXPECT_EQ(u32_at(carrier_bytes, kChecksumAt),
                  pe_checksum(std::vector<uint8_t>(carrier_bytes.begin(), carrier_bytes.begin() + image_end)));

        for (const char* command : {"list", "verify"}) {
            r = run({command, carrier});
            EXPECT_EQ(r.code, 0) << r.err;
            std::vector<std::string> got = lines(r.out);
            ASSERT_FALSE(got.empty());
            EXPECT_EQ(got[0].rfind("launcher: ", 0), 0u) << r.out;
            got.erase(got.begin());
            EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + std::min(got.size(), c.report.size())),
                      c.report) << r.out;
        }
        // --json holds the same as fields.
        r = run({"list", "--json", carrier});
        Json got = Json::parse(r.out)["resources"];
        Json icons = Json::array();
        if (given("--icon"))
            for (const auto& [size, bits, png] : {std::tuple{16, 4, false}, {32, 32, false}, {48, 8, false}, {256, 32, true}})
                icons.push_back({{"width", size}, {"height", size}, {"bit_count", bits}, {"png", png}});
        for (Json& icon : got["icon"]) icon.erase("bytes");
        EXPECT_EQ(got["icon"], icons) << r.out;
        EXPECT_EQ(got["icon_groups"], given("--icon") ? 1 : 0);
        const Json version = {{"file", "1.2.3.4"}, {"product", "5.6.0.65535"},
                              {"strings", {{"FileVersion", "1.2.3.4"}, {"CompanyName", "Brisk Courier Ltd"},
                                           {"LegalCopyright", "\xC2\xA9 2025 Brisk"}, {"ProductVersion", "5.6 beta"}}}};
        EXPECT_EQ(got["version"], given("--file-version") ? version : Json()) << r.out;
        const std::string level = c.report.back().rfind("execution level: ", 0) == 0 ? c.report.back().substr(17) : "";
        const Json manifest = {{"execution_level", level}, {"problem", nullptr}};
        EXPECT_EQ(got["manifest"], level.empty() ? Json() : manifest);
        EXPECT_EQ(got["problems"], Json::array());

        RunSetup launcher;
        EXPECT_EQ(launcher.run(carrier_bytes), 1);
        for (const ArchiveEntry& f : files) EXPECT_EQ(read_file(launcher.out(f.name)), f.data) << f.name;
    }
}

}  // namespace
