// Whole extraction runs against carriers on disk, through the host
// stand-in: the files written, the result, and what the run asked of the
// window, the bar and the shell.
#include <gtest/gtest.h>

#include <strings.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "run/extract_run.h"
#include "test_support.h"
#include "ui/progress_window.h"

namespace {

std::vector<ArchiveEntry> sample_entries() {
    return {{"Install.exe", random_bytes(30000, 1)},
            {"readme.txt", text_like(20000, 2)},
            {"empty.dat", {}},
            {"one.bin", {0x7F}},
            {"zeros.bin", std::vector<uint8_t>(100000, 0)}};
}

std::string shell_call(const std::string& path) {
    return "ShellExecuteW(0,Open," + path + ",(null),(null),1)";
}

TEST(Run, UnpacksEveryEntryAndLaunches) {
    RunSetup setup;
    const auto entries = sample_entries();
    struct Case {
        EncoderOptions options;
        bool scanned;  // another program reads the carrier meanwhile, sharing reads
    };
    for (const Case& c : {Case{greedy_encoder_options(), false}, Case{EncoderOptions(), false},
                          Case{EncoderOptions(), true}}) {
        write_file(setup.carrier(), build_carrier(fake_stub(), "install.exe", entries, c.options));
        HANDLE scanner = c.scanned ? CreateFileA(setup.carrier().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                                   : INVALID_HANDLE_VALUE;
        host::clear_calls();
        EXPECT_EQ(extract_archive(), 1);
        if (scanner != INVALID_HANDLE_VALUE) CloseHandle(scanner);
        for (const ArchiveEntry& e : entries) EXPECT_EQ(read_file(setup.out(e.name)), e.data) << e.name;
        EXPECT_EQ(setup.calls_starting("ShellExecuteW"),
                  std::vector<std::string>{shell_call(setup.windows_folder() + "install.exe")});
        // 100 ms after each file, then 500 ms after the launch, in that order.
        std::vector<std::string> sleeps = setup.calls_starting("Sleep");
        EXPECT_EQ(sleeps, (std::vector<std::string>{"Sleep(100)", "Sleep(100)", "Sleep(100)",
                                                    "Sleep(100)", "Sleep(100)", "Sleep(500)"}));
        EXPECT_EQ(host::calls().back(), "Sleep(500)");
        EXPECT_STREQ(g_current_name, "zeros.bin") << "keeps the last entry's name";
        EXPECT_EQ(host::open_handles(), 0);
    }
}

TEST(Run, SecondRunReplacesFilesAndEdgeArchivesWork) {
    RunSetup setup;
    write_file(setup.dir / "tmp/placeholder", {});
    ASSERT_EQ(setup.run(build_carrier(fake_stub(), "x", {{"a.txt", text_like(5000, 1)}})), 1);
    ASSERT_EQ(setup.run(build_carrier(fake_stub(), "x", {{"a.txt", {'s', 'h', 'o', 'r', 't'}}})), 1);
    EXPECT_EQ(read_file(setup.out("a.txt")), (std::vector<uint8_t>{'s', 'h', 'o', 'r', 't'}));

    // No entries: nothing written, success.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "setup.exe", {})), 1);
    EXPECT_TRUE(setup.calls_starting("SendMessageA").empty());

    // Two entries of one name: the later wins.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "d", {{"d", {1}}, {"d", {2, 2}}})), 1);
    EXPECT_EQ(read_file(setup.out("d")), (std::vector<uint8_t>{2, 2}));

    // An empty launch name opens the folder itself.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "", {})), 1);
    EXPECT_EQ(setup.calls_starting("ShellExecuteW"),
              std::vector<std::string>{shell_call(setup.windows_folder())});

    // A zero-length chunk record ends its entry early; the next byte is the
    // next name. Stored size 0 reads no record.
    std::vector<uint8_t> archive;
    append_name(archive, "l");
    append_name(archive, "early");
    append_u32(archive, 5000);
    append_u32(archive, 0);
    append_name(archive, "zero");
    append_u32(archive, 0);
    archive.push_back(0);
    EXPECT_EQ(setup.run(carrier_around(archive)), 1);
    EXPECT_TRUE(read_file(setup.out("early")).empty());
    EXPECT_TRUE(file_exists(setup.out("zero")));
    EXPECT_TRUE(read_file(setup.out("zero")).empty());
}

TEST(Run, ProgressRangeAndPositionsAreScaledTo16Bits) {
    struct Case {
        uint32_t stored;
        const char* range;     // PBM_SETRANGE's lparam
        const char* position;  // PBM_SETPOS after the 4-byte zero-length record
    };
    const Case cases[] = {
        {8, "0x80000", "4"},
        {65535, "0xffff0000", "4"},
        {65536, "0x19990000", "0"},          // 6553
        {285215, "0x6f690000", "0"},         // 28521
        {0x80000005u, "0x50000", "4"},       // negative to the signed scaling
    };
    RunSetup setup;
    for (const Case& c : cases) {
        std::vector<uint8_t> records;
        append_u32(records, 0);
        EXPECT_EQ(setup.run(carrier_around(one_entry_archive("a.bin", "a.bin", c.stored, records))), 1);
        const auto bar = setup.calls_starting("SendMessageA");
        ASSERT_EQ(bar.size(), 2u);
        EXPECT_EQ(bar[0], std::string("SendMessageA(0,0x401,0,") + c.range + ")") << c.stored;
        EXPECT_EQ(bar[1], std::string("SendMessageA(0,0x402,") + c.position + ",0x0)") << c.stored;
    }
    // Positions follow each record, 285,215 bytes consumed in tens, when a
    // display's frame has passed since the last (see the next test).
    const auto data = random_bytes(300000, 3);
    host::set_tick_step(15);
    setup.run(build_carrier(fake_stub(), "x", {{"big", data}}));
    host::set_tick_step(0);
    const auto bar = setup.calls_starting("SendMessageA(0,0x402");
    ASSERT_GT(bar.size(), 100u);
    EXPECT_NE(bar.back(), "SendMessageA(0,0x402,0,0x0)");
}

TEST(Run, BarIsUpdatedAtDisplayRateAndAtEachEntrysEnd) {
    // After a record, when 15 ms have passed since the entry's start or the
    // last repaint, and at the entry's end (also of a failed one), the bar
    // gets its range (R) if it is new and its position (P) and is repainted
    // (U) if either changed, and the entry's name is painted (N) if it was
    // not yet. A bar full at the last entry's end and full again is left
    // alone. The stand-in's clock moves on by `step` ms at each look, and
    // by 100 ms at the pause after each entry.
    std::vector<uint8_t> seven, three, early, failing;
    for (int i = 0; i < 3; ++i) append_u32(three, 1), three.push_back(0x00);
    early = three;
    append_u32(early, 0);  // ends the entry at 19 of its 100 bytes
    for (int i = 0; i < 7; ++i) append_u32(seven, 1), seven.push_back(0x00);
    for (int i = 0; i < 3; ++i) append_u32(failing, 1), failing.push_back(0x00);
    append_u32(failing, kChunkInputCapacity + 1);  // refused before its body
    struct Case {
        DWORD step;
        const std::vector<uint8_t>* records;
        uint32_t stored;
        const char* calls;
        const std::vector<uint8_t>* next = nullptr;  // a second entry's records, whole
    };
    const Case cases[] = {
        {0, &seven, 35, "RPUN"},
        {5, &seven, 35, "RPUN PU PU"},
        {15, &seven, 35, "RPUN PU PU PU PU PU PU"},
        {1000, &seven, 35, "RPUN PU PU PU PU PU PU"},
        {1000, &seven, 700035, "RPUN"},  // scaled by 100: every position is 0
        {1000, &seven, 100035, "RPUN PU PU PU"},  // by 10: the first record leaves the bar at 0
        {0, &failing, 100, "RPUN"},
        {0, &seven, 35, "RPUN N", &three},       // full, then full again
        {0, &early, 100, "RPUN RPUN", &three},  // ended early, then full
    };
    RunSetup setup;
    for (const Case& c : cases) {
        std::vector<uint8_t> archive = one_entry_archive("a.bin", "a.bin", c.stored, *c.records);
        if (c.next) {
            archive.pop_back();  // the end marker
            append_name(archive, "b.bin");
            append_u32(archive, uint32_t(c.next->size()));
            archive.insert(archive.end(), c.next->begin(), c.next->end());
            archive.push_back(0);
        }
        write_file(setup.carrier(), carrier_around(archive));
        host::clear_calls();
        g_progress_bar = CreateWindowExA(0, "msctls_progress32", "", 0, 0, 0, 0, 0, nullptr,
                                         nullptr, nullptr, nullptr);
        const std::string bar = host::calls().back().substr(host::calls().back().find(")=") + 2);
        host::set_tick_step(c.step);
        extract_archive();
        host::set_tick_step(0);
        std::string seen;
        for (const std::string& call : host::calls()) {
            if (call.rfind("SendMessageA(" + bar + ",0x402,", 0) == 0) seen += 'P';
            if (call.rfind("SendMessageA(" + bar + ",0x401,", 0) == 0) seen += 'R';
            if (call == "UpdateWindow(" + bar + ")") seen += 'U';
            if (call == "UpdateWindow(0)") seen += 'N';  // the popup
        }
        std::string expected = c.calls;
        expected.erase(std::remove(expected.begin(), expected.end(), ' '), expected.end());
        EXPECT_EQ(seen, expected) << "step " << c.step << ", stored size " << c.stored;
    }
    g_progress_bar = nullptr;
}

TEST(Run, FailuresStopAtTheEntryAndStillLaunch) {
    RunSetup setup;
    const auto entries = sample_entries();
    const auto good = build_carrier(fake_stub(), "install.exe", entries);

    // An output file held open by another program.
    {
        ASSERT_EQ(setup.run(good), 1);
        HANDLE held = CreateFileA(setup.out("empty.dat").c_str(), GENERIC_READ, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        std::remove(setup.out("one.bin").c_str());
        EXPECT_EQ(setup.run(good), 0);
        CloseHandle(held);
        EXPECT_EQ(read_file(setup.out("readme.txt")), entries[1].data) << "earlier files complete";
        EXPECT_FALSE(file_exists(setup.out("one.bin"))) << "no later entry is tried";
        EXPECT_EQ(setup.calls_starting("ShellExecuteW").size(), 1u);
        EXPECT_EQ(host::calls().back(), "Sleep(500)");
        EXPECT_EQ(host::open_handles(), 0);
    }
    // A damaged chunk that decodes past 8192 bytes.
    {
        std::vector<uint8_t> records;
        std::vector<uint8_t> body(2048, 0x00);
        for (size_t i = 0; i < body.size(); i += 2) body[i] = 0x7F, body[i + 1] = 0xFF;
        append_u32(records, uint32_t(body.size()));
        records.insert(records.end(), body.begin(), body.end());
        std::vector<uint8_t> archive;
        append_name(archive, "first.txt");
        append_entry(archive, "first.txt", entries[1].data.data(), entries[1].data.size(),
                     EncoderOptions());
        append_name(archive, "bad.bin");
        append_u32(archive, uint32_t(records.size()));
        archive.insert(archive.end(), records.begin(), records.end());
        archive.push_back(0);
        EXPECT_EQ(setup.run(carrier_around(archive)), 0);
        EXPECT_EQ(read_file(setup.out("first.txt")), entries[1].data);
        EXPECT_TRUE(read_file(setup.out("bad.bin")).empty()) << "no decoded byte written";
        EXPECT_EQ(setup.calls_starting("ShellExecuteW").size(), 1u);
    }
}

TEST(Run, OpensOnlyALaunchFileItWroteWhole) {
    RunSetup setup;
    const std::vector<uint8_t> program = random_bytes(30000, 5);
    auto archive = [&](const std::vector<std::string>& whole, const char* damaged) {
        std::vector<uint8_t> out;
        append_name(out, "setup.exe");
        for (const std::string& name : whole)
            append_entry(out, name, program.data(), program.size(), EncoderOptions());
        if (damaged) append_overflowing_entry(out, damaged);
        out.push_back(0);
        return carrier_around(out);
    };
    auto cut = archive({"Setup.exe", "readme.txt"}, nullptr);
    cut.resize(cut.size() / 4);  // inside the launch entry
    append_u32(cut, 1000);

    // What the folder holds besides another carrier's setup.exe, where the
    // carrier runs from, and what another program does meanwhile.
    enum Setup {
        kPlain,
        kAlias,
        kBothSpellings,
        kRunFromLaunchFile,
        kRewrittenMeanwhile,  // it writes setup.exe whenever the run pauses
        kRewrittenWhenClosed, // it writes setup.exe as soon as the run closes it
        kSymlinkOut,          // setup.exe is a symbolic link to a file outside the folder
        kHardLinkOut,         // setup.exe is another name of a file outside the folder
        kFolderLink,          // the folder is a link to another one
    };
    struct Case {
        const char* what;
        std::vector<uint8_t> carrier;
        Setup setup;
        int result;
        bool opened;  // the launch file was opened
    };
    const Case cases[] = {
        {"written whole, any letter case", archive({"Setup.exe"}, nullptr), kPlain, 1, true},
        {"a later entry fails", archive({"Setup.exe"}, "later.bin"), kPlain, 0, true},
        {"written whole twice", archive({"setup.exe", "SETUP.EXE"}, nullptr), kPlain, 1, true},
        {"names no entry: another carrier's file", archive({"other.exe"}, nullptr), kPlain, 1, false},
        {"fails before the launch entry", archive({}, "first.bin"), kPlain, 0, false},
        {"cut short in the launch entry", cut, kPlain, 0, false},
        {"rewritten by a later entry that fails", archive({"setup.exe"}, "SETUP.EXE"), kPlain, 0, false},
        // alias.bin, made a name of setup.exe once it is written: the same
        // file under another name.
        {"rewritten under another name", archive({"setup.exe"}, "alias.bin"), kAlias, 0, false},
        // A folder that tells letter case apart: the entry went to Setup.exe.
        {"the launch name spells another file", archive({"Setup.exe"}, nullptr), kBothSpellings, 1, false},
        // A carrier packed inside another, both launching setup.exe.
        {"the carrier is the launch file", archive({"setup.exe"}, nullptr), kRunFromLaunchFile, 0, false},
        // Another carrier unpacking its own setup.exe into the folder.
        {"held from its write until opened", archive({"setup.exe", "readme.txt"}, nullptr),
         kRewrittenMeanwhile, 1, true},
        {"rewritten before it was held", archive({"setup.exe", "readme.txt"}, nullptr),
         kRewrittenWhenClosed, 0, false},
        // A link planted where an entry goes: the link goes, not what it names.
        {"a symbolic link in its place", archive({"setup.exe"}, nullptr), kSymlinkOut, 1, true},
        {"a hard link in its place", archive({"setup.exe"}, nullptr), kHardLinkOut, 1, true},
        {"the folder a link", archive({"setup.exe"}, nullptr), kFolderLink, 0, false},
    };
    const std::string outside = setup.dir / "outside.bin";
    const std::string elsewhere = setup.dir / "elsewhere";
    const std::vector<uint8_t> other_program = random_bytes(program.size(), 6);
    auto rewrite = [&] {
        HANDLE file = CreateFileA(setup.out("setup.exe").c_str(), GENERIC_WRITE, 0, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (file != INVALID_HANDLE_VALUE) {
            WriteFile(file, other_program.data(), DWORD(other_program.size()), &written, nullptr);
            CloseHandle(file);
        }
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(setup.folder());
        std::filesystem::remove_all(elsewhere);
        write_file(outside, {'k', 'e', 'e', 'p'});
        if (c.setup == kFolderLink) {
            std::filesystem::create_directories(elsewhere);
            std::filesystem::create_directory_symlink(elsewhere, setup.folder());
        }
        std::filesystem::create_directories(setup.folder());
        write_file(setup.out("setup.exe"), {'o', 'l', 'd'});  // left by another carrier
        if (c.setup == kSymlinkOut || c.setup == kHardLinkOut) std::filesystem::remove(setup.out("setup.exe"));
        if (c.setup == kSymlinkOut) std::filesystem::create_symlink(outside, setup.out("setup.exe"));
        if (c.setup == kHardLinkOut) std::filesystem::create_hard_link(outside, setup.out("setup.exe"));
        bool rewritten = false;
        if (c.setup == kAlias)
            host::on_sleep([&] {
                if (!file_exists(setup.out("alias.bin")))
                    std::filesystem::create_hard_link(setup.out("setup.exe"), setup.out("alias.bin"));
            });
        host::set_case_sensitive(c.setup == kBothSpellings);
        if (c.setup == kRewrittenMeanwhile) host::on_sleep(rewrite);
        if (c.setup == kRewrittenWhenClosed)
            host::on_close([&](const std::string& closed) {
                if (closed != setup.out("setup.exe") || rewritten) return;
                rewritten = true;
                rewrite();
            });
        if (c.setup == kBothSpellings) write_file(setup.out("Setup.exe"), {});
        const std::string carrier = c.setup == kRunFromLaunchFile ? setup.out("setup.exe") : setup.carrier();
        write_file(carrier, c.carrier);
        host::set_module_path(carrier);
        host::clear_calls();
        EXPECT_EQ(extract_archive(), c.result) << c.what;
        host::on_sleep(nullptr);
        host::on_close(nullptr);
        host::set_case_sensitive(false);
        EXPECT_EQ(host::open_handles(), 0) << c.what << ": the launch file let go";
        EXPECT_EQ(read_file(outside), (std::vector<uint8_t>{'k', 'e', 'e', 'p'})) << c.what;
        if (c.setup == kFolderLink) {
            EXPECT_EQ(read_file(elsewhere + "/setup.exe"), (std::vector<uint8_t>{'o', 'l', 'd'}));
            std::filesystem::remove(setup.folder());
        }
        const auto opened = setup.calls_starting("ShellExecuteW");
        if (c.opened) {
            EXPECT_EQ(opened, std::vector<std::string>{shell_call(setup.windows_folder() + "setup.exe")})
                << c.what;
            // Made anew under the entry's spelling, which Windows finds either way.
            std::vector<uint8_t> launched;
            for (const auto& file : std::filesystem::directory_iterator(setup.folder()))
                if (strcasecmp(file.path().filename().c_str(), "setup.exe") == 0)
                    launched = read_file(file.path());
            EXPECT_EQ(launched, program) << c.what;
        } else {
            EXPECT_TRUE(opened.empty()) << c.what;
        }
    }
    host::set_module_path(setup.carrier());
}

TEST(Run, NothingIsWrittenOrOpenedOutsideTheFolder) {
    RunSetup setup;
    // Devices too: such a name opens the device, writing nothing, not a file.
    std::filesystem::create_directories(setup.out("dev"));
    for (const char* name : {"..\\escape.txt", "\\abs.txt", "/abs.txt", "C:evil.txt",
                             "sub\\..\\..\\x.txt", "..", "a/../../b", "NUL", "con", "Aux.tar.gz",
                             "prn.txt", "COM1", "lpt9.log", "nul .txt", "CON  ", "dev\\nul",
                             "COM\xB9", "com\xB2.txt", "Lpt\xB3", "LPT\xB9.log", "CONIN$", "conout$",
                             "ConOut$.txt", "dev\\conin$"}) {
        EXPECT_EQ(setup.run(build_carrier(fake_stub(), "ok", {{"ok", {1}}, {name, {1, 2, 3}}})), 0)
            << name;
        EXPECT_STREQ(g_current_name, "ok") << name << ": created";
        EXPECT_EQ(setup.calls_starting("ShellExecuteW").size(), 1u) << "still launches";
    }
    for (const char* name : {"NUL", "con", "COM1", "dev/nul", "CONIN$", "dev/conin$"})
        EXPECT_FALSE(file_exists(setup.out(name))) << name;
    // Names that only look like devices are files.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "x", {{"COM0", {1}}, {"nul1", {1}}, {"conx.txt", {1}},
                                                         {"lpt", {1}}, {"a.nul", {1}}, {"xcon", {1}},
                                                         {"LPT0.txt", {1}}, {"COM\xB4", {1}}, {"conin", {1}},
                                                         {"conout$$", {1}}, {"com\xB9\xB9", {1}}})),
              1);
    EXPECT_FALSE(file_exists(setup.dir / "tmp/escape.txt"));
    EXPECT_FALSE(file_exists(setup.dir / "x.txt"));

