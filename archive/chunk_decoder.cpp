#include "archive/chunk_decoder.h"

#include <cstdlib>

namespace {
constexpr uint32_t kRingMask = kRingSize - 1;
}

BitReader::BitReader(const uint8_t* data, int32_t size) : data_(data), size_(size) {}

BitReader::~BitReader() = default;

int BitReader::read_bit() {
    if (mask_ == 0x80) {
        if (position_ >= size_) return 0;  // exhausted; mask stays 0x80
        current_ = data_[position_++];
    }
    const int bit = (current_ & mask_) ? 1 : 0;
    mask_ >>= 1;
    if (mask_ == 0) mask_ = 0x80;
    return bit;
}

uint32_t BitReader::read_bits(int n) {
    uint32_t value = 0;
    for (uint32_t field = 1u << (n - 1); field != 0; field >>= 1) {
        if (mask_ == 0x80) {
            if (position_ >= size_) return 0;  // exhausted: gathered bits are dropped
            current_ = data_[position_++];
        }
        if (current_ & mask_) value |= field;
        mask_ >>= 1;
        if (mask_ == 0) {
            // The body's last bit ends the field: it reads as 0, and the mask
            // is left at 0 so the next read_bit yields 0 without a fetch.
            if (position_ == size_) return 0;
            mask_ = 0x80;
        }
    }
    return value;
}

#ifdef _WIN32
// The launcher has no C runtime of its own: the ring comes from the process heap.
#include <windows.h>
ChunkDecoder::ChunkDecoder()
    : ring_(static_cast<uint8_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, kRingSize))) {}
ChunkDecoder::~ChunkDecoder() {
    if (ring_) HeapFree(GetProcessHeap(), 0, ring_);
}
#else
ChunkDecoder::ChunkDecoder() : ring_(static_cast<uint8_t*>(std::calloc(kRingSize, 1))) {}
ChunkDecoder::~ChunkDecoder() { std::free(ring_); }
#endif

int32_t ChunkDecoder::decode_chunk(const uint8_t* src, int32_t src_len, uint8_t* dst,
                                   int32_t dst_cap) {
    if (!ring_ || src_len < 0) return -1;
    BitReader reader(src, src_len);
    uint8_t* const ring = ring_;
    uint32_t w = 1;
    int32_t count = 0;
    for (;;) {
        if (reader.read_bit()) {
            const uint8_t c = static_cast<uint8_t>(reader.read_bits(8));
            if (count == dst_cap) return -1;
            dst[count++] = c;
            ring[w] = c;
            w = (w + 1) & kRingMask;
            continue;
        }
        const uint32_t p = reader.read_bits(9);
        if (p == 0 && reader.position() == src_len) return count;
        const uint32_t length = reader.read_bits(4) + 2;
        for (uint32_t i = 0; i < length; ++i) {
            // Read after the previous byte was written, so overlapping
            // sources repeat bytes.
            const uint8_t c = ring[(p + i) & kRingMask];
            if (count == dst_cap) return -1;
            dst[count++] = c;
            ring[w] = c;
            w = (w + 1) & kRingMask;
        }
    }
}
