#include "windows_test_support.h"

#include <windows.h>

#include "run/extract_run.h"

std::string temp_dir() {
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

std::string exe_dir() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string path(self);
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string folder() { return temp_dir() + "BriskCourierTmp\\"; }

std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        out[i] = compressible ? uint8_t("setup files "[x % 12]) : uint8_t(x >> 24);
    }
    return out;
}

unsigned long run_process(std::string command, const char* directory) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, directory,
                        &startup, &info))
        return 999;
    DWORD code = 998;
    if (WaitForSingleObject(info.hProcess, 120000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return code;
}
