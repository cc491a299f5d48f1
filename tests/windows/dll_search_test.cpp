// A DLL planted beside the launcher or in its current directory must not be
// loaded once the DLL search is restricted.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "platform/dll_search.h"
#include "windows_test_support.h"

namespace {

// Runs a copy of this program from a folder holding the planted DLL;
// returns 1 when the DLL was loaded.
DWORD load_planted(const char* mode) {
    const std::string dir = temp_dir() + "brisk-plant\\";
    CreateDirectoryA(dir.c_str(), nullptr);
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    CopyFileA(self, (dir + "host.exe").c_str(), FALSE);
    CopyFileA((exe_dir() + "brisk_planted.dll").c_str(), (dir + "brisk_planted.dll").c_str(), FALSE);
    return run_process("\"" + dir + "host.exe\" --load-planted " + mode, dir.c_str());
}

TEST(DllSearch, PlantedDllIsNotLoadedOnceRestricted) {
    EXPECT_EQ(load_planted("plain"), 1u) << "the plant works without the restriction";
    EXPECT_EQ(load_planted("restricted"), 0u);
}

}  // namespace

// Child side: --load-planted plain|restricted.
int load_planted_main(const char* mode) {
    if (std::string(mode) == "restricted" && !restrict_dll_search()) return 2;
    return LoadLibraryA("brisk_planted.dll") ? 1 : 0;
}
