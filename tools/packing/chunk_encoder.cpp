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

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : out_(out) {}
    void put(uint32_t value, int bits) {
        for (int b = bits - 1; b >= 0; --b) {
            if (fill_ == 0) out_.push_back(0);
            if ((value >> b) & 1u) out_.back() |= static_cast<uint8_t>(0x80u >> fill_);
            fill_ = (fill_ + 1) & 7;
        }
    }

private:
    std::vector<uint8_t>& out_;
    int fill_ = 0;  // bits used in the last byte
};

int32_t key_at(const uint8_t* p) { return (p[0] << 8) | p[1]; }

}  // namespace

EncoderOptions greedy_encoder_options() {
    EncoderOptions options;
    options.max_block = 1024;
    options.optimal = false;
    options.use_previous_chunks = false;
    return options;
}

ChunkEncoder::ChunkEncoder(const EncoderOptions& options)
    : options_(options), head_(1 << 16), head_epoch_(1 << 16, 0) {
    options_.max_block = std::max<int32_t>(1, std::min(options_.max_block, kChunkOutputCapacity));
    if (!options_.optimal) options_.max_block = std::min(options_.max_block, kGreedyBlockLimit);
    std::memset(ring_, 0, sizeof ring_);
}

// Longest match for window position i among the 512 positions before it.
// A match at distance d copies window[i - d ...]; it is coded with ring
// position (i - kHistory - d + 1) mod 512, which the decoder reads as the end
// of the chunk when it is 0 and the token is the chunk's last: so the best
// match with a non-zero position is tracked as well.
void ChunkEncoder::find_match(int32_t i, int32_t limit) {
    best_len_ = best_dist_ = best_nz_len_ = best_nz_dist_ = 0;
    if (limit < kMinMatch) return;
    const int32_t lowest =
        options_.use_previous_chunks ? i - kRingSize : std::max(i - kRingSize, kHistory);
    const int32_t zero_dist = ((i - kHistory + 1) & (kRingSize - 1)) == 0
                                  ? kRingSize
                                  : (i - kHistory + 1) & (kRingSize - 1);
    const int32_t key = key_at(&window_[i]);
    if (head_epoch_[key] != epoch_) return;
    const uint8_t* const cur = &window_[i];
    for (int32_t j = head_[key]; j >= lowest && j >= 0; j = prev_[j]) {
        int32_t len = kMinMatch;
        const uint8_t* const src = &window_[j];
        while (len < limit && src[len] == cur[len]) ++len;
        const int32_t dist = i - j;
        if (len > best_len_) {
            best_len_ = len;
            best_dist_ = dist;
        }
        if (dist != zero_dist && len > best_nz_len_) {
            best_nz_len_ = len;
            best_nz_dist_ = dist;
        }
        if (best_nz_len_ == limit) break;
    }
}

size_t ChunkEncoder::encode_next(const uint8_t* data, size_t size, std::vector<uint8_t>& body) {
    const int32_t n_max = static_cast<int32_t>(std::min<size_t>(size, options_.max_block));
    if (n_max <= 0) return 0;

    // The decoder writes the chunk's bytes at ring slots 1, 2, ...: slot s
    // holds the byte written at time t = s - 1 - 512 (mod 512) before the chunk.
    window_.resize(kHistory + n_max + kMaxMatch);
    for (int32_t t = 0; t < kHistory; ++t) window_[t] = ring_[(t + 1) & (kRingSize - 1)];
    std::memcpy(&window_[kHistory], data, n_max);
    std::memset(&window_[kHistory + n_max], 0, kMaxMatch);
    prev_.resize(kHistory + n_max);
    if (++epoch_ == 0) {
        std::fill(head_epoch_.begin(), head_epoch_.end(), 0);
        epoch_ = 1;
    }
    auto insert = [&](int32_t j) {
        const int32_t key = key_at(&window_[j]);
        prev_[j] = head_epoch_[key] == epoch_ ? head_[key] : -1;
        head_[key] = j;
        head_epoch_[key] = epoch_;
    };
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
        while (n > 0 && end_cost_[n] + 1 > kBodyBits) --n;
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
            bits.put(1, 1);
            bits.put(data[token.from], 8);
        } else {
            const uint32_t position =
                static_cast<uint32_t>(token.from - token.distance + 1) & (kRingSize - 1);
            bits.put(0, 1);
            bits.put(position, 9);
            bits.put(static_cast<uint32_t>(end - token.from - kMinMatch), 4);
        }
    }
    bits.put(0, 1);  // short end form: the position field runs off the body
}

size_t append_chunk_records(const uint8_t* data, size_t size, const EncoderOptions& options,
                            std::vector<uint8_t>& out) {
    ChunkEncoder encoder(options);
    std::vector<uint8_t> body;
    const size_t start = out.size();
    while (size > 0) {
        body.clear();
        const size_t used = encoder.encode_next(data, size, body);
        const uint32_t length = static_cast<uint32_t>(body.size());
        for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(length >> (8 * b)));
        out.insert(out.end(), body.begin(), body.end());
        data += used;
        size -= used;
    }
    return out.size() - start;
}
