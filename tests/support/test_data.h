// Deterministic test data of several shapes, for tests on either platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::vector<uint8_t> out(size);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        b = uint8_t(x >> 24);
    }
    return out;
}

inline std::vector<uint8_t> text_like(size_t size, uint32_t seed) {
    static const char* const words[] = {"the ", "installer ", "copies ", "files ", "into ",
                                        "a ", "folder ", "and ", "runs ", "setup\r\n",
                                        "Windows ", "version ", "1.0 ", "of ", "data "};
    std::vector<uint8_t> out;
    uint32_t x = seed * 2654435761u + 7;
    while (out.size() < size) {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        const char* w = words[x % 15];
        while (*w && out.size() < size) out.push_back(uint8_t(*w++));
    }
    return out;
}
