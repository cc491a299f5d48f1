// helper.dll: a DLL a setup program carries and imports, which imports
// version.dll itself, as many do.
#include <windows.h>

extern "C" __declspec(dllexport) DWORD brisk_helper_version() {
    DWORD handle = 0;
    return GetFileVersionInfoSizeA("kernel32.dll", &handle);
}
