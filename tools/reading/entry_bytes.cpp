#include "tools/reading/entry_bytes.h"

#include <algorithm>
#include <cstring>

#include "archive/archive_reader.h"
#include "tools/system/input_file.h"

namespace {
// A read behind the furthest one decodes at most this much before it, until
// the entry is long enough to need more than kMostPlaces places.
constexpr uint64_t kFirstSpacing = 64 << 10;
}  // namespace

EntryBytes::EntryBytes(InputFile& file, uint64_t records_at, uint32_t stored_size, uint64_t decoded_size)
    : file_(file), stored_(stored_size), size_(decoded_size), spacing_(kFirstSpacing) {
    at_.record = records_at;
    places_.push_back(at_);  // a new decoder's ring is all zeros, as at_'s
    ended_ = !decoder_.ok();
}

EntryBytes::~EntryBytes() = default;

// A place every spacing_ bytes; when there are kMostPlaces, every other one
// goes and the spacing doubles, so the places stay few for any entry.
void EntryBytes::keep_place() {
    if (at_.decoded < places_.back().decoded + spacing_) return;
    if (places_.size() == kMostPlaces) {
        size_t kept = 0;
        for (size_t i = 0; i < places_.size(); i += 2) places_[kept++] = places_[i];
        places_.resize(kept);
        spacing_ *= 2;
        if (at_.decoded < places_.back().decoded + spacing_) return;
    }
    std::memcpy(at_.ring, decoder_.ring(), kRingSize);
    places_.push_back(at_);
}

void EntryBytes::go_to(const Place& place) {
    at_ = place;
    decoder_.restore_ring(place.ring);
    chunk_size_ = 0;
    ended_ = !decoder_.ok();
}

// As the carrier walk reads the records: up to the stored size, a record of
// length 0 ends the entry.
bool EntryBytes::decode_next() {
    if (ended_ || at_.consumed >= stored_) return false;
    if (at_.decoded > places_.back().decoded) keep_place();
    uint32_t delivered = 0;
    if (!file_.seek(at_.record) || !read_chunk_record(file_.carrier(), body_, &delivered) || delivered == 0) {
        ended_ = true;
        return false;
    }
    const int32_t n = decoder_.decode_chunk(body_, int32_t(delivered), chunk_, kChunkOutputCapacity);
    if (n < 0) {
        ended_ = true;
        return false;
    }
    chunk_at_ = at_.decoded;
    chunk_size_ = n;
    at_.decoded += uint32_t(n);
    at_.record += 4 + delivered;
    const uint32_t next = at_.consumed + 4 + delivered;
    at_.consumed = next < at_.consumed ? 0xFFFFFFFFu : next;
    return true;
}

size_t EntryBytes::read(uint64_t offset, uint8_t* out, size_t n) {
    size_t done = 0;
    while (done < n && offset + done < size_) {
        const uint64_t want = offset + done;
        const bool in_chunk = chunk_size_ > 0 && want >= chunk_at_ && want - chunk_at_ < uint64_t(chunk_size_);
        if (!in_chunk) {
            // The last place at or before `want`: taken when the decoder is
            // past `want`, or behind that place.
            const auto after = std::upper_bound(places_.begin(), places_.end(), want,
                                                [](uint64_t at, const Place& p) { return at < p.decoded; });
            const Place& place = *(after - 1);
            if (want < at_.decoded || place.decoded > at_.decoded) go_to(place);
            bool found = false;
            while (!found && decode_next())
                found = want >= chunk_at_ && want - chunk_at_ < uint64_t(chunk_size_);
            if (!found) break;
        }
        const size_t from = size_t(want - chunk_at_);
        const size_t count = std::min(n - done, size_t(chunk_size_) - from);
        std::memcpy(out + done, chunk_ + from, count);
        done += count;
    }
    return done;
}
