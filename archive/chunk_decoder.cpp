#include "archive/chunk_decoder.h"

#include <cstdlib>

namespace {
constexpr uint32_t kRingMask = kRingSize - 1;
constexpr int32_t kLongestCopy = 17;

// The fast path reads the body a register at a time: 64 bits on x86-64, 32
// on the i686 launcher. A load starts at the byte holding the next bit, so
// at least kWordBits - 7 of its bits are fresh: four 14-bit tokens, or one
// and, after a 9-bit literal, a second.
// BRISK_DECODER_WORD_BITS=32 builds the launcher's variant on any host, for
// its tests and fuzzers.
#if defined(BRISK_DECODER_WORD_BITS) && BRISK_DECODER_WORD_BITS == 32
using Word = uint32_t;
using SWord = int32_t;
#else
using Word = uintptr_t;
using SWord = intptr_t;
#endif
constexpr int kWordBits = sizeof(Word) * 8;
constexpr int32_t kWide = sizeof(Word);
constexpr int kFreshBits = kWordBits - 7;
static_assert(kFreshBits >= 14, "a load holds a whole token");
// 64-bit words take a fixed count of tokens a load, which the compiler
// unrolls; 32-bit ones as many as the fresh bits are sure to hold, which
// costs a check a token but saves a load after most literals.
constexpr bool kFixedTokens = kWordBits >= 64;
constexpr int kTokensPerLoad = kFixedTokens ? kFreshBits / 14 : kFreshBits / 9;  // at most

// 16 bytes behind the ring keep a 17-byte read from the ring's last slots
// inside the allocation.
constexpr int32_t kAllocation = kRingSize + kLongestCopy - 1;

inline Word load_msb_first(const uint8_t* p) {
    Word w;
    __builtin_memcpy(&w, p, sizeof w);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if constexpr (sizeof(Word) == 8)
        w = static_cast<Word>(__builtin_bswap64(w));
    else
        w = static_cast<Word>(__builtin_bswap32(static_cast<uint32_t>(w)));
#endif
    return w;
}

inline void copy_word(uint8_t* to, const uint8_t* from) {
    Word w;
    __builtin_memcpy(&w, from, sizeof w);
    __builtin_memcpy(to, &w, sizeof w);
}

// Copies a match the fast path leaves out, byte by byte: one closer than a
// word, whose source overlaps the copy, or one reaching before this chunk,
// whose first d - count bytes come from the ring.
inline void copy_through_ring(uint8_t* out, const uint8_t* ring, int32_t p, int32_t d,
                              int32_t count, int32_t length) {
    for (int32_t i = 0; i < length; ++i)
        out[i] = i >= d - count ? out[i - d] : ring[(p + i) & kRingMask];
}

// The same out of the fast loop, with runs (d = 1) and copies wholly from
// the ring done a word at a time. Writes at most 17 bytes, like the fast
// path.
__attribute__((noinline)) void copy_near(uint8_t* out, const uint8_t* ring, int32_t p, int32_t d,
                                         int32_t count, int32_t length) {
    if (d == 1 && count != 0) {
        const Word run = out[-1] * (~Word(0) / 0xFF);
        for (int k = 0; k < 16; k += kWide) __builtin_memcpy(out + k, &run, kWide);
        out[16] = out[-1];
    } else if (d <= count) {
        // Closer than a word, within this chunk: byte by byte, repeating.
        for (int32_t i = 0; i < length; ++i) out[i] = out[i - d];
    } else if (length <= d - count && p + length <= kRingSize) {
        // No wrap; the bytes behind the ring keep the 17-byte read inside
        // the allocation.
        for (int k = 0; k < 16; k += kWide) copy_word(out + k, ring + p + k);
        out[16] = ring[p + 16];
    } else {
        copy_through_ring(out, ring, p, d, count, length);
    }
}

// Puts the last (up to 512) bytes of out[0, count) in the ring slots they
// were written to: byte k went to slot k + 1. Words where they fit before
// the ring's end, on x86-64.
void store_in_ring(uint8_t* ring, const uint8_t* out, int32_t count) {
    for (int32_t k = count > kRingSize ? count - kRingSize : 0; k < count;) {
        const int32_t slot = (k + 1) & static_cast<int32_t>(kRingMask);
        if (kWide == 8 && k + kWide <= count && slot <= kRingSize - kWide) {
            copy_word(ring + slot, out + k);
            k += kWide;
            continue;
        }
        ring[slot] = out[k++];
    }
}

}  // namespace

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
// The launcher has no C runtime of its own: the ring comes from the system.
#include <windows.h>
ChunkDecoder::ChunkDecoder()
    : ring_(static_cast<uint8_t*>(LocalAlloc(LMEM_ZEROINIT, kAllocation))) {}
