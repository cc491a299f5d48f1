#include "tools/dlls/known_dlls.h"

#include <algorithm>
#include <iterator>

#include "tools/carrier/names.h"

namespace {

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
const char* const kKnown[] = {
    "advapi32.dll", "clbcatq.dll",  "comdlg32.dll", "gdi32.dll",    "imagehlp.dll", "imm32.dll",
    "kernel32.dll", "kernelbase.dll", "msctf.dll",  "msvcrt.dll",   "normaliz.dll", "nsi.dll",
    "ntdll.dll",    "ole32.dll",    "oleaut32.dll", "psapi.dll",    "rpcrt4.dll",   "sechost.dll",
    "setupapi.dll", "shell32.dll",  "shlwapi.dll",  "user32.dll",   "wldap32.dll",  "ws2_32.dll"};

// API sets ("Windows API sets", learn.microsoft.com/windows/win32/apiindex/windows-apisets)
// are names the loader maps through the schema of the running Windows
// (apisetschema.dll) to a host DLL; a name the schema lacks is searched
// for as a file, like any DLL. Windows 7 SP1, the oldest of the range, maps
// only these: the contracts of its apisetschema.dll, each kept by the
// schemas of 8.1, 10 and 11 (the umbrella-library pages,
// learn.microsoft.com/windows/win32/apiindex/umbrella-lib-onecore, give
// each function's set and its first Windows). Check on a machine: each
// name loads with LoadLibraryExW(name, NULL, LOAD_LIBRARY_SEARCH_SYSTEM32).
const char* const kApiSetsEverywhere[] = {
    "api-ms-win-core-console-l1-1-0.dll",         "api-ms-win-core-datetime-l1-1-0.dll",
    "api-ms-win-core-debug-l1-1-0.dll",           "api-ms-win-core-delayload-l1-1-0.dll",
    "api-ms-win-core-errorhandling-l1-1-0.dll",   "api-ms-win-core-fibers-l1-1-0.dll",
    "api-ms-win-core-file-l1-1-0.dll",            "api-ms-win-core-handle-l1-1-0.dll",
    "api-ms-win-core-heap-l1-1-0.dll",            "api-ms-win-core-interlocked-l1-1-0.dll",
    "api-ms-win-core-io-l1-1-0.dll",              "api-ms-win-core-libraryloader-l1-1-0.dll",
    "api-ms-win-core-localization-l1-1-0.dll",    "api-ms-win-core-localregistry-l1-1-0.dll",
    "api-ms-win-core-memory-l1-1-0.dll",          "api-ms-win-core-misc-l1-1-0.dll",
    "api-ms-win-core-namedpipe-l1-1-0.dll",       "api-ms-win-core-processenvironment-l1-1-0.dll",
    "api-ms-win-core-processthreads-l1-1-0.dll",  "api-ms-win-core-profile-l1-1-0.dll",
    "api-ms-win-core-rtlsupport-l1-1-0.dll",      "api-ms-win-core-string-l1-1-0.dll",
    "api-ms-win-core-synch-l1-1-0.dll",           "api-ms-win-core-sysinfo-l1-1-0.dll",
    "api-ms-win-core-threadpool-l1-1-0.dll",      "api-ms-win-core-util-l1-1-0.dll",
    "api-ms-win-core-xstate-l1-1-0.dll",          "api-ms-win-security-base-l1-1-0.dll",
    "api-ms-win-security-lsalookup-l1-1-0.dll",   "api-ms-win-security-sddl-l1-1-0.dll",
    "api-ms-win-service-core-l1-1-0.dll",         "api-ms-win-service-management-l1-1-0.dll",
    "api-ms-win-service-management-l2-1-0.dll",   "api-ms-win-service-winsvc-l1-1-0.dll"};

// What Windows 10 version 1607 maps besides: the Universal C Runtime's
// sets ("Universal CRT deployment", learn.microsoft.com/cpp/windows/universal-crt-deployment:
// part of Windows 10; on 7 SP1 and 8.1 files an update, KB2999226, or a
// program's installer adds) and the Windows 8 contracts MSVC's runtime
// imports.
const char* const kApiSetsFrom10[] = {
    "api-ms-win-crt-conio-l1-1-0.dll",       "api-ms-win-crt-convert-l1-1-0.dll",
    "api-ms-win-crt-environment-l1-1-0.dll", "api-ms-win-crt-filesystem-l1-1-0.dll",
    "api-ms-win-crt-heap-l1-1-0.dll",        "api-ms-win-crt-locale-l1-1-0.dll",
    "api-ms-win-crt-math-l1-1-0.dll",        "api-ms-win-crt-multibyte-l1-1-0.dll",
    "api-ms-win-crt-private-l1-1-0.dll",     "api-ms-win-crt-process-l1-1-0.dll",
    "api-ms-win-crt-runtime-l1-1-0.dll",     "api-ms-win-crt-stdio-l1-1-0.dll",
    "api-ms-win-crt-string-l1-1-0.dll",      "api-ms-win-crt-time-l1-1-0.dll",
    "api-ms-win-crt-utility-l1-1-0.dll",     "api-ms-win-core-file-l1-2-0.dll",
    "api-ms-win-core-synch-l1-2-0.dll",      "api-ms-win-core-winrt-l1-1-0.dll",
    "api-ms-win-core-winrt-string-l1-1-0.dll"};

// DLLs in the system folder (SysWOW64 for 32-bit programs) of default
// installs of Windows 7 SP1, 8.1, 10 and 11, besides the known DLLs: the
// "DLL" and "Minimum supported client" rows of each function's page on
// learn.microsoft.com (Windows 7 or earlier for every one here), and the
// DirectX, Media Foundation and MSXML pages for theirs. A machine's own:
//   dir %SystemRoot%\SysWOW64\*.dll
const char* const kShippedEverywhere[] = {
    "activeds.dll", "apphelp.dll",   "atl.dll",      "authz.dll",    "avifil32.dll", "bcrypt.dll",
    "bcryptprimitives.dll", "cabinet.dll", "cfgmgr32.dll", "comctl32.dll", "credui.dll", "crypt32.dll",
    "cryptbase.dll", "cryptnet.dll", "cryptsp.dll",  "cryptui.dll",  "d2d1.dll",     "d3d10.dll",
    "d3d10_1.dll",  "d3d11.dll",     "d3d9.dll",     "dbghelp.dll",  "ddraw.dll",    "dhcpcsvc.dll",
    "dinput.dll",   "dinput8.dll",   "dnsapi.dll",   "dsound.dll",   "dwmapi.dll",   "dwrite.dll",
    "dxgi.dll",     "dxva2.dll",     "evr.dll",      "faultrep.dll", "fltlib.dll",   "gdiplus.dll",
    "glu32.dll",    "hid.dll",       "iphlpapi.dll", "ktmw32.dll",   "mapi32.dll",   "mf.dll",
    "mfc42.dll",    "mfc42u.dll",    "mfplat.dll",   "mfreadwrite.dll", "mlang.dll", "mpr.dll",
    "msacm32.dll",  "msasn1.dll",    "mscms.dll",    "mscoree.dll",  "msftedit.dll", "msi.dll",
    "msimg32.dll",  "msvcp60.dll",   "msvfw32.dll",  "mswsock.dll",  "msxml3.dll",   "msxml6.dll",
    "ncrypt.dll",   "netapi32.dll",  "newdev.dll",   "ntdsapi.dll",  "ntmarta.dll",  "odbc32.dll",
    "oleacc.dll",   "oledlg.dll",    "olepro32.dll", "opengl32.dll", "pdh.dll",      "powrprof.dll",
    "profapi.dll",  "propsys.dll",   "rasapi32.dll", "riched20.dll", "riched32.dll", "rstrtmgr.dll",
    "secur32.dll",  "sfc.dll",       "shdocvw.dll",  "shfolder.dll", "sspicli.dll",  "sxs.dll",
    "tapi32.dll",   "urlmon.dll",    "userenv.dll",  "usp10.dll",    "uxtheme.dll",  "version.dll",
    "vssapi.dll",   "wer.dll",       "wevtapi.dll",  "windowscodecs.dll", "winhttp.dll", "wininet.dll",
    "winmm.dll",    "winscard.dll",  "winspool.drv", "winsta.dll",   "wintrust.dll", "wlanapi.dll",
    "wsock32.dll",  "wtsapi32.dll",  "xinput9_1_0.dll", "xmllite.dll"};

// In the system folder of Windows 10 version 1607 and later, not of 7 SP1
// (the same pages' "Minimum supported client": Windows 8, 8.1 or 10).
const char* const kShippedFrom10[] = {"combase.dll", "d3d12.dll", "d3dcompiler_47.dll", "dcomp.dll",
                                      "shcore.dll", "ucrtbase.dll", "windows.storage.dll", "xinput1_4.dll"};

// Never part of Windows, but on many machines: Visual C++ runtimes
// ("Latest supported Visual C++ Redistributable downloads",
// learn.microsoft.com/cpp/windows/latest-supported-vc-redist), the DirectX
// End-User Runtime's D3DX, XInput 1.3 and XAudio 2.7, and a graphics
// driver's Vulkan and OpenCL loaders. Whether the user has one no list says.
const char* const kShippedBySome[] = {
    "concrt140.dll", "d3dcompiler_43.dll", "d3dx10_43.dll", "d3dx11_43.dll", "d3dx9_43.dll",
    "mfc140.dll",    "mfc140u.dll",        "msvcp100.dll",  "msvcp110.dll",  "msvcp120.dll",
    "msvcp140.dll",  "msvcp140_1.dll",     "msvcp140_2.dll", "msvcp71.dll",  "msvcp80.dll",
    "msvcp90.dll",   "msvcr100.dll",       "msvcr110.dll",  "msvcr120.dll",  "msvcr71.dll",
    "msvcr80.dll",   "msvcr90.dll",        "opencl.dll",    "vcomp140.dll",  "vcruntime140.dll",
    "vcruntime140_1.dll", "vulkan-1.dll",  "xaudio2_7.dll", "xinput1_3.dll"};

// Side-by-side assemblies of every Windows from 7 SP1 on ("Enabling visual
// styles", learn.microsoft.com/windows/win32/controls/cookbook-overview, and
// "Isolated applications and side-by-side assemblies"), and the DLL each
// gives a program whose manifest depends on it, from the store whatever
// folder the program starts in.
struct Assembly {
    const char* name;
    const char* file;
};
const Assembly kAssemblies[] = {{"microsoft.windows.common-controls", "comctl32.dll"},
                                {"microsoft.windows.gdiplus", "gdiplus.dll"}};

template <size_t N>
bool holds(const char* const (&list)[N], const std::string& file) {
    return std::any_of(std::begin(list), std::end(list), [&](const char* member) { return same_name(file, member); });
}

template <size_t N>
std::vector<std::string> whole(const char* const (&list)[N]) {
    return std::vector<std::string>(std::begin(list), std::end(list));
}

}  // namespace

