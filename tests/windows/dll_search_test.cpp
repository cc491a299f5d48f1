// A DLL planted beside the launcher or in its current directory must not be
// loaded: not by the loader before any of our code runs, and not once the
// DLL search is restricted. The program the launcher opens has no such
// guard unless it was built with one: courier-pack warns of what it would
// load from the shared folder.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "platform/dll_search.h"
#include "windows_test_support.h"

namespace {

// Runs a copy of this program from a folder holding the planted DLL;
// returns 1 when the DLL was loaded.
DWORD load_planted(const char* mode, const std::string& dll = "brisk_planted.dll") {
    const std::string dir = temp_dir() + "brisk-plant\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CopyFileA(self, (dir + "host.exe").c_str(), FALSE);
    CopyFileA((exe_dir() + "brisk_planted.dll").c_str(), (dir + dll).c_str(), FALSE);
    return run_process("\"" + dir + "host.exe\" --load-planted " + mode + " " + dll, dir.c_str());
}

TEST(DllSearch, PlantedDllIsNotLoadedOnceRestricted) {
    EXPECT_EQ(load_planted("plain"), 1u) << "the plant works without the restriction";
    EXPECT_EQ(load_planted("restricted"), 0u);
}

// Every DLL the launcher uses: its imports (the first four), the common
// controls it loads, and what the system loads for its window and the shell.
const char* const kUsed[] = {"kernel32", "user32", "gdi32",   "shell32", "comctl32",
                             "uxtheme",  "ole32",  "combase", "rpcrt4"};
// Native first, as Windows orders them: the two that are not among its known
// DLLs. Known DLLs always come from the system folder on Windows; Wine has
// none, so native first for them would put a plant into any program, ours or
// not (its loader also resolves delay-loaded DLLs, such as imm32's ole32,
// without the restricted search).
const char* const kNativeFirst[] = {"comctl32", "uxtheme"};

// The order WINEDLLOVERRIDES=...=n,b gives, for one program. (That variable
// set in a Windows program's environment does not reach the programs it
// starts: Wine's loader reads the Unix environment.)
class NativeFirst {
public:
    explicit NativeFirst(const std::string& program,
                         const std::vector<const char*>& dlls = {std::begin(kNativeFirst), std::end(kNativeFirst)})
        : key_("Software\\Wine\\AppDefaults\\" + program) {
        HKEY overrides = nullptr;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str(), 0, nullptr, 0,
                            KEY_SET_VALUE, nullptr, &overrides, nullptr) != ERROR_SUCCESS)
            return;
        for (const char* dll : dlls)
            RegSetValueExA(overrides, dll, 0, REG_SZ, reinterpret_cast<const BYTE*>("native,builtin"),
                           sizeof "native,builtin");
        RegCloseKey(overrides);
    }
    ~NativeFirst() { RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str()); }

private:
    std::string key_;
};

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

TEST(DllSearch, LauncherLoadsNoDllPlantedBesideIt) {
    const std::string dir = temp_dir() + "brisk-plant\\";
    // The plant and the order work: a program that does not restrict its
    // search takes comctl32.dll from beside itself.
    {
        NativeFirst order("host.exe");
        DeleteFileA((dir + "comctl32.dll.loaded").c_str());
        EXPECT_EQ(load_planted("plain", "comctl32.dll"), 1u);
        EXPECT_TRUE(exists(dir + "comctl32.dll.loaded")) << "the plant did not take";
    }
    for (const char* name : kUsed) {
        const std::string dll = dir + name + ".dll";
        CopyFileA((exe_dir() + "brisk_planted.dll").c_str(), dll.c_str(), FALSE);
        DeleteFileA((dll + ".loaded").c_str());
    }
    NativeFirst order("brisk-plant-setup.exe");
    const std::vector<ArchiveEntry> entries = {
        {"Install.exe", read_file(exe_dir() + "brisk_probe.exe")}, {"plant.txt", {'o', 'k'}}};
    Started s = start_carrier(launcher_carrier("install.exe", entries), dir + "brisk-plant-setup.exe");
    finish(s);
    EXPECT_EQ(s.exit_code, 1u);
    EXPECT_FALSE(s.saw_error_box);
    EXPECT_EQ(read_file(folder() + "plant.txt"), entries[1].data);
    EXPECT_TRUE(probe_ran());
    for (const char* name : kUsed)
        EXPECT_FALSE(exists(dir + name + ".dll.loaded")) << name << ".dll beside the launcher was loaded";
}

