// ChunkDecoder against the bit-at-a-time reference on many bodies: results,
// output bytes and ring contents must agree chunk after chunk, whatever the
// body and whatever the room in dst.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/carrier_builder.h"
#include "archive/chunk_decoder.h"
#include "tests/support/test_data.h"
#include "tests/support/reference_decoder.h"

namespace {

constexpr uint8_t kPoison = 0xA5;
constexpr int32_t kSlack = 32;

struct Rng {
    uint32_t x;
    explicit Rng(uint32_t seed) : x(seed * 2654435761u + 1) {}
    uint32_t next() {
        x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        return x;
    }
    uint32_t below(uint32_t n) { return next() % n; }
};

// One archived file as both decoders see it: their rings carry over from
// chunk to chunk.
class Pair {
public:
    Pair() { std::memset(ref_ring_, 0, sizeof ref_ring_); }
    const uint8_t* reference_ring() const { return ref_ring_; }

    // Returns false after the first disagreement, which it reports.
    bool check(const std::vector<uint8_t>& body, int32_t cap, const std::string& what) {
        std::vector<uint8_t> ours(size_t(cap) + kSlack, kPoison), theirs(ours);
        const int32_t len = int32_t(body.size());
        const int32_t got = decoder_.decode_chunk(body.data(), len, ours.data(), cap);
        const int32_t want = reference::decode_chunk(ref_ring_, body.data(), len, theirs.data(), cap);
        EXPECT_EQ(got, want) << what;
        if (got != want) return false;
        // After -1 both have filled dst; otherwise only [0, n) is the result.
        const size_t n = size_t(want < 0 ? cap : want);
        EXPECT_TRUE(std::equal(theirs.begin(), theirs.begin() + n, ours.begin())) << what;
        for (size_t i = size_t(cap); i < ours.size(); ++i)
            if (ours[i] != kPoison) {
                ADD_FAILURE() << what << ": wrote past dst_cap at " << i;
                return false;
            }
        EXPECT_EQ(std::memcmp(decoder_.ring(), ref_ring_, kRingSize), 0) << what << ": rings differ";
        return !::testing::Test::HasFailure();
    }

private:
    ChunkDecoder decoder_;
    uint8_t ref_ring_[kRingSize];
};

// Bit strings MSB first, as the decoder reads them.
class Bits {
public:
    void put(uint32_t value, int width) {
        for (int b = width - 1; b >= 0; --b) {
            if (n_ % 8 == 0) bytes_.push_back(0);
            if ((value >> b) & 1) bytes_.back() |= uint8_t(0x80 >> (n_ % 8));
            ++n_;
        }
    }
    size_t size() const { return bytes_.size(); }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int n_ = 0;
};

// Token streams of the shape the fast path's copy cases split on: runs
// (distance 1..7), near and far matches, and matches reaching back into
// slots this chunk has not written, then one of the three ways to end.
std::vector<uint8_t> token_stream(Rng& rng, size_t body_bytes) {
    Bits bits;
    uint32_t w = 1;
    while (bits.size() + 3 < body_bytes) {
        if (rng.below(3) == 0) {
            bits.put(1, 1);
            bits.put(rng.below(256), 8);
            w = (w + 1) & (kRingSize - 1);
            continue;
        }
        const uint32_t choice = rng.below(4);
        const uint32_t distance = choice == 0   ? 1 + rng.below(7)
                                  : choice == 1 ? 8 + rng.below(24)
                                                : 1 + rng.below(kRingSize);
        const uint32_t length = rng.below(16);
        bits.put(0, 1);
        bits.put((w - distance) & (kRingSize - 1), 9);
        bits.put(length, 4);
        w = (w + length + 2) & (kRingSize - 1);
    }
    switch (rng.below(3)) {
        case 0: bits.put(0, 1); break;                    // short end form
        case 1: bits.put(0, 1), bits.put(0, 9); break;    // long end form
        default: break;                                   // runs off the body
    }
    return bits.bytes();
}

int32_t random_cap(Rng& rng) {
    switch (rng.below(6)) {
        case 0: return int32_t(rng.below(20));
        case 1: return int32_t(rng.below(200));
        case 2: return int32_t(rng.below(kChunkOutputCapacity + 1));
        default: return kChunkOutputCapacity;
    }
}

// Chunk bodies of one file, cut out of its records.
std::vector<std::vector<uint8_t>> encode(const std::vector<uint8_t>& data,
                                         const EncoderOptions& options) {
    std::vector<uint8_t> records;
    append_chunk_records(data.data(), data.size(), options, records);
    std::vector<std::vector<uint8_t>> bodies;
    for (size_t at = 0; at < records.size();) {
        const uint32_t length = records[at] | records[at + 1] << 8 | records[at + 2] << 16 |
                                uint32_t(records[at + 3]) << 24;
        bodies.emplace_back(records.begin() + at + 4, records.begin() + at + 4 + length);
        at += 4 + length;
    }
    return bodies;
}

std::vector<std::vector<uint8_t>> encoded_files() {
    std::vector<uint8_t> mixed = text_like(30000, 11);
    const auto noise = random_bytes(6000, 12);
    mixed.insert(mixed.begin() + 9000, noise.begin(), noise.end());
    std::vector<uint8_t> runs(40000);
    Rng rng(13);
    for (size_t i = 0; i < runs.size();) {
        const uint8_t c = uint8_t(rng.below(4) == 0 ? rng.below(256) : 0);
        for (size_t n = 1 + rng.below(40); n > 0 && i < runs.size(); --n) runs[i++] = c;
    }
    std::vector<uint8_t> records(24000);
    for (size_t i = 0; i < records.size(); ++i)
        records[i] = uint8_t(i % 12 < 4 ? i / 12 : i % 12 < 8 ? 0x40 + i % 3 : rng.below(256));
    std::vector<std::vector<uint8_t>> bodies;
    for (const auto& data : {mixed, runs, records, random_bytes(20000, 14)})
        for (const EncoderOptions& options : {EncoderOptions(), greedy_encoder_options()}) {
            auto file = encode(data, options);
            bodies.insert(bodies.end(), file.begin(), file.end());
            bodies.emplace_back();  // file boundary: a fresh ring
        }
    return bodies;
}

TEST(DecoderDifferential, RandomBodiesAndTokenStreamsOverCarriedRings) {
    Rng rng(1);
    for (int file = 0; file < 300; ++file) {
        Pair pair;
        for (int chunk = 0; chunk < 5; ++chunk) {
            std::vector<uint8_t> body;
            const size_t size = rng.below(4) == 0 ? 1 + rng.below(kChunkInputCapacity)
                                                  : 1 + rng.below(300);
            if (rng.below(2) == 0) {
                body = token_stream(rng, size);
            } else {
                body.resize(size);
                for (auto& b : body) b = uint8_t(rng.next() >> 24);
            }
            const int32_t cap = random_cap(rng);
            ASSERT_TRUE(pair.check(body, cap,
                                   "file " + std::to_string(file) + " chunk " +
                                       std::to_string(chunk) + " (" + std::to_string(size) +
                                       " bytes, cap " + std::to_string(cap) + ")"));
        }
    }
}

TEST(DecoderDifferential, EveryShortLengthAndSmallCap) {
    // Bodies up to 64 bytes straddle the point where the fast path hands
    // over to the bit-at-a-time end.
    Rng rng(2);
    const int32_t caps[] = {0, 1, 2, 3, 16, 17, 68, 69, 100, kChunkOutputCapacity};
    for (int32_t len = 1; len <= 64; ++len)
        for (int round = 0; round < 6; ++round) {
            Pair pair;
            for (int32_t cap : caps) {
                std::vector<uint8_t> body(size_t(len), 0);
                if (round > 0)
                    for (auto& b : body) b = uint8_t(rng.next() >> 24);
                if (round == 1) body.back() = 0;         // ends in zero bits
                if (round == 2) body.back() |= 1;        // last bit set
                ASSERT_TRUE(pair.check(body, cap,
                                       "length " + std::to_string(len) + " round " +
                                           std::to_string(round) + " cap " + std::to_string(cap)));
            }
        }
}

TEST(DecoderDifferential, EncoderOutputWholeCutAndDamaged) {
    const auto bodies = encoded_files();
    Rng rng(3);
    // Whole bodies, chunk after chunk, with full room, exact room and one short.
    for (int mode = 0; mode < 3; ++mode) {
        auto pair = std::make_unique<Pair>();
        for (size_t i = 0; i < bodies.size(); ++i) {
            if (bodies[i].empty()) {
                pair = std::make_unique<Pair>();
                continue;
            }
            int32_t cap = kChunkOutputCapacity;
            if (mode > 0) {
                std::vector<uint8_t> out(kChunkOutputCapacity);
                uint8_t ring[kRingSize];
                std::memcpy(ring, pair->reference_ring(), kRingSize);
                cap = reference::decode_chunk(ring, bodies[i].data(), int32_t(bodies[i].size()),
                                              out.data(), kChunkOutputCapacity) -
                      (mode == 2 ? 1 : 0);
            }
            ASSERT_TRUE(pair->check(bodies[i], cap,
                                    "body " + std::to_string(i) + " mode " + std::to_string(mode)));
        }
    }
    // Truncated and bit-flipped bodies, each on a ring already filled by a
    // whole body so that matches read old bytes.
    for (size_t i = 1; i < bodies.size(); ++i) {
        if (bodies[i].empty() || bodies[i - 1].empty()) continue;
        const auto& body = bodies[i];
        for (int variant = 0; variant < 8; ++variant) {
            std::vector<uint8_t> damaged(body);
            std::string what = "body " + std::to_string(i);
            if (variant < 4) {
                const size_t keep = variant < 2 ? body.size() - 1 - rng.below(uint32_t(
                                                                      std::min<size_t>(body.size(), 24)))
                                                : rng.below(uint32_t(body.size()));
                damaged.resize(keep);
                what += " cut to " + std::to_string(keep);
            } else {
                for (int flips = 1 + int(rng.below(3)); flips > 0; --flips) {
                    const uint32_t at = rng.below(uint32_t(body.size() * 8));
                    damaged[at / 8] ^= uint8_t(0x80 >> (at % 8));
                    what += " flip " + std::to_string(at);
                }
            }
            if (damaged.empty()) continue;
            Pair pair;
            ASSERT_TRUE(pair.check(bodies[i - 1], kChunkOutputCapacity, what + " (first chunk)"));
            ASSERT_TRUE(pair.check(damaged, random_cap(rng), what));
        }
    }
}

}  // namespace