const char* windows_range_name(WindowsRange range) {
    return range == WindowsRange::kFrom10v1607 ? "10.1607" : "7sp1";
}

bool windows_range_from_name(const std::string& name, WindowsRange& range) {
    for (WindowsRange r : {WindowsRange::kFrom7Sp1, WindowsRange::kFrom10v1607})
        if (name == windows_range_name(r)) {
            range = r;
            return true;
        }
    return false;
}

const char* windows_range_text(WindowsRange range) {
    return range == WindowsRange::kFrom10v1607 ? "Windows 10 version 1607" : "Windows 7 SP1";
}

bool is_known_dll(const std::string& file) { return holds(kKnown, file); }

bool is_api_set_name(const std::string& file) {
    const std::string key = ascii_file_key(file);
    return key.rfind("API-MS-WIN-", 0) == 0 || key.rfind("EXT-MS-", 0) == 0;
}

bool resolves_api_set(const std::string& file, WindowsRange range) {
    return holds(kApiSetsEverywhere, file) || (range == WindowsRange::kFrom10v1607 && holds(kApiSetsFrom10, file));
}

Shipped windows_ships(const std::string& file, WindowsRange range) {
    if (is_known_dll(file) || holds(kShippedEverywhere, file) || resolves_api_set(file, range))
        return Shipped::kEvery;
    if (holds(kShippedFrom10, file)) return range == WindowsRange::kFrom10v1607 ? Shipped::kEvery : Shipped::kSome;
    // A set some Windows may map, or a file an update adds (the UCRT's).
    if (is_api_set_name(file) || holds(kShippedBySome, file)) return Shipped::kSome;
    return Shipped::kNone;
}

bool assembly_provides(const std::string& assembly, const std::string& file) {
    return std::any_of(std::begin(kAssemblies), std::end(kAssemblies), [&](const Assembly& a) {
        return ascii_file_key(assembly) == ascii_file_key(a.name) && same_name(file, a.file);
    });
}

WindowsDllLists windows_dll_lists() {
    return {whole(kKnown),        whole(kApiSetsEverywhere), whole(kApiSetsFrom10),
            whole(kShippedEverywhere), whole(kShippedFrom10), whole(kShippedBySome)};
}