// Points the load configuration directory of a probe built with
// BRISK_PROBE_LOAD_FLAGS at its brisk_load_config, found by its bytes.
std::vector<uint8_t> with_load_config(std::vector<uint8_t> image) {
    const uint8_t signature[] = {72, 0, 0, 0};
    const uint32_t pe = *reinterpret_cast<const uint32_t*>(&image[0x3C]);
    const uint16_t sections = *reinterpret_cast<const uint16_t*>(&image[pe + 6]);
    const uint32_t optional = pe + 24, table = optional + *reinterpret_cast<const uint16_t*>(&image[pe + 20]);
    for (size_t at = 0; at + 72 <= image.size(); at += 4) {
        if (std::memcmp(&image[at], signature, 4) != 0 || image[at + 55] != 0x08 || image[at + 4] != 0) continue;
        for (uint16_t i = 0; i < sections; ++i) {
            const uint8_t* h = &image[table + 40 * i];
            const uint32_t rva = *reinterpret_cast<const uint32_t*>(h + 12),
                           raw_size = *reinterpret_cast<const uint32_t*>(h + 16),
                           raw = *reinterpret_cast<const uint32_t*>(h + 20);
            if (at < raw || at >= raw + raw_size) continue;
            const uint32_t directory[2] = {uint32_t(at - raw + rva), 72};
            std::memcpy(&image[optional + 96 + 8 * 10], directory, sizeof directory);
            return image;
        }
    }
    ADD_FAILURE() << "no brisk_load_config in the probe";
    return image;
}

