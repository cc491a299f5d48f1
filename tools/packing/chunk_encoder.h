// Chunk encoder: the inverse of ChunkDecoder, used by the packing tool and
// the tests. Each chunk it emits decodes, with the decoder's ring as it
// stands after the file's earlier chunks, to exactly the bytes it consumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/chunk_decoder.h"

struct EncoderOptions {
    int32_t max_block = kChunkOutputCapacity;  // decoded bytes per chunk, at most
    bool optimal = true;              // shortest bit stream; false: greedy longest match
    bool use_previous_chunks = true;  // match into the ring left by earlier chunks
};

// The plain baseline: 1024-byte blocks, greedy, each chunk on its own.
EncoderOptions greedy_encoder_options();

// Encodes one file chunk by chunk. Keeps a mirror of the decoder's ring, so
// one encoder must serve exactly one file, its chunks in order.
class ChunkEncoder {
public:
    explicit ChunkEncoder(const EncoderOptions& options = EncoderOptions());

    // Encodes the next chunk from data[0, size) (size >= 1): consumes at most
    // max_block bytes, fewer when the body would pass kChunkInputCapacity.
    // Appends the body (short end form) to `body`; returns bytes consumed.
    size_t encode_next(const uint8_t* data, size_t size, std::vector<uint8_t>& body);

private:
    struct Step {
        int32_t from;      // position the token starts at
        int32_t distance;  // 0 for a literal
    };
    void find_match(int32_t i, int32_t limit);
    void emit(const uint8_t* data, int32_t n, std::vector<uint8_t>& body);

    EncoderOptions options_;
    uint8_t ring_[kRingSize];

    // Per-chunk work space: the ring's bytes in write order followed by the
    // chunk's data, hash chains over it, and the parse.
    std::vector<uint8_t> window_;
    std::vector<int32_t> head_;
    std::vector<uint32_t> head_epoch_;
    std::vector<int32_t> prev_;
    uint32_t epoch_ = 0;
    int32_t best_len_ = 0, best_dist_ = 0;        // longest match at the current position
    int32_t best_nz_len_ = 0, best_nz_dist_ = 0;  // longest whose ring position is not 0
    std::vector<uint32_t> cost_, end_cost_;
    std::vector<Step> step_, end_step_;
    std::vector<Step> tokens_;
};

// Encodes a whole file into chunk records (4-byte body length + body) and
// appends them to `out`. Returns the number of bytes appended: the entry's
// stored size. An empty file gives no record.
size_t append_chunk_records(const uint8_t* data, size_t size, const EncoderOptions& options,
                            std::vector<uint8_t>& out);
