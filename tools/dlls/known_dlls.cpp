#include "tools/dlls/known_dlls.h"

#include <algorithm>
#include <iterator>

#include "tools/carrier/names.h"

// Known DLLs are the values of the registry key
//   HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs
// which Windows maps at boot and hands to any program that names one, from
// the system folder, before it searches a folder ("Dynamic-link library
// search order", learn.microsoft.com/windows/win32/dlls/dynamic-link-library-search-order,
// which names the key but not its values). The values differ between
// versions, so this is the set default installs of Windows 7 SP1, 8.1, 10
// and 11 all hold: a DLL known only to newer ones (combase, gdiplus,
// shcore, coml2 on Windows 10) counts as searched for, since an older
// Windows may run the program. A machine's own list:
//   reg query "HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs"
// ntdll.dll is mapped into every process before anything else, and
// kernelbase.dll comes with kernel32.dll (Windows 7 and later), so both are
// loaded, from the system folder, before a program's own imports.
namespace {
const char* const kKnown[] = {
    "advapi32.dll", "clbcatq.dll",  "comdlg32.dll", "gdi32.dll",    "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "kernelbase.dll", "msctf.dll",  "msvcrt.dll",   "normaliz.dll", "nsi.dll",
    "ntdll.dll",    "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",   "sechost.dll",
    "setupapi.dll", "shell32.dll",  "shlwapi.dll",  "user32.dll",   "wldap32.dll",  "ws2_32.dll"};
}  // namespace

bool is_known_dll(const std::string& file) {
    return std::any_of(std::begin(kKnown), std::end(kKnown), [&](const char* known) { return same_name(file, known); });
}

// API sets: "Windows API sets", learn.microsoft.com/windows/win32/apiindex/windows-apisets.
// Before Windows 10 some were files (the Universal C Runtime's api-ms-win-crt-*
// on Windows 7 and 8.1), searched for like any DLL.
bool is_api_set(const std::string& file) {
    const std::string key = ascii_file_key(file);
    return key.rfind("API-MS-WIN-", 0) == 0 || key.rfind("EXT-MS-", 0) == 0;
}
