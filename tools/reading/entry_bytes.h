// An archived entry read at any offset without holding it whole: verify's
// view of the launch program. The entry is decoded front to back only as
// far as reads reach; on the way, every so often, the decoder's ring and the
// next record's place are kept, so a read behind the furthest one decodes
// from the kept place before it rather than from the entry's start.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/chunk_decoder.h"
#include "tools/dlls/image_bytes.h"

class InputFile;

class EntryBytes final : public ImageBytes {
public:
    // records_at: the file offset of the entry's first chunk record; the
    // sizes are those the carrier walk read.
    EntryBytes(InputFile& file, uint64_t records_at, uint32_t stored_size, uint64_t decoded_size);
    ~EntryBytes() override;

    uint64_t size() const override { return size_; }
    size_t read(uint64_t offset, uint8_t* out, size_t n) override;

    // Places kept so far: at most kMostPlaces, however long the entry.
    size_t places() const { return places_.size(); }
    static constexpr size_t kMostPlaces = 1024;

private:
    struct Place {
        uint64_t record = 0;    // file offset of the next chunk record
        uint32_t consumed = 0;  // stored bytes before it
        uint64_t decoded = 0;   // decoded bytes before it
        uint8_t ring[kRingSize] = {};
    };

    bool decode_next();
    void go_to(const Place& place);
    void keep_place();

    InputFile& file_;
    uint32_t stored_;
    uint64_t size_;
    ChunkDecoder decoder_;
    Place at_;                // where the decoder stands
    uint64_t chunk_at_ = 0;   // decoded offset of chunk_'s first byte
    int32_t chunk_size_ = 0;  // bytes in chunk_; 0 before the first decode from at_
    bool ended_ = false;      // the records end, or cannot be read, at at_
    std::vector<Place> places_;  // ascending; the first is the entry's start
    uint64_t spacing_;           // decoded bytes between kept places
    uint8_t chunk_[kChunkOutputCapacity];
    uint8_t body_[kChunkInputCapacity];
};
