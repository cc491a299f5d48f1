// Every chunk the encoder writes must decode, with the launcher's decoder and
// the ring as earlier chunks left it, to exactly the input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/support/carrier_builder.h"
#include "archive/chunk_decoder.h"
#include "tools/packing/file_encoder.h"
#include "test_support.h"

namespace {

struct Shape {
    const char* name;
    std::vector<uint8_t> data;
};

std::vector<Shape> shapes() {
    std::vector<uint8_t> mixed = text_like(20000, 3);
    const auto noise = random_bytes(7000, 4);
    mixed.insert(mixed.begin() + 5000, noise.begin(), noise.end());
    std::vector<uint8_t> periodic(30000);
    for (size_t i = 0; i < periodic.size(); ++i) periodic[i] = uint8_t("abcabcabd"[i % 9]);
    std::vector<uint8_t> long_period(40000);
    for (size_t i = 0; i < long_period.size(); ++i) long_period[i] = uint8_t((i % 700) * 13);
    // Chunk ends fall anywhere in the head; then whole 8192-byte chunks, cut
    // short by a reader that hands the encoder less than 8192 bytes ahead.
    std::vector<uint8_t> late = random_bytes(4000, 13);
    const auto block = random_bytes(300, 14);
    while (late.size() < (1 << 20) + 40000) late.insert(late.end(), block.begin(), block.end());
    return {
        {"empty", {}},
        {"one byte", {0x42}},
        {"one zero", {0x00}},
        {"incompressible", random_bytes(50000, 1)},
        {"all zero", std::vector<uint8_t>(70000, 0)},
        {"all 0xFF", std::vector<uint8_t>(9000, 0xFF)},
        {"text", text_like(60000, 2)},
        {"text with noise", mixed},
        {"periodic", periodic},
        {"period longer than the ring", long_period},
        {"8193 bytes", random_bytes(8193, 5)},
        {"compressible behind an incompressible head", late},
    };
}

// Decodes chunk records with one decoder, as the launcher does.
std::vector<uint8_t> decode_records(const std::vector<uint8_t>& records, size_t* chunks,
                                    size_t* largest_body) {
    std::vector<uint8_t> out;
    ChunkDecoder decoder;
    uint8_t buffer[kChunkOutputCapacity];
    size_t at = 0;
    *chunks = 0;
    *largest_body = 0;
    while (at < records.size()) {
        const uint32_t length = records[at] | records[at + 1] << 8 | records[at + 2] << 16 |
                                uint32_t(records[at + 3]) << 24;
        at += 4;
        EXPECT_GE(length, 1u);
        EXPECT_LE(length, uint32_t(kChunkInputCapacity));
        const int32_t n = decoder.decode_chunk(&records[at], int32_t(length), buffer,
                                               kChunkOutputCapacity);
        EXPECT_GE(n, 1);
        if (n < 1) return out;
        out.insert(out.end(), buffer, buffer + n);
        at += length;
        ++*chunks;
        *largest_body = std::max<size_t>(*largest_body, length);
    }
    return out;
}

// The records of FileEncoder on `threads` threads, the file read in pieces.
std::vector<uint8_t> encode_file(const std::vector<uint8_t>& data, const EncoderOptions& options,
                                 unsigned threads) {
    FileEncoder encoder(options, threads);
    std::vector<uint8_t> records;
    size_t read = 0;
    uint64_t consumed = 0;
    const bool ok = encoder.encode(
        data.size(),
        [&](uint8_t* dst, size_t size) {
            EXPECT_LE(read + size, data.size());
            std::copy_n(data.begin() + read, size, dst);
            read += size;
            return true;
        },
        [&](const uint8_t* p, size_t size, uint64_t bytes) {
            records.insert(records.end(), p, p + size);
            consumed += bytes;
            return true;
        });
    EXPECT_TRUE(ok);
    EXPECT_EQ(consumed, data.size());
    return records;
}

TEST(Encoder, RoundTripsEveryShapeInBothModes) {
    EncoderOptions segmented;  // many segments from small shapes
    segmented.segment_size = 16384;
    for (const Shape& shape : shapes()) {
        size_t sizes[2] = {0, 0};
        int mode = 0;
        for (const EncoderOptions& options :
             {greedy_encoder_options(), EncoderOptions(), segmented}) {
            const std::string what = std::string(shape.name) +
                                     (options.optimal ? " optimal" : " greedy") + " in segments of " +
                                     std::to_string(options.segment_size);
            std::vector<uint8_t> records;
            const size_t stored =
                append_chunk_records(shape.data.data(), shape.data.size(), options, records);
            EXPECT_EQ(stored, records.size());
            size_t chunks = 0, largest = 0;
            EXPECT_EQ(decode_records(records, &chunks, &largest), shape.data) << what;
            if (!options.optimal && !shape.data.empty()) {
                EXPECT_EQ(chunks, (shape.data.size() + 1023) / 1024) << what;
            }
            // Segments on their own, on one thread or several: the same bytes.
            EXPECT_TRUE(encode_file(shape.data, options, 1) == records) << what << ", 1 thread";
            EXPECT_TRUE(encode_file(shape.data, options, 3) == records) << what << ", 3 threads";
            if (mode < 2) sizes[mode++] = records.size();
        }
        EXPECT_LE(sizes[1], sizes[0]) << shape.name << ": optimal larger than greedy";
    }
}

// The calls a packer writes the carrier from: per file, in input order,
// begin, its records, end, however many threads; a false stops it all.
TEST(Encoder, FilesComeOutInOrderAndAFalseStops) {
    const std::vector<Shape> files = shapes();
    EncoderOptions options;
    options.segment_size = 16384;
    std::vector<std::vector<uint8_t>> expected;
    for (const Shape& file : files) {
        expected.emplace_back();
        append_chunk_records(file.data.data(), file.data.size(), options, expected.back());
    }
    for (const size_t stop_at : {size_t(0), size_t(5)}) {  // 0: never
        FileEncoder encoder(options, 3);
        std::string calls;
        std::vector<std::vector<uint8_t>> records(files.size());
        size_t record_calls = 0;
        FileEncoder::Calls c;
        c.open = [&](size_t i, FileEncoder::Source& source) {
            auto at = std::make_shared<size_t>(0);
            source.size = files[i].data.size();
            source.read = [&, i, at](uint8_t* dst, size_t size) {
                std::copy_n(files[i].data.begin() + *at, size, dst);
                *at += size;
                return true;
            };
            return true;
        };
        c.begin = [&](size_t i) {
            calls += "<" + std::to_string(i);
            return true;
        };
        c.records = [&](size_t i, const uint8_t* p, size_t size, uint64_t) {
            records[i].insert(records[i].end(), p, p + size);
            return ++record_calls != stop_at;
        };
        c.end = [&](size_t i) {
            calls += std::to_string(i) + ">";
            return true;
        };
        const bool ok = encoder.encode(files.size(), c);
        if (stop_at == 0) {
            EXPECT_TRUE(ok);
            std::string order;
            for (size_t i = 0; i < files.size(); ++i)
                order += "<" + std::to_string(i) + std::to_string(i) + ">";
            EXPECT_EQ(calls, order);
            for (size_t i = 0; i < files.size(); ++i)
                EXPECT_TRUE(records[i] == expected[i]) << files[i].name;
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(record_calls, stop_at);
        }
    }
}

TEST(Encoder, UsesWholeBlocksAndTheRingOfEarlierChunks) {
    // Repetitive data: chunks hold 8192 bytes each and stay tiny.
    const std::vector<uint8_t> zeros(8192 * 4, 0);
    std::vector<uint8_t> records;
    append_chunk_records(zeros.data(), zeros.size(), EncoderOptions(), records);
    size_t chunks = 0, largest = 0;
    EXPECT_EQ(decode_records(records, &chunks, &largest), zeros);
    EXPECT_EQ(chunks, 4u);

    // Incompressible data: bodies are filled close to the 2048-byte limit.
    const auto noise = random_bytes(20000, 9);
    records.clear();
    append_chunk_records(noise.data(), noise.size(), EncoderOptions(), records);
    EXPECT_EQ(decode_records(records, &chunks, &largest), noise);
    EXPECT_GE(largest, size_t(kChunkInputCapacity - 2));

    // A block repeated just after a chunk boundary is cheap only through the
    // ring: the first chunk takes exactly 8192 bytes (zeros, then the block).
    auto block = random_bytes(400, 11);
    std::vector<uint8_t> twice(8192 - 400, 0);
    twice.insert(twice.end(), block.begin(), block.end());
    twice.insert(twice.end(), block.begin(), block.end());
    std::vector<uint8_t> with_ring, without_ring;
    EncoderOptions isolated;
    isolated.use_previous_chunks = false;
    append_chunk_records(twice.data(), twice.size(), EncoderOptions(), with_ring);
    append_chunk_records(twice.data(), twice.size(), isolated, without_ring);
    EXPECT_EQ(decode_records(with_ring, &chunks, &largest), twice);
    EXPECT_EQ(chunks, 2u);
    EXPECT_LT(with_ring.size() + 300, without_ring.size());
}

TEST(Encoder, NeverEndsAChunkWithAMatchFromPositionZero) {
    // Data whose natural last match comes from ring position 0: a run of
    // zeros right at the end of many block sizes, decoded from a fresh ring.
    for (size_t size = 2; size < 1200; size += 37) {
        std::vector<uint8_t> data = text_like(size, uint32_t(size));
        for (size_t i = size > 20 ? size - 17 : 0; i < size; ++i) data[i] = 0;
        for (const EncoderOptions& options : {greedy_encoder_options(), EncoderOptions()}) {
            std::vector<uint8_t> records;
            append_chunk_records(data.data(), data.size(), options, records);
            size_t chunks = 0, largest = 0;
            ASSERT_EQ(decode_records(records, &chunks, &largest), data) << "size " << size;
        }
    }
}

}  // namespace
