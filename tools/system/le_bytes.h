// Little-endian fields in byte buffers, as PE images, icons and resources
// hold them. Readers take a pointer the caller has already bounds-checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/format_rules.h"  // le16, le32


inline void set_le16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void set_le32(uint8_t* p, uint32_t v) {
    set_le16(p, v);
    set_le16(p + 2, v >> 16);
}

inline void add_le16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}
inline void add_le32(std::vector<uint8_t>& out, uint32_t v) {
    add_le16(out, v);
    add_le16(out, v >> 16);
}

// Zero bytes up to the next multiple of `alignment` (a power of two).
inline void pad_to(std::vector<uint8_t>& out, size_t alignment) {
    out.resize((out.size() + alignment - 1) & ~(alignment - 1), 0);
}
