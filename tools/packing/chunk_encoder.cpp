#include "tools/packing/chunk_encoder.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kHistory = kRingSize;     // window bytes before the chunk's data
constexpr int32_t kMinMatch = 2;
constexpr int32_t kMaxMatch = 17;
constexpr uint32_t kLiteralBits = 9;
constexpr uint32_t kMatchBits = 14;
constexpr uint32_t kBodyBits = kChunkInputCapacity * 8;
constexpr uint32_t kInfinite = 0xFFFFFFFFu;
constexpr int32_t kGreedyBlockLimit = (kBodyBits - 1) / kLiteralBits;  // always fits
static_assert(kHistory + kChunkOutputCapacity + kMaxMatch < 32768, "window positions fit int16_t");

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t value, int bits) {  // value < 2^bits, bits <= 24
        pending_ = pending_ << bits | value;
        count_ += bits;
        while (count_ >= 8) {
            count_ -= 8;
            out_.push_back(static_cast<uint8_t>(pending_ >> count_));
        }
    }
    void finish() {  // zero bits up to the byte boundary
        if (count_ > 0) out_.push_back(static_cast<uint8_t>(pending_ << (8 - count_)));
        count_ = 0;
    }

private:
    std::vector<uint8_t>& out_;
    uint32_t pending_ = 0;  // its low count_ bits are not yet written
    int count_ = 0;
};

// A chunk's window has fewer than 9,000 positions, so small tables do, and
// stay in the first-level cache.
constexpr int kHashBits = 12;

int32_t key2_at(const uint8_t* p) {
    const uint32_t v = uint32_t(p[0]) << 8 | p[1];
    return static_cast<int32_t>((v * 2654435761u) >> (32 - kHashBits));
}

// Matches of 3 bytes or more are searched by length, longest first, each
// range among the positions whose first kLevelBytes[l] bytes hash alike:
// 8 to 17 bytes, 6 to 7, 4 to 5, then 3. Machine code has long chains of
// positions that share 3 or 4 bytes (zeros, common opcodes), and the search
// mostly ends in a short chain.
constexpr int kLevels = 4;
constexpr int32_t kLevelBytes[kLevels] = {8, 6, 4, 3};

int32_t level_key(const uint8_t* p, int32_t bytes) {  // reads 8 bytes
    uint64_t v = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(&v, p, 8);
    if (bytes < 8) v &= (uint64_t(1) << (8 * bytes)) - 1;
#else
    for (int32_t b = 0; b < bytes; ++b) v |= uint64_t(p[b]) << (8 * b);
#endif
    return static_cast<int32_t>(((v + uint64_t(bytes)) * 0x9E3779B97F4A7C15ull) >> (64 - kHashBits));
}

// Bytes a[0, n) and b[0, n) have in common, n at most kMaxMatch; reads 17
// bytes of each whatever n is.
int32_t common_length(const uint8_t* a, const uint8_t* b, int32_t n) {
#if defined(__GNUC__) && defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint64_t x, y;
    std::memcpy(&x, a, 8);
    std::memcpy(&y, b, 8);
    int32_t len;
    if (x != y) {
        len = __builtin_ctzll(x ^ y) >> 3;
    } else {
        std::memcpy(&x, a + 8, 8);
        std::memcpy(&y, b + 8, 8);
        if (x != y)
            len = 8 + (__builtin_ctzll(x ^ y) >> 3);
        else
            len = a[16] == b[16] ? 17 : 16;
    }
    return std::min(len, n);
#else
    int32_t len = 0;
    while (len < n && a[len] == b[len]) ++len;
    return len;
#endif
}

}  // namespace

EncoderOptions greedy_encoder_options() {
    EncoderOptions options;
    options.max_block = 1024;
    options.optimal = false;
    options.use_previous_chunks = false;
    return options;
}

ChunkEncoder::ChunkEncoder(const EncoderOptions& options)
    : options_(options), head2_(1 << kHashBits) {
    for (auto& head : chain_head_) head.resize(1 << kHashBits);
    options_.max_block = std::max<int32_t>(1, std::min(options_.max_block, kChunkOutputCapacity));
    if (!options_.optimal) options_.max_block = std::min(options_.max_block, kGreedyBlockLimit);
    std::memset(ring_, 0, sizeof ring_);
}

