// Files and folders for the Windows-side tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_files.h"

std::string temp_dir();  // %TEMP%, with its trailing backslash
std::string folder();    // the extraction folder, with its trailing backslash
std::string exe_dir();   // this program's folder, with its trailing backslash
// Deterministic data: text-like when compressible, else noise.
std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible);

// Starts a command line (optionally in `directory`) and waits for it;
// returns its exit code, or 999 when it cannot start, 998 when it hangs.
unsigned long run_process(std::string command, const char* directory = nullptr);
