// The real launcher.exe started as a Windows program: carriers are the
// launcher with an archive appended, the launch file is a probe program that
// records how it was started, and the window and message box are found and
// read through the window manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "archive/carrier_file_win32.h"
#include "archive/carrier_integrity.h"
#include "platform/platform.h"
#include <imagehlp.h>  // after windows.h
#include "tests/support/test_icons.h"
#include "windows_test_support.h"

#include <tlhelp32.h>  // after windows.h

namespace {

// Asks the script around this program for a screenshot of the display, and
// waits until it is taken. Without the script there is nobody to ask.
void take_screenshot(const char* name) {
    char dir[MAX_PATH];
    if (!GetEnvironmentVariableA("BRISK_SHOT_DIR", dir, MAX_PATH)) return;
    const std::string done = std::string(dir) + "\\shot-done";
    DeleteFileA(done.c_str());
    const std::string request = std::string(dir) + "\\shot-request";
    write_file(request, std::vector<uint8_t>(name, name + strlen(name)));
    EXPECT_TRUE(wait_for([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                         20000))
        << "screenshot not taken";
}

// The launcher's window and its frame, once laid out (it is created at 0 by
// 0 and sized afterwards); nullptr if it does not show within a minute.
HWND progress_window(RECT& frame) {
    HWND popup = nullptr;
    const bool shown = wait_for(
        [&] {
            popup = FindWindowA("SelfExtractor", "Self-Extracting");
            return popup && GetWindowRect(popup, &frame) && frame.right - frame.left > 0;
        },
        60000);
    return shown ? popup : nullptr;
}

Started start(const std::vector<uint8_t>& carrier) {
    return start_carrier(carrier, temp_dir() + "brisk-e2e-carrier.exe");
}

std::string probe_text() {
    const auto bytes = read_file(probe_record());
    return std::string(bytes.begin(), bytes.end());
}

std::vector<ArchiveEntry> payload(int files) {
    std::vector<ArchiveEntry> entries = {{"Install.exe", read_file(exe_dir() + "brisk_probe.exe")}};
    for (int i = 0; i < files; ++i)
        entries.push_back({"e2e-" + std::to_string(i) + ".txt", pattern(3000 + i * 997, i, i % 2)});
    return entries;
}

TEST(Launcher, UnpacksLaunchesAndExitsWithOne) {
    for (int round = 0; round < 2; ++round) {  // the second run replaces the files
        const auto entries = payload(3 + round);
        Started s = start(launcher_carrier("install.exe", entries));
        finish(s);
        EXPECT_EQ(s.exit_code, 1u);
        EXPECT_FALSE(s.saw_error_box) << "success shows no message";
        for (const ArchiveEntry& e : entries)
            EXPECT_EQ(read_file(folder() + e.name), e.data) << e.name << " round " << round;
        ASSERT_TRUE(probe_ran()) << "the launch file was not opened";
        const std::string record = probe_text();
        EXPECT_NE(record.find("args=\n"), std::string::npos) << record;
        std::string cwd = launch_cwd();
        cwd.pop_back();
        EXPECT_NE(record.find("cwd=" + cwd + "\n"), std::string::npos) << record;
    }

    // No entries: the Install.exe an earlier carrier left is not this
    // run's, so nothing is opened; nothing is shown.
    Started s = start(launcher_carrier("install.exe", {}));
    finish(s);
    EXPECT_EQ(s.exit_code, 1u);
    EXPECT_FALSE(s.saw_error_box);
    EXPECT_FALSE(probe_ran(5000));
}

TEST(Launcher, FailureLaunchesThenShowsTheMessage) {
    // Prepare a complete folder first, so the held file exists.
    Started first = start(launcher_carrier("install.exe", payload(3)));
    finish(first);

    std::vector<uint8_t> damaged;  // an entry whose chunk decodes past 8192 bytes
    append_overflowing_entry(damaged, "e2e-damaged.bin");

    std::vector<uint8_t> sub_folder;  // an entry in a sub-folder that does not exist
    append_name(sub_folder, "no-such-dir\\f.txt");
    append_u32(sub_folder, 0);

    std::vector<uint8_t> port;  // COM with a superscript 1: a device, not a file
    append_name(port, "COM\xB9");
    append_u32(port, 0);

    // kHardLink: the file another name of one outside the folder.
    enum Setup { kNone, kHold, kReadOnly, kFolderIsFile, kHardLink };
    struct Case {
        const char* what;
        Setup setup;
        std::vector<uint8_t> tail;  // entries after the good ones
        bool launch_file_exists;
        const char* refused = nullptr;  // a tail entry refused before its file is created
    };
    const Case cases[] = {
        {"damaged chunk", kNone, damaged, true},
        {"file held open", kHold, {}, true},
        {"read-only file", kReadOnly, {}, true},
        {"missing sub-folder", kNone, sub_folder, true},
        {"extraction folder is a file", kFolderIsFile, {}, false},
        {"device name", kNone, port, true, "COM\xB9"},
        {"a hard link in an entry's place", kHardLink, damaged, true},
    };
    const std::string outside = temp_dir() + "brisk-outside.txt";
    const std::vector<uint8_t> outside_bytes = {'k', 'e', 'e', 'p'};
    const std::string held_path = folder() + "e2e-1.txt";
    const std::string bare_folder = folder().substr(0, folder().size() - 1);
    for (const Case& c : cases) {
        const std::vector<uint8_t> before = read_file(held_path);
        HANDLE held = INVALID_HANDLE_VALUE;
        if (c.setup == kHold)
            held = CreateFileA(held_path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (c.setup == kReadOnly) {
            SetFileAttributesA(held_path.c_str(), FILE_ATTRIBUTE_READONLY);
            HANDLE probe = CreateFileA(held_path.c_str(), GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (probe != INVALID_HANDLE_VALUE) {  // Wine run as root writes it anyway
                CloseHandle(probe);
                SetFileAttributesA(held_path.c_str(), FILE_ATTRIBUTE_NORMAL);
                std::printf("note: read-only attribute not enforced here; case skipped\n");
                continue;
            }
        }
        if (c.setup == kFolderIsFile) {
            ASSERT_TRUE(MoveFileA(bare_folder.c_str(), (bare_folder + ".away").c_str()));
            write_file(bare_folder, {'x'});
        }
        if (c.setup == kHardLink) {
            write_file(outside, outside_bytes);
            DeleteFileA(held_path.c_str());
            ASSERT_TRUE(CreateHardLinkA(held_path.c_str(), outside.c_str(), nullptr));
        }
        if (c.refused) DeleteFileA((folder() + c.refused).c_str());
        const auto entries = payload(3);
        Started s = start(launcher_carrier("install.exe", entries, c.tail));
        ASSERT_NE(s.process, nullptr);
        HWND box = nullptr;
        ASSERT_TRUE(wait_for([&] { return (box = error_box()) != nullptr; }, 120000)) << c.what;
        // The box blocks the launcher: a launch seen while it is up came first.
        if (c.launch_file_exists) {
            EXPECT_TRUE(probe_ran()) << c.what;
        }
        char text[256] = "";
        GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        EXPECT_STREQ(text, "File Extraction Error, Cannot Continue.") << c.what;
        char caption[64] = "";
        GetWindowTextA(box, caption, sizeof caption);
        EXPECT_STREQ(caption, "Error");
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        finish(s);
        EXPECT_EQ(s.exit_code, 1u) << c.what;
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        if (c.setup == kReadOnly) SetFileAttributesA(held_path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (c.setup == kFolderIsFile) {
            EXPECT_EQ(read_file(bare_folder), std::vector<uint8_t>{'x'}) << "left as it was";
            DeleteFileA(bare_folder.c_str());
            MoveFileA((bare_folder + ".away").c_str(), bare_folder.c_str());
            continue;
        }
        if (c.refused) {
            EXPECT_EQ(GetFileAttributesA((folder() + c.refused).c_str()), INVALID_FILE_ATTRIBUTES)
                << c.what;
        }
        EXPECT_EQ(read_file(folder() + "Install.exe"), entries[0].data) << "completed before";
        EXPECT_EQ(read_file(folder() + "e2e-0.txt"), entries[1].data) << "completed before";
        if (c.setup == kHardLink) {
            // The link went, not the file it named: the entry was written anew.
            EXPECT_EQ(read_file(outside), outside_bytes) << c.what;
            EXPECT_EQ(read_file(held_path), entries[2].data) << c.what;
            DeleteFileA(outside.c_str());
        } else if (c.setup != kNone) {
            EXPECT_EQ(read_file(held_path), before) << "the refused file is untouched";
        }
    }
}

TEST(Launcher, WindowIsCentredWithItsBarAndTexts) {
    Started s = start(launcher_carrier("install.exe", payload(30)));
    RECT frame = {};
    HWND popup = progress_window(frame);
    ASSERT_NE(popup, nullptr);
    const int screen_w = GetSystemMetrics(SM_CXSCREEN), screen_h = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_EQ(frame.right - frame.left, 245);
    EXPECT_EQ(frame.bottom - frame.top, 87);
    EXPECT_EQ(frame.left, (screen_w - 245) / 2);
    EXPECT_EQ(frame.top, (screen_h - 87) / 2);
    EXPECT_EQ(GetWindowLongA(popup, GWL_STYLE) & (WS_POPUP | WS_DLGFRAME | WS_CAPTION),
              LONG(WS_POPUP | WS_DLGFRAME));

    HWND bar = FindWindowExA(popup, nullptr, "msctls_progress32", nullptr);
    ASSERT_NE(bar, nullptr);
    RECT r = {};
    wait_for([&] { return GetWindowRect(bar, &r) && r.right - r.left > 0; }, 5000);
    POINT corner = {r.left, r.top};
    ScreenToClient(popup, &corner);
    EXPECT_EQ(corner.x, 20);
    EXPECT_EQ(corner.y, 50);
    EXPECT_EQ(r.right - r.left, 200);
    EXPECT_EQ(r.bottom - r.top, 20);

    // Text pixels, not background, where each line is drawn.
    auto ink = [&](int x0, int y0, int x1, int y1) {
        HDC dc = GetDC(popup);
        const COLORREF face = GetSysColor(COLOR_BTNFACE);
        int count = 0;
        for (int y = y0; y < y1; y += 1)
            for (int x = x0; x < x1; x += 2) {
                const COLORREF c = GetPixel(dc, x, y);
                if (c != CLR_INVALID && c != face) ++count;
            }
        ReleaseDC(popup, dc);
        return count;
    };
    EXPECT_TRUE(wait_for([&] { return ink(10, 10, 220, 24) > 20; }, 5000)) << "headline";
    EXPECT_GT(ink(20, 32, 70, 46), 10) << "\"Extracting:\"";
    EXPECT_GT(ink(77, 32, 200, 46), 5) << "the current name";
    EXPECT_EQ(ink(0, 0, 8, 8), 0) << "background stays the button face";
    take_screenshot("progress-window");
    finish(s);
    EXPECT_EQ(s.exit_code, 1u);
}

// Processes now running whose program file is named `name`.
std::vector<DWORD> processes_named(const char* name) {
    std::vector<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (lstrcmpiA(entry.szExeFile, name) == 0) ids.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return ids;
}

BOOL CALLBACK count_error_box(HWND window, LPARAM counter) {
    char title[16] = "", type[16] = "";
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, type, sizeof type);
    if (lstrcmpA(title, "Error") == 0 && lstrcmpA(type, "#32770") == 0)
        ++*reinterpret_cast<int*>(counter);
    return TRUE;
}

int error_boxes() {
    int count = 0;
    EnumWindows(count_error_box, reinterpret_cast<LPARAM>(&count));
    return count;
}

TEST(Launcher, NestedCarrierEndsWithOneMessage) {
    // A carrier packed inside another, both launching setup.exe: the outer
    // run writes the inner carrier as setup.exe and opens it; the inner one
    // cannot replace its own running file, fails, and must not open itself.
    DeleteFileA((folder() + "setup.exe").c_str());
    const auto inner = launcher_carrier("setup.exe", {{"setup.exe", read_file(exe_dir() + "brisk_probe.exe")}});
    Started outer = start(launcher_carrier("setup.exe", {{"setup.exe", inner}}));
    std::set<DWORD> inners;
    int most_boxes = 0;
    auto watch = [&] {
        for (DWORD id : processes_named("setup.exe")) inners.insert(id);
        most_boxes = std::max(most_boxes, error_boxes());
    };
    EXPECT_TRUE(wait_for([&] { watch(); return most_boxes > 0; }, 120000)) << "no message";
    // A launcher that opens itself would start again within tenths of a second.
    const DWORD shown = GetTickCount();
    wait_for([&] { watch(); return GetTickCount() - shown > 4000; }, 10000);
    EXPECT_EQ(inners.size(), 1u) << "setup.exe processes";
    EXPECT_EQ(most_boxes, 1);
    EXPECT_FALSE(probe_ran(0)) << "the inner archive's setup.exe cannot have been written";

    // Whatever happened, leave nothing running.
    wait_for(
        [] {
            for (DWORD id : processes_named("setup.exe"))
                if (HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, id)) {
                    TerminateProcess(process, 1);
                    CloseHandle(process);
                }
            return processes_named("setup.exe").empty() && error_boxes() == 0;
        },
        20000);
    finish(outer);
    EXPECT_EQ(outer.exit_code, 1u);
}

// Two launchers at once can only be shown with two started: no table
// starts more than one.
TEST(Launcher, TwoCarriersAtOnceEachOpenOnlyTheirOwnProgram) {
    // Carrier A writes its setup.exe, then 30 small files, a tenth of a
    // second apart; carrier B, started 2.5 s later, writes another setup.exe
    // into the same empty folder meanwhile. A holds its launch file from its
    // write until it is opened, so B cannot write it and fails with its
    // message, and A's program runs, once.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder() + "*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        DeleteFileA((folder() + found.cFileName).c_str());
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    const std::string runs = temp_dir() + "brisk-probe-runs.txt";
    DeleteFileA(runs.c_str());
    // The probe with bytes appended: it runs the same and records its size.
    auto program = [](size_t extra, uint8_t fill) {
        std::vector<uint8_t> bytes = read_file(exe_dir() + "brisk_probe.exe");
        bytes.insert(bytes.end(), extra, fill);
        return bytes;
    };
    const std::vector<uint8_t> program_a = program(1000, 'A'), program_b = program(2000, 'B');
    std::vector<ArchiveEntry> entries_a = {{"setup.exe", program_a}};
    for (int i = 0; i < 30; ++i) entries_a.push_back({"a-" + std::to_string(i) + ".txt", pattern(200, i, true)});

    Started a = start_carrier(launcher_carrier("setup.exe", entries_a), temp_dir() + "brisk-e2e-a.exe");
    Sleep(2500);
    Started b = start_carrier(launcher_carrier("setup.exe", {{"setup.exe", program_b}}),
                              temp_dir() + "brisk-e2e-b.exe");
    HWND box = nullptr;
    EXPECT_TRUE(wait_for([&] { return (box = error_box()) != nullptr; }, 60000)) << "B's message";
    if (box) PostMessageA(box, WM_COMMAND, IDOK, 0);
    finish(b);
    finish(a);
    EXPECT_FALSE(a.saw_error_box);
    const std::string a_ran = "size=" + std::to_string(program_a.size()) + "\n";
    EXPECT_TRUE(wait_for([&] { return !read_file(runs).empty(); }, 20000)) << "nothing ran";
    // A program opened twice would start within tenths of a second.
    Sleep(3000);
    const std::vector<uint8_t> log = read_file(runs);
    EXPECT_EQ(std::string(log.begin(), log.end()), a_ran);
    EXPECT_EQ(read_file(folder() + "setup.exe"), program_a);
}

// Reads a whole file named in wide characters.
std::vector<uint8_t> read_wide(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    uint8_t block[4096];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof block, &got, nullptr) && got > 0)
        bytes.insert(bytes.end(), block, block + got);
    CloseHandle(file);
    return bytes;
}

void write_wide(const std::wstring& path, const std::vector<uint8_t>& bytes) {
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring widened(const std::string& ansi) {
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH);
    return wide;
}

TEST(Launcher, RunsWithATempFolderOutsideTheAnsiCodePage) {
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    const std::wstring temp = std::wstring(base) + L"\u65E5\u672C\\";  // a user named 日本
    BOOL lossy = FALSE;
    char ansi[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, temp.c_str(), -1, ansi, MAX_PATH, nullptr, &lossy);
    if (!lossy) GTEST_SKIP() << "this ANSI code page can spell the folder";
    CreateDirectoryW(temp.c_str(), nullptr);
    const std::wstring record = temp + L"brisk-probe.txt";
    DeleteFileW(record.c_str());

    // A name outside ASCII keeps its ANSI meaning.
    auto entries = payload(1);
    entries.push_back({"caf\xE9.txt", pattern(500, 9, true)});
    Started s = start_carrier(launcher_carrier("install.exe", entries),
                              temp_dir() + "brisk-e2e-carrier.exe",
                              environment_with({{L"TEMP", temp}, {L"TMP", temp}}));
    finish(s);
    EXPECT_EQ(s.exit_code, 1u);
    EXPECT_FALSE(s.saw_error_box);
    for (const ArchiveEntry& e : entries) {
        wchar_t name[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, e.name.c_str(), -1, name, MAX_PATH);
        EXPECT_EQ(read_wide(temp + L"BriskCourierTmp\\" + name), e.data) << e.name;
    }
    EXPECT_TRUE(wait_for([&] { return GetFileAttributesW(record.c_str()) != INVALID_FILE_ATTRIBUTES; },
                         60000))
        << "the launch file was not opened";
}

}  // namespace

