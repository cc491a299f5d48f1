#include "tools/carrier/pe_check.h"

#include <cstdio>

namespace {

constexpr uint32_t kLfanewAt = 0x3C;
constexpr uint32_t kCoffHeaderSize = 24;  // "PE\0\0" and the file header
constexpr uint16_t kMachineI386 = 0x014C;

uint32_t le(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

}  // namespace

std::string stub_problem(uint64_t size, const StubReader& read) {
    uint8_t dos[kLfanewAt + 4];
    if (size < sizeof dos || !read(0, dos, sizeof dos))
        return "too small for a DOS header (" + std::to_string(size) + " bytes)";
    if (dos[0] != 'M' || dos[1] != 'Z') return "no MZ signature: not a Windows program";
    const uint32_t lfanew = le(dos + kLfanewAt, 4);
    if (uint64_t(lfanew) + kCoffHeaderSize > size)
        return "PE header offset " + std::to_string(lfanew) + " lies outside the file";
    uint8_t coff[kCoffHeaderSize];
    if (!read(lfanew, coff, sizeof coff)) return "cannot read the PE header";
    if (coff[0] != 'P' || coff[1] != 'E' || coff[2] != 0 || coff[3] != 0)
        return "no PE signature at offset " + std::to_string(lfanew);
    const uint32_t machine = le(coff + 4, 2);
    if (machine != kMachineI386) {
        char text[80];
        std::snprintf(text, sizeof text, "machine 0x%04X is not i386 (0x014C)", unsigned(machine));
        return text;
    }
    return "";
}