// Longest match for window position i among the 512 positions before it.
// A match at distance d copies window[i - d ...]; it is coded with ring
// position (i - kHistory - d + 1) mod 512, which the decoder reads as the end
// of the chunk when it is 0 and the token is the chunk's last: so the best
// match with a non-zero position is tracked as well. Of equally long
// matches the nearest is taken, so the result is the same however the
// candidates are found.
void ChunkEncoder::find_match(int32_t i, int32_t limit) {
    best_len_ = best_dist_ = best_nz_len_ = best_nz_dist_ = 0;
    if (limit < kMinMatch) return;
    const int32_t lowest = std::max(
        options_.use_previous_chunks ? i - kRingSize : std::max(i - kRingSize, kHistory), 0);
    const int32_t zero_dist = ((i - kHistory + 1) & (kRingSize - 1)) == 0
                                  ? kRingSize
                                  : (i - kHistory + 1) & (kRingSize - 1);
    const uint8_t* const cur = &window_[i];
    for (int l = 0; l < kLevels; ++l) {
        const int32_t least = kLevelBytes[l];
        if (limit < least) continue;
        // Nothing not from position 0 is longer than this level's range
        // (it would have been found above), so its longest ends the search.
        const int32_t most = std::min(l == 0 ? kMaxMatch : kLevelBytes[l - 1] - 1, limit);
        for (int32_t j = chain_head_[l][level_key(cur, least)]; j >= lowest; j = chain_[l][j]) {
            // Only a longer match than the best so far counts, and most
            // candidates differ where it would have to go on.
            const int32_t t = std::max(best_nz_len_, least - 1);
            if (window_[j + t] != cur[t]) continue;
            const int32_t len = common_length(&window_[j], cur, limit);
            if (len < least) continue;
            const int32_t dist = i - j;
            if (len > best_len_) {
                best_len_ = len;
                best_dist_ = dist;
            }
            if (dist != zero_dist && len > best_nz_len_) {
                best_nz_len_ = len;
                best_nz_dist_ = dist;
                if (len == most) break;
            }
        }
        if (best_nz_len_ >= least) return;
    }
    // Two bytes at most (or longer only from position 0): the nearest will do.
    for (int32_t j = head2_[key2_at(cur)]; j >= lowest; j = prev2_[j]) {
        if (window_[j] != cur[0] || window_[j + 1] != cur[1]) continue;
        const int32_t dist = i - j;
        if (best_len_ == 0) best_len_ = kMinMatch, best_dist_ = dist;
        if (dist != zero_dist) {
            best_nz_len_ = kMinMatch;
            best_nz_dist_ = dist;
            return;
        }
    }
}

void ChunkEncoder::insert(int32_t j) {
    const uint8_t* const p = &window_[j];
    int16_t& two = head2_[key2_at(p)];
    prev2_[j] = two;
    two = static_cast<int16_t>(j);
    for (int l = 0; l < kLevels; ++l) {
        int16_t& head = chain_head_[l][level_key(p, kLevelBytes[l])];
        chain_[l][j] = head;
        head = static_cast<int16_t>(j);
    }
}

void ChunkEncoder::restart(const uint8_t* history) {
    // As a chunk of 512 bytes (or a multiple) would leave it: the oldest byte
    // in slot 1, the newest in slot 0.
    for (int32_t t = 0; t < kRingSize; ++t)
        ring_[(t + 1) & (kRingSize - 1)] = history ? history[t] : 0;
}

