// Files and folders for the Windows-side tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

std::string temp_dir();  // %TEMP%, with its trailing backslash
std::string folder();    // the extraction folder, with its trailing backslash
std::vector<uint8_t> read_file(const std::string& path);
void write_file(const std::string& path, const std::vector<uint8_t>& bytes);
// Deterministic data: text-like when compressible, else noise.
std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible);