// The danger verify warns of is real: a setup program that loads a DLL
// from the folder every carrier shares, opened there by the launcher, loads
// the one another carrier left (native first for it, as Windows takes any
// DLL but its known ones). pack and verify warn of exactly such carriers,
// and not of one whose DLL comes from elsewhere. Each row: the probe
// packed as setup.exe, what it carries, the DLL planted.
TEST(DllSearch, SetupProgramLoadsTheDllAnotherCarrierLeftAndVerifyWarnsOfIt) {
    const std::string tool = exe_dir() + "..\\..\\courier-pack.exe";
    const std::string input = temp_dir() + "brisk-dll-in", carrier = temp_dir() + "brisk-dll-carrier.exe";
    auto run = [&](const std::string& command, std::string& said) {
        return run_process_wide(L"\"" + std::wstring(tool.begin(), tool.end()) + L"\" " +
                                    std::wstring(command.begin(), command.end()),
                                said);
    };
    const std::string elevated = "setup.exe runs elevated (Windows takes it for an installer by its name";
    struct Row {
        const char* what;
        std::vector<uint8_t> program;
        std::vector<std::string> carried;  // files beside this test program, packed too
        const char* plant;                 // planted in the extraction folder as this file
        bool loaded;                       // the plant is loaded under Wine 8
        std::string warning;               // what pack and verify say of it; "" for no warning
        std::string options = "";          // to pack and verify
    };
    const Row rows[] = {
        {"a setup program importing version.dll", read_file(exe_dir() + "brisk_version_probe.exe"), {},
         "version.dll", true, "setup.exe loads VERSION.dll from the folder it starts in first"},
        // Its own copy (the plant's bytes) is the one loaded.
        {"carrying version.dll itself", read_file(exe_dir() + "brisk_version_probe.exe"), {"version.dll"},
         "version.dll", true, elevated},
        {"an API set Windows 7 does not map", read_file(exe_dir() + "brisk_rt4probe_probe.exe"), {},
         "api-ms-win-core-rt4probe-l1-1-0.dll", true,
         "setup.exe loads api-ms-win-core-rt4probe-l1-1-0.dll from the folder it starts in first"},
        {"a carried DLL importing version.dll", read_file(exe_dir() + "brisk_helper_probe.exe"), {"helper.dll"},
         "version.dll", true, "setup.exe loads VERSION.dll (setup.exe -> helper.dll -> VERSION.dll)"},
        {"the common controls' uxtheme.dll", read_file(exe_dir() + "brisk_comctl_probe.exe"), {}, "uxtheme.dll",
         true, elevated},
        {"DependentLoadFlags 0x800, which Wine ignores",
         with_load_config(read_file(exe_dir() + "brisk_flags_probe.exe")), {}, "version.dll", true,
         "setup.exe loads VERSION.dll from the folder it starts in first; that folder is shared by every "
         "carrier, so a VERSION.dll another one left there would be loaded instead: pack with --min-windows "
         "10.1607"},
        {"the same for Windows 10 1607 on, as Wine is not",
         with_load_config(read_file(exe_dir() + "brisk_flags_probe.exe")), {}, "version.dll", true, "",
         "--min-windows 10.1607 "},
        {"comctl32 from the side-by-side store", read_file(exe_dir() + "brisk_themed_probe.exe"), {},
         "comctl32.dll", false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        CreateDirectoryA(input.c_str(), nullptr);
        for (const char* old : {"version.dll", "helper.dll"}) DeleteFileA((input + "\\" + old).c_str());
        write_file(input + "\\setup.exe", row.program);
        for (const std::string& file : row.carried)
            write_file(input + "\\" + file,
                       read_file(exe_dir() + (file == "helper.dll" ? "helper.dll" : "brisk_planted.dll")));
        std::string said;
        ASSERT_EQ(run("pack " + row.options + "-o \"" + carrier + "\" --launch setup.exe \"" + input + "\"", said),
                  0u)
            << said;
        // The one warning holds the row's sentence, first or not.
        auto warned = [&](const std::string& said, const std::string& prefix) {
            if (row.warning.empty()) return said.find("warning") == std::string::npos;
            return said.find(prefix) != std::string::npos && said.find(row.warning) != std::string::npos;
        };
        EXPECT_TRUE(warned(said, "warning: ")) << said;

        CreateDirectoryA(folder().c_str(), nullptr);
        const std::string plant = folder() + row.plant;
        const std::string base(row.plant, std::strlen(row.plant) - 4);
        DeleteFileA((plant + ".loaded").c_str());
        if (std::find(row.carried.begin(), row.carried.end(), row.plant) == row.carried.end())
            CopyFileA((exe_dir() + "brisk_planted.dll").c_str(), plant.c_str(), FALSE);
        {
            NativeFirst order("setup.exe", {base.c_str()});
            Started s = start_carrier(read_file(carrier), carrier);
            finish(s);
            EXPECT_EQ(s.exit_code, 1u);
            EXPECT_TRUE(probe_ran());
        }
        EXPECT_EQ(exists(plant + ".loaded"), row.loaded) << "the " << row.plant << " left in the folder";
        DeleteFileA(plant.c_str());
        DeleteFileA((plant + ".loaded").c_str());

        EXPECT_EQ(run("verify " + row.options + "\"" + carrier + "\"", said), 0u) << said;
        EXPECT_TRUE(warned(said, "warning: " + carrier + ": ")) << said;
        EXPECT_EQ(run("verify --strict " + row.options + "\"" + carrier + "\"", said), row.warning.empty() ? 0u : 1u)
            << said;
    }
}

}  // namespace

// Child side: --load-planted plain|restricted DLL.
int load_planted_main(const char* mode, const char* dll) {
    if (std::string(mode) == "restricted" && !restrict_dll_search()) return 2;
    return LoadLibraryA(dll) ? 1 : 0;
}