ChunkDecoder::~ChunkDecoder() { LocalFree(ring_); }
#else
ChunkDecoder::ChunkDecoder() : ring_(static_cast<uint8_t*>(std::calloc(kAllocation, 1))) {}
ChunkDecoder::~ChunkDecoder() { std::free(ring_); }
#endif

int32_t ChunkDecoder::decode_chunk(const uint8_t* src, int32_t src_len, uint8_t* dst,
                                   int32_t dst_cap) {
    if (!ring_ || src_len < 0) return -1;
    uint8_t* const ring = ring_;
    int32_t count = 0;

    // Fast path. Its loads stop short of the body's last byte, so no token it
    // decodes can meet an end rule, and it runs while every token of a load
    // fits dst with room to spare: match copies move 17 bytes whatever their
    // length, and later tokens overwrite the excess. The ring is left as the
    // chunk found it: a match reads this chunk's bytes from dst (slot p was
    // written d = ((count - p) mod 512) + 1 bytes ago) and older ones from
    // the ring. Bodies past 256 MiB (the packer writes 2 KiB at most) are
    // finished bit by bit, which keeps `bit` from wrapping.
    const int32_t last_load = (src_len < (1 << 28) ? src_len : (1 << 28)) - kWide;
    const int32_t last_count = dst_cap - kTokensPerLoad * kLongestCopy;
    SWord n = 0;  // count, register-wide
    uint32_t bit = 0;
    while (static_cast<int32_t>(bit >> 3) < last_load && n <= last_count) {
        Word buf = load_msb_first(src + (bit >> 3)) << (bit & 7);
        for (int t = 0, room = kFreshBits; kFixedTokens ? t < kTokensPerLoad : room >= 14; ++t) {
            // A branch between literal and match, each doing only its own
            // work (a literal stores one byte). On AMD EPYC that was a third
            // faster at the launcher's -Oz than every literal taking a
            // match's steps (a 17-byte copy from a table of the 256 bytes),
            // and as fast with 64-bit words at -O3.
            if (static_cast<SWord>(buf) < 0) {
                dst[n++] = static_cast<uint8_t>(buf >> (kWordBits - 9));
                buf <<= 9;
                bit += 9;
                room -= 9;
                continue;
            }
            const int32_t p = static_cast<int32_t>(buf >> (kWordBits - 10)) & kRingMask;
            const int32_t length = static_cast<int32_t>((buf >> (kWordBits - 14)) & 15) + 2;
            const SWord d = ((n - p) & kRingMask) + 1;
            buf <<= 14;
            bit += 14;
            room -= 14;
            uint8_t* const out = dst + n;
            if (((d - kWide) | (n - d)) < 0) {
                // From under a word back, or from before this chunk.
                copy_near(out, ring, p, static_cast<int32_t>(d), static_cast<int32_t>(n), length);
            } else {
                // d >= kWide: a word at a time never reads bytes this copy
                // has yet to write. Unrolled even at -Oz: a loop here costs
                // the launcher a tenth of its speed.
                const uint8_t* const from = out - d;
#pragma GCC unroll 4
                for (int k = 0; k < 16; k += kWide) copy_word(out + k, from + k);
                out[16] = from[16];
            }
            n += length;
        }
    }
    count = static_cast<int32_t>(n);
    store_in_ring(ring, dst, count);

    // The rest bit by bit, exactly as the format reads, from where the fast
    // path stopped.
    const int32_t base = static_cast<int32_t>(bit >> 3);
    BitReader reader(src + base, src_len - base);
    for (uint32_t skip = bit & 7; skip != 0; --skip) reader.read_bit();
    const int32_t rest = src_len - base;
    uint32_t w = static_cast<uint32_t>(count + 1) & kRingMask;
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
        if (p == 0 && reader.position() == rest) return count;
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
