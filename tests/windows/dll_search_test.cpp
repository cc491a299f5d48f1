// A DLL planted beside the launcher or in its current directory must not be
// loaded: not by the loader before any of our code runs, and not once the
// DLL search is restricted. The program the launcher opens has no such
// guard unless it was built with one: courier-pack warns of what it would
// load from the shared folder.
#include <gtest/gtest.h>

#include <windows.h>

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

// The danger verify warns of is real: a setup program that imports
// version.dll and carries none, opened by the launcher in the folder every
// carrier shares, loads the version.dll another carrier left there (native
// first for it, as Windows takes any DLL but its known ones). pack and
// verify warn of exactly that carrier; one carrying version.dll draws none.
TEST(DllSearch, SetupProgramLoadsTheDllAnotherCarrierLeftAndVerifyWarnsOfIt) {
    const std::string tool = exe_dir() + "..\\..\\courier-pack.exe";
    const std::string input = temp_dir() + "brisk-dll-in", exposed = temp_dir() + "brisk-dll-exposed.exe",
                      carrying = temp_dir() + "brisk-dll-carrying.exe";
    const std::string loads = "setup.exe loads VERSION.dll from the folder it starts in first";
    auto run = [&](const std::string& command, std::string& said) {
        return run_process_wide(L"\"" + std::wstring(tool.begin(), tool.end()) + L"\" " +
                                    std::wstring(command.begin(), command.end()),
                                said);
    };
    CreateDirectoryA(input.c_str(), nullptr);
    DeleteFileA((input + "\\version.dll").c_str());  // an earlier run's
    write_file(input + "\\setup.exe", read_file(exe_dir() + "brisk_version_probe.exe"));
    write_file(input + "\\readme.txt", {'o', 'k'});
    std::string said;
    ASSERT_EQ(run("pack -o \"" + exposed + "\" --launch setup.exe \"" + input + "\"", said), 0u) << said;
    EXPECT_NE(said.find("warning: " + loads), std::string::npos) << said;

    CreateDirectoryA(folder().c_str(), nullptr);
    const std::string plant = folder() + "version.dll";
    CopyFileA((exe_dir() + "brisk_planted.dll").c_str(), plant.c_str(), FALSE);
    DeleteFileA((plant + ".loaded").c_str());
    {
        NativeFirst order("setup.exe", {"version"});
        Started s = start_carrier(read_file(exposed), exposed);
        finish(s);
        EXPECT_EQ(s.exit_code, 1u);
        EXPECT_TRUE(probe_ran());
    }
    EXPECT_TRUE(exists(plant + ".loaded")) << "the version.dll left in the folder was not loaded";
    DeleteFileA(plant.c_str());
    DeleteFileA((plant + ".loaded").c_str());

    EXPECT_EQ(run("verify \"" + exposed + "\"", said), 0u);
    EXPECT_NE(said.find("warning: " + exposed + ": " + loads), std::string::npos) << said;
    EXPECT_EQ(run("verify --strict \"" + exposed + "\"", said), 1u) << said;
    write_file(input + "\\version.dll", read_file(exe_dir() + "brisk_planted.dll"));
    ASSERT_EQ(run("pack -o \"" + carrying + "\" --launch setup.exe \"" + input + "\"", said), 0u) << said;
    EXPECT_EQ(said.find("warning"), std::string::npos) << said;
    EXPECT_EQ(run("verify --strict \"" + carrying + "\"", said), 0u) << said;
}

}  // namespace

// Child side: --load-planted plain|restricted DLL.
int load_planted_main(const char* mode, const char* dll) {
    if (std::string(mode) == "restricted" && !restrict_dll_search()) return 2;
    return LoadLibraryA(dll) ? 1 : 0;
}