    // A harmless name with dots stays allowed.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "ok", {{"..a..b", {1}}})), 1);

    // An unsafe launch name is not opened, and the run fails.
    for (const char* launch : {"..\\..\\Windows\\system32\\calc.exe", "C:\\x.exe", "\\x.exe", "NUL"}) {
        EXPECT_EQ(setup.run(build_carrier(fake_stub(), launch, {{"a", {1}}})), 0) << launch;
        EXPECT_TRUE(setup.calls_starting("ShellExecuteW").empty()) << launch;
    }

    // A missing sub-folder fails like any create.
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "ok", {{"sub\\f.txt", {1}}})), 0);
}

TEST(Run, EarlyFailuresNeverLaunchAnUnsetName) {
    RunSetup setup;
    // No temporary directory.
    host::set_temp_path("");
    EXPECT_EQ(setup.run(build_carrier(fake_stub(), "x", {{"a", {1}}})), 0);
    EXPECT_TRUE(setup.calls_starting("ShellExecuteW").empty());
    host::set_temp_path(setup.dir / "tmp");

    // Own file missing.
    host::set_module_path(setup.dir / "missing.exe");
    host::clear_calls();
    EXPECT_EQ(extract_archive(), 0);
    EXPECT_TRUE(setup.calls_starting("ShellExecuteW").empty());
    host::set_module_path(setup.carrier());

    // No archive found.
    EXPECT_EQ(setup.run(fake_stub()), 0);
    EXPECT_TRUE(setup.calls_starting("ShellExecuteW").empty());
    EXPECT_EQ(host::open_handles(), 0);
}

