// Files, folders and started launchers for the Windows-side tests.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/carrier_builder.h"
#include "tests/support/test_files.h"

std::string temp_dir();  // %TEMP%, with its trailing backslash
std::string folder();    // the extraction folder, with its trailing backslash
std::string exe_dir();   // this program's folder, with its trailing backslash
// Deterministic data: text-like when compressible, else noise.
std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible);

// Starts a command line (optionally in `directory`, with `environment` from
// environment_with) and waits for it; returns its exit code, or 999 when it
// cannot start, 998 when it hangs.
unsigned long run_process(std::string command, const char* directory = nullptr,
                          const std::wstring& environment = L"");
// The same with a command line the ANSI code page may not spell; what it
// writes to stdout and stderr lands in `output`.
unsigned long run_process_wide(const std::wstring& command, std::string& output);

// This program's environment with the given variables set, as a block for
// CreateProcessW.
std::wstring environment_with(const std::vector<std::pair<std::wstring, std::wstring>>& set);

template <typename Condition>
bool wait_for(Condition condition, DWORD timeout_ms) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeout_ms) return false;
        Sleep(20);
    }
    return true;
}

// The real launcher.exe with an archive appended: launch name, entries,
// `tail` (raw entries), end marker, trailer.
std::vector<uint8_t> launcher_carrier(const std::string& launch, const std::vector<ArchiveEntry>& entries,
                                      const std::vector<uint8_t>& tail = {});

// The probe program records its runs in %TEMP%\brisk-probe.txt; it is
// started in launch_cwd().
std::string probe_record();
std::string launch_cwd();
bool probe_ran(DWORD timeout_ms = 60000);  // waits for the record

// A launcher started on a carrier, and what was seen of it.
struct Started {
    HANDLE process = nullptr;
    DWORD exit_code = 0;
    bool saw_error_box = false;
};
// Writes the carrier to `path` and starts it from launch_cwd(), with the
// probe record cleared.
Started start_carrier(const std::vector<uint8_t>& carrier, const std::string& path,
                      const std::wstring& environment = L"");
HWND error_box();
// Waits for the launcher to end (two minutes at most), watching for a
// message box meanwhile.
void finish(Started& s);
