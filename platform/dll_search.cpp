#include "platform/dll_search.h"

#include <windows.h>

namespace {
constexpr DWORD kSearchSystem32 = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef void(WINAPI* InitCommonControlsFn)();
}  // namespace

bool restrict_dll_search() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return false;
    // Also drop the current directory from the older search order.
    SetDllDirectoryA("");
    auto set_default = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return set_default && set_default(kSearchSystem32);
}

void init_common_controls() {
    static const char kName[] = "\\comctl32.dll";
    char path[MAX_PATH + sizeof kName];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;
    for (UINT i = 0; i < sizeof kName; ++i) path[length + i] = kName[i];
    // The altered search takes the DLL's own dependencies from its folder too,
    // where the system has no default directories to restrict to.
    HMODULE controls = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!controls) return;
    auto init = reinterpret_cast<InitCommonControlsFn>(
        reinterpret_cast<void*>(GetProcAddress(controls, "InitCommonControls")));
    if (init) init();
}