namespace {

// What Windows itself reads of a carrier packed with every resource option:
// the version information, the icon and the manifest, and the checksum of
// the image that holds them.
void expect_resources(const std::string& carrier) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(carrier.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version information";
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(carrier.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00030004u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010002u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0u);
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
    EXPECT_EQ(*static_cast<const DWORD*>(value), 0x04B00409u) << "US English, Unicode";
    const char* const strings[][2] = {{"CompanyName", "Brisk Courier Ltd"},
                                      {"FileDescription", "Brisk test setup"},
                                      {"FileVersion", "1.2.3.4"},
                                      {"ProductVersion", "1.2.0.0"}};
    for (const auto& [key, expected] : strings) {
        const std::string path = std::string("\\StringFileInfo\\040904B0\\") + key;
        ASSERT_TRUE(VerQueryValueA(info.data(), path.c_str(), &value, &length)) << key;
        EXPECT_STREQ(static_cast<const char*>(value), expected) << key;
    }
    // Given on the command line in the ANSI code page, kept as that character.
    wchar_t copyright[16] = {};
    MultiByteToWideChar(CP_ACP, 0, "\xA9 2025", -1, copyright, 16);
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\LegalCopyright", &value, &length));
    EXPECT_STREQ(static_cast<const wchar_t*>(value), copyright);

    EXPECT_EQ(ExtractIconExA(carrier.c_str(), -1, nullptr, nullptr, 0), 1u) << "one icon";
    HICON large = nullptr;
    EXPECT_EQ(ExtractIconExA(carrier.c_str(), 0, &large, nullptr, 1), 1u);
    ICONINFO icon = {};
    ASSERT_TRUE(large && GetIconInfo(large, &icon)) << "the icon does not load";
    BITMAP bitmap = {};
    GetObjectA(icon.hbmColor ? icon.hbmColor : icon.hbmMask, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, GetSystemMetrics(SM_CXICON));
    DeleteObject(icon.hbmColor);
    DeleteObject(icon.hbmMask);
    DestroyIcon(large);

    HMODULE module = LoadLibraryExA(carrier.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_NE(found, nullptr) << "no manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(module, found)));
    const std::string manifest(text, SizeofResource(module, found));
    EXPECT_NE(manifest.find("level=\"asInvoker\" uiAccess=\"false\""), std::string::npos) << manifest;
    FreeLibrary(module);

    // The image alone, as the checksum covers it (the archive came after).
    HANDLE file = CreateFileA(carrier.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    CarrierLayout layout;
    Win32Carrier carrier_file(file);
    const bool read = read_carrier_layout(carrier_file.file(), &layout);
    CloseHandle(file);
    ASSERT_TRUE(read);
    std::vector<uint8_t> image = read_file(carrier);
    image.resize(layout.image_end);
    const std::string image_path = temp_dir() + "brisk-image.exe";
    write_file(image_path, image);
    DWORD header_sum = 0, computed_sum = 0;
    ASSERT_EQ(MapFileAndCheckSumA(image_path.c_str(), &header_sum, &computed_sum), 0u);
    EXPECT_NE(header_sum, 0u);
    EXPECT_EQ(header_sum, computed_sum);
}

// The Windows build of the packing tool: pack a folder with the launcher
// next to it, verify and extract it, then run the carrier it made, plain
// and with every resource option: both run the same, window and all.
TEST(Launcher, RunsACarrierPackedByTheWindowsTool) {
    const std::string tool = exe_dir() + "..\\..\\courier-pack.exe";
    const std::string input = temp_dir() + "brisk-pack-in\\";
    const std::string unpacked = temp_dir() + "brisk-pack-out\\";
    const std::string carrier = temp_dir() + "brisk-packed.exe";
    const std::string icon = temp_dir() + "brisk-app.ico";
    CreateDirectoryA(input.c_str(), nullptr);
    const auto entries = payload(4);
    for (const ArchiveEntry& e : entries) write_file(input + e.name, e.data);
    write_file(icon, ico_file({{16, 4, false}, {32, 32, false}, {48, 8, false}, {256, 32, true}}));
    const std::string resources =
        " --icon \"" + icon + "\" --file-version 1.2.3.4 --product-version 1.2.0.0"
        " --version-string \"CompanyName=Brisk Courier Ltd\""
        " --version-string \"FileDescription=Brisk test setup\""
        " --version-string \"LegalCopyright=\xA9 2025\" --execution-level asInvoker";

    for (const std::string& options : {std::string(), resources}) {
        SCOPED_TRACE(options.empty() ? "plain" : "with resources");
        ASSERT_EQ(run_process("\"" + tool + "\" pack -o \"" + carrier + "\" --launch install.exe \"" +
                              input.substr(0, input.size() - 1) + "\"" + options),
                  0u);
        EXPECT_EQ(run_process("\"" + tool + "\" verify \"" + carrier + "\""), 0u);
        ASSERT_EQ(run_process("\"" + tool + "\" extract \"" + carrier + "\" -C \"" +
                              unpacked.substr(0, unpacked.size() - 1) + "\""),
                  0u);
        for (const ArchiveEntry& e : entries) EXPECT_EQ(read_file(unpacked + e.name), e.data) << e.name;
        if (!options.empty()) expect_resources(carrier);

        for (const ArchiveEntry& e : entries) DeleteFileA((folder() + e.name).c_str());
        Started s = start(read_file(carrier));
        RECT frame = {};
        EXPECT_NE(progress_window(frame), nullptr);
        EXPECT_EQ(frame.right - frame.left, 245);
        EXPECT_EQ(frame.bottom - frame.top, 87);
        finish(s);
        EXPECT_EQ(s.exit_code, 1u);
        EXPECT_FALSE(s.saw_error_box);
        for (const ArchiveEntry& e : entries) EXPECT_EQ(read_file(folder() + e.name), e.data) << e.name;
        EXPECT_TRUE(probe_ran());
    }

    // Any path, also one the ANSI code page cannot spell: a folder named
    // 日本 packs, verifies and extracts, and the messages name it in UTF-8.
    wchar_t base[MAX_PATH];
    GetTempPathW(MAX_PATH, base);
    // Not %TEMP%\日本 itself, the %TEMP% of the test above.
    const std::wstring in = std::wstring(base) + L"brisk-pack-wide\\\u65E5\u672C", out = in + L"-out";
    const std::string in_utf8 = "\xE6\x97\xA5\xE6\x9C\xAC";
    wchar_t wide_tool[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, tool.c_str(), -1, wide_tool, MAX_PATH);
    const std::wstring run = L"\"" + std::wstring(wide_tool) + L"\" ";
    CreateDirectoryW(in.substr(0, in.size() - 3).c_str(), nullptr);
    CreateDirectoryW(in.c_str(), nullptr);
    for (const ArchiveEntry& e : entries) write_wide(in + L"\\" + widened(e.name), e.data);
    std::string said;
    EXPECT_EQ(run_process_wide(run + L"pack -o \"" + in + L".exe\" --launch install.exe \"" + in + L"\"", said), 0u);
    EXPECT_NE(said.find(in_utf8 + ".exe: 5 entries"), std::string::npos) << said;
    EXPECT_EQ(run_process_wide(run + L"verify \"" + in + L".exe\"", said), 0u) << said;
    EXPECT_EQ(run_process_wide(run + L"extract -v \"" + in + L".exe\" -C \"" + out + L"\"", said), 0u);
    EXPECT_NE(said.find(in_utf8 + "-out\\Install.exe ("), std::string::npos) << said;
    for (const ArchiveEntry& e : entries) EXPECT_EQ(read_wide(out + L"\\" + widened(e.name)), e.data) << e.name;
    // What cannot be opened says why, in Windows' words.
    EXPECT_EQ(run_process_wide(run + L"verify \"" + in + L"-missing.exe\"", said), 1u);
    EXPECT_NE(said.find(in_utf8 + "-missing.exe: cannot open: "), std::string::npos) << said;
    EXPECT_NE(said.find("(Windows error 2)"), std::string::npos) << said;
    // A device's name opens the device: neither file pack writes goes
    // there, also when only the wide name says so (COM\u00B9 is COM1).
    const std::pair<std::wstring, std::string> devices[] = {
        {L"-o con.exe", "con.exe: a reserved Windows device name"},
        {L"-o COM\u00B9.exe", "COM\xC2\xB9.exe: a reserved Windows device name"},
        {L"-o \"" + in + L"-d.exe\" --depfile lpt\u00B2.d", "lpt\xC2\xB2.d: a reserved Windows device name"},
    };
    for (const auto& [options, message] : devices) {
        SCOPED_TRACE(message);
        EXPECT_EQ(run_process_wide(run + L"pack " + options + L" --launch install.exe \"" + in + L"\"", said), 1u);
        EXPECT_NE(said.find(message), std::string::npos) << said;
    }

    // The stub, spelt another way, is never the output. (Without --stub
    // the tool reads none: it holds the launcher.)
    const std::string stub = temp_dir() + "brisk-stub-copy.exe";
    write_file(stub, read_file(exe_dir() + "..\\..\\launcher.exe"));
    const auto stub_bytes = read_file(stub);
    EXPECT_EQ(run_process("\"" + tool + "\" pack -o \"" + temp_dir() + ".\\brisk-stub-copy.exe\" --stub \"" +
                          stub + "\" --launch install.exe \"" + input.substr(0, input.size() - 1) + "\""),
              1u);
    EXPECT_EQ(read_file(stub), stub_bytes);
    DeleteFileA(stub.c_str());
}

// Ended while it writes, the tool leaves no file: the carrier is marked for
// deletion until it is renamed into place. And another program writing to
// an input in place while it is read would tear the copy: it cannot open it
// for writing meanwhile, or, if it did first, the pack fails.
TEST(Launcher, WindowsToolEndedMidPackLeavesNothing) {
    const std::string tool = exe_dir() + "..\\..\\courier-pack.exe";
    const std::string input = temp_dir() + "brisk-kill-in\\";
    const std::string out = temp_dir() + "brisk-kill-out\\";
    CreateDirectoryA(input.c_str(), nullptr);
    CreateDirectoryA(out.c_str(), nullptr);
    const HANDLE big = CreateFileA((input + "big").c_str(), GENERIC_WRITE, 0, nullptr,
                                   CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size;
    size.QuadPart = LONGLONG(256) << 20;  // zeros, long enough to catch it writing
    SetFilePointerEx(big, size, nullptr, FILE_BEGIN);
    SetEndOfFile(big);
    CloseHandle(big);
    // The launch file is another: pack reads the launch file's imports in a
    // read of its own, and a write between the two reads tears nothing.
    const HANDLE launch = CreateFileA((input + "setup.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    CloseHandle(launch);
    // Whether `out` holds a file; with `clear`, deletes what it holds.
    auto written = [&](bool clear = false) {
        WIN32_FIND_DATAA found;
        const HANDLE search = FindFirstFileA((out + "*").c_str(), &found);
        bool any = false;
        BOOL more = search != INVALID_HANDLE_VALUE;
        for (; more; more = FindNextFileA(search, &found)) {
            if (found.cFileName[0] == '.') continue;
            any = true;
            if (clear) DeleteFileA((out + found.cFileName).c_str());
        }
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
        return any;
    };
    written(true);

    for (const bool rewrite : {false, true}) {
        SCOPED_TRACE(rewrite ? "an input rewritten in place" : "ended");
        std::string command = "\"" + tool + "\" pack -o \"" + out + "c.exe\" --launch setup.txt \"" +
                              input.substr(0, input.size() - 1) + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info = {};
        ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                   &startup, &info));
        EXPECT_TRUE(wait_for([&] { return written(); }, 60000));
        HANDLE writer = INVALID_HANDLE_VALUE;
        DWORD refused = 0;
        if (rewrite) {
            writer = CreateFileA((input + "big").c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            refused = GetLastError();
        }
        DWORD code = 0;
        if (writer != INVALID_HANDLE_VALUE) {
            DWORD done = 0;
            EXPECT_TRUE(WriteFile(writer, "\x01", 1, &done, nullptr));  // its size kept
            CloseHandle(writer);
            EXPECT_EQ(WaitForSingleObject(info.hProcess, 300000), WAIT_OBJECT_0);
            GetExitCodeProcess(info.hProcess, &code);
            EXPECT_EQ(code, 1u) << "the pack took a copy torn between two versions";
        } else {
            if (rewrite) {
                EXPECT_EQ(refused, DWORD(ERROR_SHARING_VIOLATION));
            }
            TerminateProcess(info.hProcess, 9);
            WaitForSingleObject(info.hProcess, 60000);
        }
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        EXPECT_TRUE(wait_for([&] { return !written(); }, 10000));
    }
}

}  // namespace
