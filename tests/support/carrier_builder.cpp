#include "tests/support/carrier_builder.h"

#include "archive/carrier_integrity.h"
#include "tests/support/test_data.h"

namespace {

// CRC-32 as defined, a bit at a time, for the record the tests expect: it
// holds courier-pack's and the launcher's table-driven one to the definition.
constexpr uint32_t plain_crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}
constexpr uint8_t kCheckDigits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
static_assert(plain_crc32(kCheckDigits, 9) == 0xCBF43926u, "the standard check value");

}  // namespace

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(value >> (8 * b)));
}

void append_name(std::vector<uint8_t>& out, const std::string& name) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
}

bool append_entry(std::vector<uint8_t>& out, const std::string& name, const uint8_t* data,
                  size_t size, const EncoderOptions& options) {
    const size_t start = out.size();
    append_name(out, name);
    const size_t size_at = out.size();
    append_u32(out, 0);
    const size_t stored = append_chunk_records(data, size, options, out);
    if (stored > 0xFFFFFFFFu) {
        out.resize(start);
        return false;
    }
    for (int b = 0; b < 4; ++b) out[size_at + b] = static_cast<uint8_t>(stored >> (8 * b));
    return true;
}

void append_overflowing_entry(std::vector<uint8_t>& out, const std::string& name) {
    append_name(out, name);
    append_u32(out, 4 + 2048);
    append_u32(out, 2048);
    out.resize(out.size() + 2048, 0x7F);
}

std::vector<uint8_t> chunk_record(const std::vector<uint8_t>& body) {
    std::vector<uint8_t> out;
    append_u32(out, uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::vector<uint8_t> archive_of(const std::string& launch, const std::vector<ArchiveEntry>& entries,
                                const EncoderOptions& options, const std::vector<uint8_t>& tail) {
    std::vector<uint8_t> out;
    append_name(out, launch);
    for (const ArchiveEntry& entry : entries)
        append_entry(out, entry.name, entry.data.data(), entry.data.size(), options);
    out.insert(out.end(), tail.begin(), tail.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> one_entry_archive(const std::string& launch, const std::string& name,
                                       uint32_t stored_size, const std::vector<uint8_t>& records) {
    std::vector<uint8_t> out;
    append_name(out, launch);
    append_name(out, name);
    append_u32(out, stored_size);
    out.insert(out.end(), records.begin(), records.end());
    out.push_back(0);
    return out;
}

std::vector<uint8_t> with_trailer(std::vector<uint8_t> bytes, uint32_t trailer) {
    append_u32(bytes, trailer);
    return bytes;
}

std::vector<uint8_t> carrier_of(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& archive) {
    std::vector<uint8_t> out(stub);
    out.insert(out.end(), archive.begin(), archive.end());
    append_u32(out, static_cast<uint32_t>(stub.size()));
    return out;
}

std::vector<uint8_t> build_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                   const std::vector<ArchiveEntry>& entries,
                                   const EncoderOptions& options) {
    return carrier_of(stub, archive_of(launch_name, entries, options));
}

std::vector<uint8_t> carrier_around(const std::vector<uint8_t>& archive, size_t stub_size) {
    return carrier_of(fake_stub(stub_size), archive);
}

std::vector<uint8_t> packed_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                    const std::vector<ArchiveEntry>& entries,
                                    const EncoderOptions& options) {
    std::vector<uint8_t> archive = archive_of(launch_name, entries, options);
    while ((stub.size() + kRecordSize + archive.size() + 4) % 8) archive.push_back(0);
    IntegrityRecord record;
    record.archive_offset = uint32_t(stub.size() + kRecordSize);
    record.archive_length = uint32_t(archive.size());
    record.carrier_length = uint32_t(record.archive_offset + archive.size() + 4);
    record.archive_crc = plain_crc32(archive.data(), archive.size());
    uint8_t bytes[kRecordSize];
    encode_record(record, bytes);
    std::vector<uint8_t> out(stub);
    out.insert(out.end(), bytes, bytes + kRecordSize);
    out.insert(out.end(), archive.begin(), archive.end());
    append_u32(out, record.archive_offset);
    return out;
}

std::vector<uint8_t> signed_copy(std::vector<uint8_t> carrier, size_t table_size) {
    const size_t at = carrier.size();
    std::vector<uint8_t> table = random_bytes(table_size, 77);
    for (int b = 0; b < 4; ++b) table[b] = uint8_t(table_size >> (8 * b));  // WIN_CERTIFICATE length
    table[4] = 0x00, table[5] = 0x02, table[6] = 0x02, table[7] = 0x00;       // revision, PKCS#7
    carrier.insert(carrier.end(), table.begin(), table.end());
    set_directory(carrier, PeDirectory::kCertificates, uint32_t(at), uint32_t(table_size));
    return carrier;
}
