#include "tools/packing/carrier_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "tools/packing/chunk_encoder.h"
#include "tools/report/text_report.h"
#include "tools/system/console.h"
#include "tools/system/le_bytes.h"
#include "tools/system/text_encoding.h"
#include "tools/system/output_file.h"

namespace fs = std::filesystem;

namespace {

// The record holds the carrier's length in 32 bits, and the launcher learns
// its own from SetFilePointer, where 0xFFFFFFFF means failure.
constexpr uint64_t kLargestCarrier = 0xFFFFFFF8ull;
// Signing tools pad a file to 8 bytes before the certificate table; a
// carrier already that long gets no padding the record does not count.
constexpr uint64_t kCarrierAlignment = 8;
constexpr size_t kReadBlock = size_t(1) << 20;

// CRC-32 arithmetic on polynomials over GF(2), bit-reflected as the CRC
// register holds them (x^0 is the top bit).
uint32_t multiply_mod_crc(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit != 0 && a != 0; bit >>= 1) {
        if (a & bit) {
            product ^= b;
            a ^= bit;
        }
        b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}

// The CRC-32 of A followed by B, from the CRC-32s of each and B's length.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b) {
    uint32_t shift = 0x80000000u;  // x^(8 * length_b), by squaring x^8
    for (uint32_t square = 0x00800000u; length_b != 0; length_b >>= 1) {
        if (length_b & 1) shift = multiply_mod_crc(square, shift);
        square = multiply_mod_crc(square, square);
    }
    return multiply_mod_crc(shift, crc_a) ^ crc_b;
}

// Writes the carrier front to back, summing the archive's bytes as they go.
class CarrierWriter {
public:
    explicit CarrierWriter(OutputFile& out) : out_(out) {}
    bool good() const { return out_.error().empty(); }
    uint64_t size() const { return size_; }

    void put(const void* data, size_t size) {
        out_.write(data, size);
        size_ += size;
        if (summing_) crc_ = crc32_update(crc_, static_cast<const uint8_t*>(data), size);
    }
    void put_u32(uint32_t value) {
        uint8_t bytes[4];
        set_le32(bytes, value);
        put(bytes, 4);
    }
    void put_name(const std::string& name) { put(name.c_str(), name.size() + 1); }

    void start_sum() {
        summing_ = true;
        crc_ = 0;
    }
    uint32_t stop_sum() {
        summing_ = false;
        return crc_;
    }

    // An entry's stored size is known only once its records are written.
    // The sum restarts after the placeholder and is joined up when it is
    // filled, so the archive is still read once.
    void put_placeholder() {
        placeholder_at_ = size_;
        crc_before_ = crc_;
        const bool summing = summing_;
        summing_ = false;
        put_u32(0);
        summing_ = summing;
        crc_ = 0;
    }
    void fill_placeholder(uint32_t value) {
        uint8_t bytes[4];
        set_le32(bytes, value);
        overwrite(placeholder_at_, bytes, 4);
        const uint64_t after = size_ - placeholder_at_ - 4;
        crc_ = crc32_combine(crc32_update(crc_before_, bytes, 4), crc_, after);
    }

    // Replaces bytes already written; the size and the sum stay.
    void overwrite(uint64_t at, const uint8_t* data, size_t size) { out_.write_at(at, data, size); }

private:
    OutputFile& out_;
    uint64_t size_ = 0;
    bool summing_ = false;
    uint32_t crc_ = 0;
    uint64_t placeholder_at_ = 0;
    uint32_t crc_before_ = 0;
};

