#include "tools/packing/carrier_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/packing/file_encoder.h"
#include "tools/report/text_report.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
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

// One input file as the encoder reads it: opened when the encoder asks for
// it (the launch program's, opened when it was checked, read from its
// start), read exactly as long as the scan found it. A file that changes while
// it is read would be stored as neither version: one that changes size,
// and one rewritten in place (its write or change time moves; on Windows
// no other program may write to it while it is open), fails the pack.
class InputStream {
public:
    InputStream(const PackInput& input, std::vector<std::string>& problems)
        : input_(input), problems_(problems), left_(input.size),
          file_(input.file ? input.file : std::make_shared<InputFile>(input.path)) {}

    bool open() {
        if (!file_->is_open()) return fail("cannot open for reading: " + file_->error());
        if (input_.file && !file_->seek(0)) return fail("read failed: " + system_reason());
        if (!file_->stamp(opened_)) return fail("cannot read its times: " + system_reason());
        // The encoder reads nothing of an empty file: it must still be empty.
        return left_ != 0 || at_end();
    }

    bool read(uint8_t* dst, size_t size) {
        size_t got = 0;
        if (!file_->read(dst, size, &got)) return fail("read failed: " + system_reason());
        left_ -= got;
        if (got < size) return changed(std::to_string(input_.size - left_));
        if (left_ == 0 && !at_end()) return false;
        FileStamp now;
        if (!file_->stamp(now)) return fail("cannot read its times: " + system_reason());
        if (!(now == opened_))
            return fail("changed while it was read (its modification or change time moved)");
        return true;
    }

private:
    bool at_end() {
        uint8_t more;
        size_t got = 0;
        if (!file_->read(&more, 1, &got)) return fail("read failed: " + system_reason());
        return got == 0 || changed("more");
    }
    bool fail(const std::string& what) {
        problems_.push_back(path_to_utf8(input_.path) + ": " + what);
        return false;
    }
    bool changed(const std::string& now) {
        return fail(std::to_string(input_.size) + " bytes when scanned, " + now +
                    " when read: it changed while being packed");
    }

    const PackInput& input_;
    std::vector<std::string>& problems_;
    uint64_t left_;
    std::shared_ptr<InputFile> file_;
    FileStamp opened_;
};

// The entries, each name, stored size and records in input order, while the
// encoder works on several files and segments at once.
class EntryWriter {
public:
    EntryWriter(const std::vector<PackInput>& inputs, CarrierWriter& out, Carrier& carrier,
                std::vector<std::string>& problems)
        : inputs_(inputs), out_(out), carrier_(carrier), problems_(problems) {
        uint64_t total = 0;
        for (const PackInput& input : inputs) total += input.size;
        progress_.reset(new Progress(total));
        streams_.resize(inputs.size());
    }

    FileEncoder::Calls calls() {
        FileEncoder::Calls calls;
        calls.open = [this](size_t i, FileEncoder::Source& source) { return open(i, source); };
        calls.begin = [this](size_t i) { return begin(i); };
        calls.records = [this](size_t i, const uint8_t* data, size_t size, uint64_t consumed) {
            return records(i, data, size, consumed);
        };
        calls.end = [this](size_t i) { return end(i); };
        return calls;
    }

private:
    bool open(size_t i, FileEncoder::Source& source) {
        streams_[i].reset(new InputStream(inputs_[i], problems_));
        InputStream* stream = streams_[i].get();
        source.size = inputs_[i].size;
        source.read = [stream](uint8_t* dst, size_t size) { return stream->read(dst, size); };
        return stream->open();
    }

    bool begin(size_t i) {
        entry_ = CarrierEntry();
        entry_.name = inputs_[i].name;
        entry_.offset = out_.size() - carrier_.record.archive_offset;
        stored_ = 0;
        out_.put_name(entry_.name);
        out_.put_placeholder();
        return out_.good();
    }

    bool records(size_t i, const uint8_t* data, size_t size, uint64_t consumed) {
        out_.put(data, size);
        stored_ += size;
        if (stored_ > kLargestStoredSize) {
            problems_.push_back(path_to_utf8(inputs_[i].path) +
                                ": its chunk records pass 4 GiB, more than a stored size holds");
            return false;
        }
        done_ += consumed;
        progress_->show(inputs_[i].name, done_);
        return out_.good();
    }

    bool end(size_t i) {
        streams_[i].reset();
        out_.fill_placeholder(uint32_t(stored_));
        entry_.stored_size = uint32_t(stored_);
        entry_.decoded_size = inputs_[i].size;
        carrier_.entries.push_back(entry_);
        if (verbosity() == Verbosity::kVerbose) print(packed_entry_text(entry_));
        return out_.good();
    }

    const std::vector<PackInput>& inputs_;
    CarrierWriter& out_;
    Carrier& carrier_;
    std::vector<std::string>& problems_;
    std::vector<std::unique_ptr<InputStream>> streams_;  // those opened and not yet written
    std::unique_ptr<Progress> progress_;
    CarrierEntry entry_;  // the one being written
    uint64_t stored_ = 0, done_ = 0;
};

}  // namespace

bool write_carrier(const PackRequest& request, OutputFile& file,
                   const std::vector<uint8_t>& stub, const std::vector<PackInput>& inputs,
                   Carrier& carrier, std::vector<std::string>& problems) {
    CarrierWriter out(file);
    if (!out.good()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    carrier.image_size = stub.size();
    IntegrityRecord& record = carrier.record;
    record.archive_offset = uint32_t(stub.size() + kRecordSize);
    out.put(stub.data(), stub.size());
    const uint8_t blank[kRecordSize] = {};
    out.put(blank, kRecordSize);  // filled in once the archive is summed
    out.start_sum();
    out.put_name(request.launch_name);
    carrier.launch_name = request.launch_name;
    carrier.launch_read = carrier.launch_opens = true;
    {
        EntryWriter entries(inputs, out, carrier, problems);
        FileEncoder encoder(request.greedy ? greedy_encoder_options() : EncoderOptions(),
                            request.threads);
        // A failed write says so below; any other failure has said why.
        if (!encoder.encode(inputs.size(), entries.calls()) && out.good()) return false;
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
    if (!out.good()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    return true;
}
