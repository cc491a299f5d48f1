// Decoder behaviour at the bit level: the end-of-body rules are part of the
// format, so each is pinned with a hand-made body.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/chunk_decoder.h"

namespace {

// "1 01000001 0" -> bytes, most significant bit first, zero-padded.
std::vector<uint8_t> bits(const std::string& text) {
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : text) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= uint8_t(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

std::string field(uint32_t value, int width) {
    std::string s;
    for (int b = width - 1; b >= 0; --b) s += ((value >> b) & 1) ? '1' : '0';
    return s + ' ';
}
std::string literal(uint8_t c) { return "1" + field(c, 8); }
std::string match(uint32_t p, uint32_t l) { return "0" + field(p, 9) + field(l, 4); }

constexpr uint8_t kPoison = 0xA5;

struct Decoded {
    int32_t result;
    std::vector<uint8_t> bytes;
};

Decoded decode(ChunkDecoder& decoder, const std::vector<uint8_t>& body, int32_t cap = 8192) {
    std::vector<uint8_t> out(size_t(cap) + 16, kPoison);
    const int32_t n = decoder.decode_chunk(body.data(), int32_t(body.size()), out.data(), cap);
    for (size_t i = size_t(cap); i < out.size(); ++i) EXPECT_EQ(out[i], kPoison) << "byte " << i;
    out.resize(n < 0 ? 0 : size_t(n));
    return {n, out};
}

Decoded decode(const std::vector<uint8_t>& body, int32_t cap = 8192) {
    ChunkDecoder decoder;
    return decode(decoder, body, cap);
}

TEST(Decoder, EndFormsAndFieldsEndingTheBody) {
    std::string seven, eight;
    for (int i = 0; i < 7; ++i) seven += literal(uint8_t('A' + i));
    for (int i = 0; i < 8; ++i) eight += literal(uint8_t('a' + i));
    struct Case {
        const char* what;
        std::vector<uint8_t> body;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"worked example: literal, short end", {0xA0, 0x80}, {0x41}},
        {"worked example: two literals, long end", {0xA0, 0xD0, 0x80, 0x00}, {0x41, 0x42}},
        {"one byte 00 ends at once", {0x00}, {}},
        {"one byte 80: the literal runs off the body and reads 0", {0x80}, {0x00}},
        {"a position field whose last bit is the body's last", {0x01}, {}},
        {"end flag followed by padding", bits(literal('a') + literal('b') + "0"), {'a', 'b'}},
        {"end flag on the body's last bit", bits(seven + "0"),
         {'A', 'B', 'C', 'D', 'E', 'F', 'G'}},
        {"long end form in the last byte", bits(literal('x') + "0 000000000"), {'x'}},
        {"long end form and one more byte: a match from position 0",
         bits(literal('x') + "0 000000000 0000 00000"), {'x', 0x00, 'x'}},
        {"length code on the last bit reads 0 and copies 2",
         bits(literal('A') + literal('B') + match(1, 15)), {'A', 'B', 'A', 'B'}},
        {"literal on the last bit is output as 0", bits(eight),
         {'a', 'b', 'c', 'd', 'e', 'f', 'g', 0}},
        {"flag 1 on the last bit: a 0 byte, then the end", bits(seven + "1"),
         {'A', 'B', 'C', 'D', 'E', 'F', 'G', 0}},
    };
    for (const Case& c : cases) {
        const Decoded d = decode(c.body);
        EXPECT_EQ(d.result, int32_t(c.expected.size())) << c.what;
        EXPECT_EQ(d.bytes, c.expected) << c.what;
    }
}

TEST(Decoder, MatchesCopyThroughTheRing) {
    // Position 1 holds the first literal: an overlapping copy repeats it.
    Decoded d = decode(bits(literal('a') + match(1, 15) + "0"));
    EXPECT_EQ(d.bytes, std::vector<uint8_t>(18, 'a')) << "length code 15 copies 17";
    d = decode(bits(literal('a') + literal('b') + match(1, 0) + "0"));
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{'a', 'b', 'a', 'b'})) << "length code 0 copies 2";
    // P = w - 2 repeats the last two bytes.
    d = decode(bits(literal('x') + literal('y') + match(1, 4) + "0"));
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{'x', 'y', 'x', 'y', 'x', 'y', 'x', 'y'}));
    // A position-0 match that does not fetch the last byte is an ordinary
    // match: slot 0 holds 0 in a fresh ring.
    d = decode(bits(match(0, 1) + literal('k') + "0"));
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0, 0, 0, 'k'}));
}

TEST(Decoder, PositionsWrapAndTheRingCarriesOverWithinAFile) {
    ChunkDecoder decoder;
    // 511 literals fill slots 1..511; the 512th goes to slot 0.
    std::string first;
    for (int i = 0; i < 512; ++i) first += literal(uint8_t(i * 7 + 3));
    Decoded d = decode(decoder, bits(first + "0"));
    ASSERT_EQ(d.result, 512);
    EXPECT_EQ(decoder.ring()[0], uint8_t(511 * 7 + 3));
    // Next chunk: write position restarts at 1, the rest of the ring is kept.
    // P = 510, L = 3 copies ring[510], ring[511], ring[0], ring[1], ring[2]
    // where ring[1] and ring[2] were just overwritten by this copy.
    d = decode(decoder, bits(match(510, 3) + "0"));
    const uint8_t r510 = uint8_t(509 * 7 + 3), r511 = uint8_t(510 * 7 + 3), r0 = uint8_t(511 * 7 + 3);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{r510, r511, r0, r510, r511}));

    // A fresh decoder (the next file) starts from a zeroed ring.
    ChunkDecoder next;
    d = decode(next, bits(match(300, 0) + "0"));
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0, 0}));
}

TEST(Decoder, OutputCapacityIsNeverPassed) {
    const auto body = bits(literal('a') + match(1, 15) + "0");  // 18 bytes
    Decoded d = decode(body, 18);
    EXPECT_EQ(d.result, 18) << "exactly the capacity";
    d = decode(body, 17);
    EXPECT_EQ(d.result, -1) << "one byte over";
    d = decode(body, 0);
    EXPECT_EQ(d.result, -1);
    d = decode(bits("0"), 0);
    EXPECT_EQ(d.result, 0) << "an empty chunk fits no room";
    // The byte that did not fit is not put in the ring.
    ChunkDecoder decoder;
    std::vector<uint8_t> out(2);
    const auto three = bits(literal('a') + literal('b') + literal('c') + "0");
    EXPECT_EQ(decoder.decode_chunk(three.data(), int32_t(three.size()), out.data(), 2), -1);
    EXPECT_EQ(decoder.ring()[3], 0);
}

TEST(Decoder, BitReaderFollowsTheFieldRules) {
    const uint8_t data[] = {0xB4, 0x0F};  // 1011 0100 0000 1111
    BitReader r(data, 2);
    EXPECT_EQ(r.read_bit(), 1);
    EXPECT_EQ(r.read_bits(4), 0x6u);   // 0110
    EXPECT_EQ(r.read_bits(9), 0x103u);  // 100 000011: not the body's last bit
    EXPECT_EQ(r.position(), 2);
    EXPECT_EQ(r.read_bits(4), 0u) << "reaches the body's last bit";
    EXPECT_EQ(r.read_bit(), 0) << "exhausted";
    EXPECT_EQ(r.read_bits(8), 0u);
    EXPECT_EQ(r.position(), 2) << "never fetches past the end";
}

}  // namespace