// Streams one file through the encoder. Each chunk sees at least a full
// block when the file has one, so the records equal append_chunk_records'.
bool put_entry(const PackInput& input, const EncoderOptions& options, CarrierWriter& out,
               Progress& progress, uint64_t& done, CarrierEntry& entry,
               std::vector<std::string>& problems) {
    const std::string where = path_to_utf8(input.path);
    errno = 0;
    std::ifstream file(input.path, std::ios::binary);
    if (!file) {
        problems.push_back(where + ": cannot open for reading: " + system_reason());
        return false;
    }
    out.put_name(input.name);
    out.put_placeholder();
    ChunkEncoder encoder(options);
    std::vector<uint8_t> buffer(kReadBlock);
    std::vector<uint8_t> body;
    size_t begin = 0, end = 0;
    uint64_t left = input.size;  // to read, as the scan found it
    bool at_end = false;
    uint64_t stored = 0;
    // A file that changes size while it is read would be stored as neither.
    auto changed = [&](const std::string& now) {
        problems.push_back(where + ": " + std::to_string(input.size) + " bytes when scanned, " +
                           now + " when read: it changed while being packed");
        return false;
    };
    for (;;) {
        if (!at_end && end - begin < size_t(kChunkOutputCapacity)) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            const size_t want = size_t(std::min<uint64_t>(buffer.size() - end, left));
            file.read(reinterpret_cast<char*>(buffer.data() + end), std::streamsize(want));
            const size_t got = size_t(file.gcount());
            end += got;
            left -= got;
            if (file.bad()) {
                problems.push_back(where + ": read failed: " + system_reason());
                return false;
            }
            if (got < want) return changed(std::to_string(input.size - left));
            at_end = left == 0;
            if (at_end && file.peek() != std::ifstream::traits_type::eof())
                return changed("more");
        }
        if (begin == end) break;
        body.clear();
        const size_t used = encoder.encode_next(buffer.data() + begin, end - begin, body);
        out.put_u32(uint32_t(body.size()));
        out.put(body.data(), body.size());
        stored += 4 + body.size();
        if (stored > kLargestStoredSize) {
            problems.push_back(where + ": its chunk records pass 4 GiB, more than a stored size holds");
            return false;
        }
        begin += used;
        done += used;
        progress.show(input.name, done);
    }
    out.fill_placeholder(uint32_t(stored));
    entry.stored_size = uint32_t(stored);
    entry.decoded_size = input.size;
    if (verbosity() == Verbosity::kVerbose) print(packed_entry_text(entry));
    return true;
}

}  // namespace

bool write_carrier(const PackRequest& request, const fs::path& target,
                   const std::vector<uint8_t>& stub, const std::vector<PackInput>& inputs,
                   Carrier& carrier, std::vector<std::string>& problems) {
    OutputFile file(target);
    CarrierWriter out(file);
    if (!out.good()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    const EncoderOptions options = request.greedy ? greedy_encoder_options() : EncoderOptions();
    uint64_t total = 0, done = 0;
    for (const PackInput& input : inputs) total += input.size;
    carrier.image_size = stub.size();
    IntegrityRecord& record = carrier.record;
    record.archive_offset = uint32_t(stub.size() + kRecordSize);
    {
        Progress progress(total);
        out.put(stub.data(), stub.size());
        const uint8_t blank[kRecordSize] = {};
        out.put(blank, kRecordSize);  // filled in once the archive is summed
        out.start_sum();
        out.put_name(request.launch_name);
        carrier.launch_name = request.launch_name;
        carrier.launch_read = carrier.launch_opens = true;
        for (const PackInput& input : inputs) {
            CarrierEntry entry;
            entry.name = input.name;
            entry.offset = out.size() - record.archive_offset;
            if (!put_entry(input, options, out, progress, done, entry, problems)) return false;
            carrier.entries.push_back(entry);
            if (!out.good()) break;
        }
    }
    out.put("", 1);  // end marker
    const uint8_t zeros[kCarrierAlignment] = {};
    out.put(zeros, size_t((kCarrierAlignment - (out.size() + 4) % kCarrierAlignment) %
                          kCarrierAlignment));
    if (out.size() + 4 > kLargestCarrier) {
        problems.push_back(request.output + ": carrier would reach 4 GiB, more than the "
                                            "launcher can check and read");
        return false;
    }
    record.archive_length = uint32_t(out.size() - record.archive_offset);
    record.archive_crc = out.stop_sum();
    out.put_u32(record.archive_offset);  // the trailer
    record.carrier_length = uint32_t(out.size());
    uint8_t record_bytes[kRecordSize];
    encode_record(record, record_bytes);
    out.overwrite(stub.size(), record_bytes, kRecordSize);
    carrier.integrity = Integrity::kIntact;
    carrier.archive_start = record.archive_offset;
    if (!file.commit()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    return true;
}
