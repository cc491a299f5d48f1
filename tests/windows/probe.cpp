// Stands in for an installer's setup program: records that it ran, its
// command line and its working directory in %TEMP%\brisk-probe.txt (found
// through the wide services, so a %TEMP% outside the ANSI code page works),
// and adds its own file's size to %TEMP%\brisk-probe-runs.txt, one line a
// run, which tells copies with different bytes appended apart.
// Built again as brisk_version_probe, it imports version.dll too; the other
// builds stand in for setup programs whose DLLs come from elsewhere:
// GetFileVersionInfoSizeA imported under an API set's name, a carried
// helper.dll that imports version.dll, the common controls (whose DLLs load
// uxtheme.dll), and DependentLoadFlags 0x800 in a load configuration.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#ifdef BRISK_PROBE_LOAD_FLAGS
// GNU ld writes no load configuration of its own: the test points the
// directory at this one (IMAGE_LOAD_CONFIG_DIRECTORY32, 72 bytes, its
// DependentLoadFlags the high half of the 14th word).
extern "C" const DWORD brisk_load_config[18] = {72, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x08000000u, 0, 0, 0, 0};
#endif
#ifdef BRISK_PROBE_IMPORTS_HELPER
extern "C" __declspec(dllimport) DWORD brisk_helper_version();
#endif

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
#ifdef BRISK_PROBE_IMPORTS_VERSION
    // A setup program's use of version.dll, which the loader finds before
    // this runs: imported, as most programs do.
    DWORD handle = 0;
    GetFileVersionInfoSizeA("kernel32.dll", &handle);
#endif
#ifdef BRISK_PROBE_IMPORTS_HELPER
    brisk_helper_version();
#endif
#ifdef BRISK_PROBE_IMPORTS_COMCTL32
    InitCommonControls();
#endif
#ifdef BRISK_PROBE_LOAD_FLAGS
    if (brisk_load_config[0] != 72) return 1;  // kept by the linker
#endif
    wchar_t temp[MAX_PATH], path[MAX_PATH + 32], partial[MAX_PATH + 40];
    char cwd[MAX_PATH], record[3 * MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    lstrcatW(lstrcpyW(path, temp), L"brisk-probe.txt");
    lstrcatW(lstrcpyW(partial, path), L".part");
    GetCurrentDirectoryA(MAX_PATH, cwd);
    const char* raw = GetCommandLineA();
    // The program's own name ends at the first unquoted blank.
    const char* args = raw;
    bool quoted = false;
    for (; *args && (quoted || (*args != ' ' && *args != '\t')); ++args)
        if (*args == '"') quoted = !quoted;
    while (*args == ' ' || *args == '\t') ++args;
    const int length = std::snprintf(record, sizeof record, "ran\nargs=%s\ncwd=%s\n", args, cwd);
    HANDLE file = CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, record, DWORD(length), &written, nullptr);
        CloseHandle(file);
        MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING);
    }
    wchar_t self[MAX_PATH], runs[MAX_PATH + 32];
    DWORD size = 0;
    if (GetModuleFileNameW(nullptr, self, MAX_PATH)) {
        HANDLE own = CreateFileW(self, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (own != INVALID_HANDLE_VALUE) {
            size = GetFileSize(own, nullptr);
            CloseHandle(own);
        }
    }
    lstrcatW(lstrcpyW(runs, temp), L"brisk-probe-runs.txt");
    HANDLE log = CreateFileW(runs, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
        char line[32];
        const int line_length = std::snprintf(line, sizeof line, "size=%lu\n", size);
        DWORD written = 0;
        WriteFile(log, line, DWORD(line_length), &written, nullptr);
        CloseHandle(log);
    }
    return 0;
}
