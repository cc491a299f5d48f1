// The chunk decoder as plainly as its rules read, one bit at a time, for
// tests and fuzzers to hold any faster decoder to. Not used by the product.
#pragma once

#include <cstdint>

namespace reference {

struct Bits {
    const uint8_t* data;
    int32_t size;
    int32_t position = 0;
    uint8_t mask = 0x80;
    int32_t current = 0;

    int bit() {
        if (mask == 0x80) {
            if (position >= size) return 0;
            current = data[position++];
        }
        const int b = (current & mask) ? 1 : 0;
        mask >>= 1;
        if (mask == 0) mask = 0x80;
        return b;
    }

    uint32_t field(int n) {
        uint32_t value = 0;
        for (uint32_t f = 1u << (n - 1); f != 0; f >>= 1) {
            if (mask == 0x80) {
                if (position >= size) return 0;
                current = data[position++];
            }
            if (current & mask) value |= f;
            mask >>= 1;
            if (mask == 0) {
                if (position == size) return 0;
                mask = 0x80;
            }
        }
        return value;
    }
};

// Decodes one chunk with `ring` (512 bytes) as the decoder's ring; returns
// the bytes written or -1 past dst_cap, exactly as decode_chunk must.
inline int32_t decode_chunk(uint8_t* ring, const uint8_t* src, int32_t src_len, uint8_t* dst,
                            int32_t dst_cap) {
    if (src_len < 0) return -1;
    Bits in{src, src_len};
    uint32_t w = 1;
    int32_t count = 0;
    auto put = [&](uint8_t c) {
        if (count == dst_cap) return false;
        dst[count++] = c;
        ring[w] = c;
        w = (w + 1) % 512;
        return true;
    };
    for (;;) {
        if (in.bit()) {
            if (!put(uint8_t(in.field(8)))) return -1;
            continue;
        }
        const uint32_t p = in.field(9);
        if (p == 0 && in.position == src_len) return count;
        const uint32_t length = in.field(4) + 2;
        for (uint32_t i = 0; i < length; ++i)
            if (!put(ring[(p + i) % 512])) return -1;
    }
}

}  // namespace reference
