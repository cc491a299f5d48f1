// ChunkDecoder::decode_chunk held to the bit-at-a-time reference decoder.
// Asserts, for every body, ring and output capacity the input makes: the
// same return value; the same output bytes (the n returned, or on -1 all
// dst_cap stored before the byte that did not fit; past n the buffer is
// scratch); the same ring after every chunk; no read outside the body and
// no write outside the buffer (each lives in its own exactly sized heap
// block, so ASan sees one byte over).
//
// Input: flags, u16 capacity, [512 ring bytes], chunks.
//   flags bit 0     first prime the ring with the 512 bytes that follow
//   flags bits 1-2  chunks after the first (0-3), decoded with one decoder
//   capacity        output capacity for every chunk, modulo 20480
//   chunks          all but the last: u16 length (modulo 2049) + body;
//                   the last takes the rest of the input
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/chunk_decoder.h"
#include "fuzz/fuzz_support.h"
#include "tests/support/reference_decoder.h"

namespace {

constexpr uint8_t kCanary = 0xA5;

struct Input {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    size_t left() const { return size - at; }
    uint32_t u16() {
        uint32_t v = 0;
        for (int b = 0; b < 2 && at < size; ++b) v |= uint32_t(data[at++]) << (8 * b);
        return v;
    }
    std::vector<uint8_t> take(size_t n) {
        n = n < left() ? n : left();
        std::vector<uint8_t> out(data + at, data + at + n);
        at += n;
        return out;
    }
};

// A body of 512 literals that leaves ring[i] == bytes[i]: the write
// position starts at 1, so slot 0 comes last. A zero byte follows so the
// last literal does not end on the body's last bit.
std::vector<uint8_t> priming_body(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> body;
    uint32_t acc = 0;
    int bits = 0;
    auto put = [&](uint32_t value, int width) {
        acc = (acc << width) | value;
        bits += width;
        while (bits >= 8) {
            body.push_back(uint8_t(acc >> (bits - 8)));
            bits -= 8;
        }
    };
    for (int i = 1; i <= kRingSize; ++i) put(0x100u | bytes[size_t(i % kRingSize)], 9);
    body.push_back(0);
    return body;
}

void decode_both(ChunkDecoder& decoder, uint8_t (&ring)[kRingSize], const std::vector<uint8_t>& body,
                 int32_t cap) {
    // Exactly sized copies: a one-byte over-read or over-write is a report.
    uint8_t* src = new uint8_t[body.size() + (body.empty() ? 1 : 0)];
    if (!body.empty()) std::memcpy(src, body.data(), body.size());
    std::vector<uint8_t> out(size_t(cap), kCanary), expected(size_t(cap), kCanary);

    const int32_t n = decoder.decode_chunk(src, int32_t(body.size()), out.data(), cap);
    const int32_t want =
        reference::decode_chunk(ring, src, int32_t(body.size()), expected.data(), cap);
    delete[] src;

    FUZZ_CHECK(n == want, "returned %d, reference %d (body %zu bytes, capacity %d)", n, want,
               body.size(), cap);
    const size_t compared = n < 0 ? size_t(cap) : size_t(n);
    size_t differs = 0;
    while (differs < compared && out[differs] == expected[differs]) ++differs;
    FUZZ_CHECK(differs == compared, "output byte %zu differs (returned %d)", differs, n);
    FUZZ_CHECK(std::memcmp(decoder.ring(), ring, kRingSize) == 0, "rings differ after the chunk");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    Input in{data, size};
    const uint8_t flags = data[in.at++];
    const int32_t cap = int32_t(in.u16() % 20480);

    ChunkDecoder decoder;
    FUZZ_CHECK(decoder.ok(), "no ring");
    uint8_t ring[kRingSize] = {};

    if (flags & 1) {
        std::vector<uint8_t> bytes = in.take(kRingSize);
        bytes.resize(kRingSize, 0);
        decode_both(decoder, ring, priming_body(bytes), kRingSize);
        FUZZ_CHECK(std::memcmp(ring, bytes.data(), kRingSize) == 0, "priming missed the ring");
    }
    const int extra = (flags >> 1) & 3;
    for (int i = 0; i < extra; ++i) {
        const size_t length = in.u16() % (kChunkInputCapacity + 1);
        decode_both(decoder, ring, in.take(length), cap);
    }
    decode_both(decoder, ring, in.take(in.left()), cap);
    return 0;
}