// A real %TEMP% whose path, as GetTempPathW reports it (its trailing '\'
// included), is `length` characters long, in folders of at most 100.
std::string temp_of_length(const RunSetup& setup, size_t length) {
    std::string path = setup.dir / "tmp/";
    while (path.size() + 1 < length) path += path.size() % 100 == 0 && path.back() != '/' ? '/' : 't';
    if (path.back() == '/') path.back() = 't';
    std::filesystem::create_directories(path);
    return path;
}

TEST(Run, PathsThatDoNotFitFailTheRun) {
    // "fits" is the longest name the scratch %TEMP% leaves room for (255
    // characters with its folder), "too long" one more.
    struct Case {
        const char* what;
        size_t temp;  // %TEMP%'s length as GetTempPathW reports it; 0: the scratch one
        std::string launch;
        std::vector<std::string> entries;
        int result;
        size_t launches;
    };
    const Case cases[] = {
        {"the longest name", 0, "fits", {"fits"}, 1, 1},
        {"an entry too long", 0, "x", {"x", "too long"}, 0, 1},
        {"a launch name too long", 0, "too long", {}, 0, 0},
        {"no room for the folder name", 252, "x", {}, 0, 0},
        // 244 and the folder name's 16 leave no room for its NUL: not %TEMP% itself instead.
        {"%TEMP% of 244", 244, "x", {"x"}, 0, 0},
        // A folder of 256 characters, a path's whole buffer: no name, not even its NUL, joins.
        {"a folder of 256", 240, "x", {"x"}, 0, 0},
        {"a folder of 255, opened", 239, "", {}, 1, 1},
        // More than the buffer's 260 characters: the size given is in characters.
        {"%TEMP% of 300", 300, "x", {"x"}, 0, 0},
    };
    RunSetup setup;
    const size_t folder_length = setup.windows_folder().size();
    ASSERT_LT(folder_length, 200u);
    auto name = [&](const std::string& n) {
        return n == "fits" ? std::string(255 - folder_length, 'f')
             : n == "too long" ? std::string(256 - folder_length, 'g') : n;
    };
    for (const Case& c : cases) {
        const std::string temp = c.temp ? temp_of_length(setup, c.temp) : setup.dir / "tmp";
        host::set_temp_path(temp);
        std::vector<ArchiveEntry> entries;
        for (const std::string& n : c.entries) entries.push_back({name(n), {1}});
        EXPECT_EQ(setup.run(build_carrier(fake_stub(), name(c.launch), entries)), c.result) << c.what;
        EXPECT_EQ(setup.calls_starting("ShellExecuteW").size(), c.launches) << c.what;
        for (const auto& file : std::filesystem::directory_iterator(temp))
            EXPECT_EQ(file.path().filename(), "BriskCourierTmp") << c.what;
        for (const ArchiveEntry& e : entries) {
            if (c.result == 1) {
                EXPECT_EQ(read_file(setup.out(e.name)), e.data) << c.what;
            }
        }
    }
    host::set_temp_path(setup.dir / "tmp");
}

}  // namespace
