#include "windows_test_support.h"

#include <windows.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "run/extract_run.h"

std::string temp_dir() {
    char buffer[MAX_PATH];
    GetTempPathA(MAX_PATH, buffer);
    return buffer;
}

std::string folder() { return temp_dir() + "BriskCourierTmp\\"; }

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::vector<uint8_t> pattern(size_t size, uint32_t seed, bool compressible) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        out[i] = compressible ? uint8_t("setup files "[x % 12]) : uint8_t(x >> 24);
    }
    return out;
}
