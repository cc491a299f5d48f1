// Chunk encoder: the inverse of ChunkDecoder, used by the packing tool and
// the tests. Each chunk it emits decodes, with the decoder's ring as it
// stands after the file's earlier chunks, to exactly the bytes it consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/chunk_decoder.h"

constexpr uint32_t kDefaultSegmentSize = uint32_t(2) << 20;

struct EncoderOptions {
    int32_t max_block = kChunkOutputCapacity;  // decoded bytes per chunk, at most
    bool optimal = true;              // shortest bit stream; false: greedy longest match
    bool use_previous_chunks = true;  // match into the ring left by earlier chunks
    // Files are encoded in segments of this many bytes (rounded down to a
    // multiple of 8192; 0: one segment), each independent of the chunks
    // before it, so that several can be encoded at once with the same result.
    uint32_t segment_size = kDefaultSegmentSize;
};

// The plain baseline: 1024-byte blocks, greedy, each chunk on its own.
EncoderOptions greedy_encoder_options();

// Encodes one file chunk by chunk. Keeps a mirror of the decoder's ring, so
// one encoder must serve exactly one file, its chunks in order.
class ChunkEncoder {
public:
    explicit ChunkEncoder(const EncoderOptions& options = EncoderOptions());

    // Sets the ring as the decoder's after the 512 bytes at history (a chunk
    // of a multiple of 512 bytes ending with them); nullptr: a file's start.
    void restart(const uint8_t* history);

    // Encodes the next chunk from data[0, size) (size >= 1): consumes at most
    // max_block bytes, fewer when the body would pass kChunkInputCapacity.
    // Appends the body (short end form) to `body`; returns bytes consumed.
    // segment_end: data + size ends a segment, not the file.
    size_t encode_next(const uint8_t* data, size_t size, std::vector<uint8_t>& body,
                       bool segment_end = false);

private:
    struct Step {
        int32_t from;      // position the token starts at
        int32_t distance;  // 0 for a literal
    };
    void find_match(int32_t i, int32_t limit);
    void insert(int32_t j);
    void emit(const uint8_t* data, int32_t n, std::vector<uint8_t>& body);

    EncoderOptions options_;
    uint8_t ring_[kRingSize];

    // Per-chunk work space: the ring's bytes in write order followed by the
    // chunk's data, hash chains over it, and the parse.
    std::vector<uint8_t> window_;
    // Hash chains of window positions, by the first two bytes and by the
    // first 3, 4, 6 and 8; -1 ends a chain.
    std::vector<int16_t> head2_, chain_head_[4];  // latest position of each hash
    std::vector<int16_t> prev2_, chain_[4];       // next older position in the same chain
    int32_t best_len_ = 0, best_dist_ = 0;        // longest match at the current position
    int32_t best_nz_len_ = 0, best_nz_dist_ = 0;  // longest whose ring position is not 0
    std::vector<uint32_t> cost_, end_cost_;
    std::vector<Step> step_, end_step_;
    std::vector<Step> tokens_;
};

// Bytes of the next segment when `left` bytes of the file remain. Chunks
// depend on earlier ones only through the ring, and when the chunk before a
// segment has a length that is a non-zero multiple of 512, the ring holds
// the file's 512 bytes before the segment, the oldest in slot 1, whatever
// came earlier: each segment's last chunk is made so.
size_t segment_length(const EncoderOptions& options, uint64_t left);

// Appends the chunk records of one segment, data[0, size), to `out`; the
// encoder's ring must be as the file's earlier segments left it (or set by
// restart()). Returns the number of bytes appended.
size_t encode_segment(ChunkEncoder& encoder, const uint8_t* data, size_t size, bool file_end,
                      std::vector<uint8_t>& out);

// Encodes a whole file into chunk records (4-byte body length + body) and
// appends them to `out`. Returns the number of bytes appended: the entry's
// stored size. An empty file gives no record.
size_t append_chunk_records(const uint8_t* data, size_t size, const EncoderOptions& options,
                            std::vector<uint8_t>& out);