size_t ChunkEncoder::encode_next(const uint8_t* data, size_t size, std::vector<uint8_t>& body,
                                 bool segment_end) {
    int32_t n_max = static_cast<int32_t>(std::min<size_t>(size, options_.max_block));
    if (n_max <= 0) return 0;
    // Before a segment end, a chunk that may be the one before the last ends
    // a multiple of 512 bytes before it, so the last starts there too and
    // leaves the ring holding the segment's last 512 bytes in order (see
    // segment_length). Every chunk holds 512 bytes, so one can always stop
    // at such a place. Chunks that use no ring need none of this.
    const bool align = segment_end && options_.use_previous_chunks;
    auto may_end_at = [&](int32_t n) {
        const size_t left = size - size_t(n);
        return !align || left > size_t(options_.max_block) ||
               (left % kRingSize == 0 && (left > 0 || size % kRingSize == 0));
    };
    if (!options_.optimal)
        while (!may_end_at(n_max)) --n_max;

    // The decoder writes the chunk's bytes at ring slots 1, 2, ...: slot s
    // holds the byte written at time t = s - 1 - 512 (mod 512) before the chunk.
    window_.resize(kHistory + n_max + kMaxMatch);
    for (int32_t t = 0; t < kHistory; ++t) window_[t] = ring_[(t + 1) & (kRingSize - 1)];
    std::memcpy(&window_[kHistory], data, n_max);
    std::memset(&window_[kHistory + n_max], 0, kMaxMatch);
    prev2_.resize(kHistory + n_max);
    for (auto& chain : chain_) chain.resize(kHistory + n_max);
    std::fill(head2_.begin(), head2_.end(), -1);
    for (auto& head : chain_head_) std::fill(head.begin(), head.end(), -1);
    if (options_.use_previous_chunks)
        for (int32_t j = 0; j < kHistory - 1; ++j) insert(j);

    tokens_.clear();
    int32_t n = 0;
    if (options_.optimal) {
        // Shortest parse by cost to each prefix. Every match costs the same,
        // so from each position the longest match stands for all shorter ones.
        cost_.assign(n_max + 1, kInfinite);
        end_cost_.assign(n_max + 1, kInfinite);
        step_.resize(n_max + 1);
        end_step_.resize(n_max + 1);
        cost_[0] = 0;
        int32_t k = 0;
        for (; k < n_max; ++k) {
            if (cost_[k] + 1 > kBodyBits) break;  // no longer prefix can fit
            const int32_t i = kHistory + k;
            if (i > 0) insert(i - 1);
            find_match(i, std::min(kMaxMatch, n_max - k));
            const uint32_t lit = cost_[k] + kLiteralBits;
            if (lit < cost_[k + 1]) cost_[k + 1] = lit, step_[k + 1] = {k, 0};
            if (lit < end_cost_[k + 1]) end_cost_[k + 1] = lit, end_step_[k + 1] = {k, 0};
            const uint32_t match = cost_[k] + kMatchBits;
            for (int32_t len = kMinMatch; len <= best_len_; ++len) {
                if (match < cost_[k + len]) cost_[k + len] = match, step_[k + len] = {k, best_dist_};
                if (len <= best_nz_len_ && match < end_cost_[k + len])
                    end_cost_[k + len] = match, end_step_[k + len] = {k, best_nz_dist_};
            }
        }
        // Largest prefix, among those final so far, whose body fits.
        n = k;
        while (n > 0 && (end_cost_[n] + 1 > kBodyBits || !may_end_at(n))) --n;
        Step s = end_step_[n];
        tokens_.push_back(s);
        for (int32_t at = s.from; at > 0; at = s.from) {
            s = step_[at];
            tokens_.push_back(s);
        }
        std::reverse(tokens_.begin(), tokens_.end());
    } else {
        n = n_max;
        for (int32_t k = 0; k < n;) {
            const int32_t i = kHistory + k;
            const int32_t limit = std::min(kMaxMatch, n - k);
            find_match(i, limit);
            int32_t len = best_len_, dist = best_dist_;
            // A last token from ring position 0 would read as the end.
            if (best_nz_len_ == best_len_ || k + len == n) len = best_nz_len_, dist = best_nz_dist_;
            if (len < kMinMatch) len = 1, dist = 0;
            tokens_.push_back({k, dist});
            for (int32_t j = i; j < i + len; ++j) insert(j);
            k += len;
        }
    }
    emit(data, n, body);

    for (int32_t k = 0; k < n; ++k) ring_[(k + 1) & (kRingSize - 1)] = data[k];
    return static_cast<size_t>(n);
}

void ChunkEncoder::emit(const uint8_t* data, int32_t n, std::vector<uint8_t>& body) {
    BitWriter bits(body);
    for (size_t t = 0; t < tokens_.size(); ++t) {
        const Step& token = tokens_[t];
        const int32_t end = t + 1 < tokens_.size() ? tokens_[t + 1].from : n;
        if (token.distance == 0) {
            bits.put(0x100u | data[token.from], kLiteralBits);
        } else {
            const uint32_t position =
                static_cast<uint32_t>(token.from - token.distance + 1) & (kRingSize - 1);
            bits.put(position << 4 | static_cast<uint32_t>(end - token.from - kMinMatch),
                     kMatchBits);
        }
    }
    bits.put(0, 1);  // short end form: the position field runs off the body
    bits.finish();
}

size_t encode_segment(ChunkEncoder& encoder, const uint8_t* data, size_t size, bool file_end,
                      std::vector<uint8_t>& out) {
    const size_t start = out.size();
    std::vector<uint8_t> body;
    while (size > 0) {
        body.clear();
        const size_t used = encoder.encode_next(data, size, body, !file_end);
        const uint32_t length = static_cast<uint32_t>(body.size());
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(length >> (8 * b)));
        out.insert(out.end(), body.begin(), body.end());
        data += used;
        size -= used;
    }
    return out.size() - start;
}

size_t segment_length(const EncoderOptions& options, uint64_t left) {
    const uint64_t unit = options.segment_size & ~uint32_t(kChunkOutputCapacity - 1);
    // Chunks under 512 bytes cannot leave the ring in order.
    const bool whole = unit == 0 || (options.use_previous_chunks && options.max_block < kRingSize);
    return size_t(whole ? left : std::min(left, unit));
}

size_t append_chunk_records(const uint8_t* data, size_t size, const EncoderOptions& options,
                            std::vector<uint8_t>& out) {
    // One encoder throughout: at each segment start its ring already holds
    // what restart() would put there.
    ChunkEncoder encoder(options);
    const size_t start = out.size();
    while (size > 0) {
        const size_t length = segment_length(options, size);
        encode_segment(encoder, data, length, length == size, out);
        data += length;
        size -= length;
    }
    return out.size() - start;
}
