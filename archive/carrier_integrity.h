// What a carrier is made of beyond the archive: the launcher's own PE image,
// an optional integrity record right after it, and an optional Authenticode
// certificate table that signing appends at the very end.
//
//   [PE image][integrity record][archive][pad][trailer][certificate table]
//
// The trailer still points at the archive's first byte, so readers that
// know nothing of the record skip it. The record lets the launcher refuse a
// truncated or damaged download before it touches anything.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/carrier_file.h"
#include "archive/format_rules.h"

constexpr uint32_t kRecordSize = 28;
// The launcher reads its PE headers, section table included, from this many
// bytes at the file's start.
constexpr uint32_t kHeaderProbe = 1024;
// The archive follows the image and the record, and starts below 2 GiB.
constexpr uint64_t kLargestImageSize = kArchiveOffsetLimit - 1 - kRecordSize;

struct IntegrityRecord {
    uint32_t archive_offset = 0;  // file offset of the archive's first byte
    uint32_t archive_length = 0;  // bytes from there up to the trailer
    uint32_t carrier_length = 0;  // the whole carrier, trailer included, unsigned
    uint32_t archive_crc = 0;     // CRC-32 of the archive_length bytes
};

// Record bytes: magic (8), the four fields (little-endian), then a CRC-32 of
// the 24 bytes before it.
void encode_record(const IntegrityRecord& record, uint8_t (&out)[kRecordSize]);
enum class RecordState { kAbsent, kValid, kCorrupt };
// kAbsent without the magic; kCorrupt when the record's own checksum fails.
RecordState decode_record(const uint8_t* bytes, IntegrityRecord* record);
// True when `bytes` (fewer than kRecordSize) could be the start of a record.
bool is_record_prefix(const uint8_t* bytes, uint32_t size);

// CRC-32 (IEEE, reflected); start with crc32_update(0, ...) and chain.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);

struct CarrierLayout {
    uint32_t file_size = 0;
    uint32_t image_end = 0;    // end of the last section's raw data
    uint32_t content_end = 0;  // where the certificate table starts, else file_size
    uint32_t cert_offset = 0;  // 0 when unsigned
    uint32_t cert_size = 0;
};

// Reads the PE headers at the start of file. False when they are not those
// of a PE image (then the carrier is taken as the plain layout).
bool read_carrier_layout(CarrierFile file, CarrierLayout* layout);

enum class Integrity {
    kNoRecord,    // a carrier made without one: nothing to check
    kIntact,
    kTruncated,   // shorter (or longer) than it was made
    kDamaged,     // the archive's checksum, or the record's own, does not match
};

// Checks the record after the image, reading the archive once.
Integrity check_integrity(CarrierFile file, const CarrierLayout& layout, IntegrityRecord* record);
