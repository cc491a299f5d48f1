// Chunk decoder: one compressed chunk body in, at most dst_cap bytes out.
//
// Bit stream, most significant bit first:
//   1 + 8 bits            literal byte
//   0 + 9 bits P + 4 bits L   copy L + 2 bytes from ring[P], ring[P+1], ...
//   0 + 9 bits reading 0 once every body byte has been fetched: end of chunk
// The ring holds the last 512 bytes written; it survives between chunks of
// one file, while the write position restarts at 1 in every chunk.
#pragma once

#include <cstdint>

#include "archive/format_rules.h"

constexpr int32_t kRingSize = 512;              // decoder's ring of recent output
static_assert((kRingSize & (kRingSize - 1)) == 0, "ring index is wrapped with a mask");

// Reads bits and bit fields from a buffer it does not own. Never fetches at
// or beyond `size`: past the end it yields zero, and a field whose last bit
// is the body's last bit reads as 0 (both are part of the format).
class BitReader {
public:
    BitReader(const uint8_t* data, int32_t size);
    virtual ~BitReader();

    int read_bit();
    uint32_t read_bits(int n);  // n is 4, 8 or 9
    int32_t position() const { return position_; }

private:
    const uint8_t* data_;
    uint8_t mask_ = 0x80;  // next bit to read; 0x80 means fetch a new byte
    int32_t position_ = 0; // next byte to fetch == bytes fetched so far
    int32_t current_ = 0;  // last byte fetched
    int32_t size_;
};

// Owns the ring for one archived file: construct before its first chunk,
// destroy after its last.
class ChunkDecoder {
public:
    ChunkDecoder();
    virtual ~ChunkDecoder();
    ChunkDecoder(const ChunkDecoder&) = delete;
    ChunkDecoder& operator=(const ChunkDecoder&) = delete;

    // False when the ring could not be allocated; decode_chunk then fails.
    bool ok() const { return ring_ != nullptr; }

    // Decodes src[0, src_len) into dst. Returns the number of bytes written
    // (0 .. dst_cap), or -1 when the chunk would produce more than dst_cap
    // bytes (the byte that does not fit is neither stored nor put in the
    // ring) or when the ring is missing. Whatever the input, it reads nothing
    // outside src[0, src_len) and writes nothing outside dst[0, dst_cap).
    int32_t decode_chunk(const uint8_t* src, int32_t src_len, uint8_t* dst, int32_t dst_cap);

    const uint8_t* ring() const { return ring_; }
    // Puts back kRingSize bytes ring() gave, so decoding goes on from there:
    // courier-pack reads inside an entry from a place it kept. The launcher
    // never calls it.
    void restore_ring(const uint8_t* ring) {
        if (ring_) __builtin_memcpy(ring_, ring, kRingSize);
    }

private:
    uint8_t* ring_;
};
