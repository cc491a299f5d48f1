#include "archive/carrier_integrity.h"

#include "archive/archive_reader.h"
#include "archive/pe_layout.h"

namespace {

// The archive is checksummed in large reads: a few hundred for 100 MB.
constexpr uint32_t kBlockSize = 256 * 1024;
uint8_t g_block[kBlockSize];

bool read_at(CarrierFile file, uint32_t offset, uint8_t* out, uint32_t size, uint32_t* got) {
    return seek_to(file, offset) && read_bytes(file, out, size, got);
}

}  // namespace

bool read_carrier_layout(CarrierFile file, CarrierLayout* layout) {
    const uint32_t size = seek_end(file);
    uint8_t h[kHeaderProbe];
    uint32_t got = 0;
    if (size == kSeekFailed || !read_at(file, 0, h, kHeaderProbe, &got) ||
        got < kDosHeaderSize || le16(h) != kMzSignature)
        return false;
    // What was read must hold "PE\0\0", the file header and a whole PE32
    // optional header (data directories included).
    const uint32_t pe = le32(h + kLfanewAt);
    const uint32_t optional = pe + kCoffHeaderSize;
    constexpr uint32_t kPeHeaders = kCoffHeaderSize + kPe32OptionalSize;
    if (got < kPeHeaders || pe > got - kPeHeaders || le32(h + pe) != kPeSignature ||
        le16(h + optional) != kPe32)
        return false;
    const uint32_t table = optional + le16(h + pe + kOptionalSizeAt);
    const uint32_t sections = le16(h + pe + kSectionCountAt);
    if (table > got || sections > (got - table) / kSectionHeader) return false;

    uint32_t image_end = 0;
    for (const uint8_t* section = h + table; section < h + table + sections * kSectionHeader;
         section += kSectionHeader) {
        const uint32_t end = le32(section + kSectionRawOffset) + le32(section + kSectionRawSize);
        if (end < le32(section + kSectionRawOffset)) return false;  // wraps
        if (end > image_end) image_end = end;
    }
    layout->file_size = layout->content_end = size;
    layout->image_end = image_end;
    layout->cert_offset = layout->cert_size = 0;
    const uint8_t* entry = h + optional + kDirectories + kCertificateDirectory * kDataDirectorySize;
    const uint32_t at = le32(entry), length = le32(entry + 4);
    // Only a table that ends the file, after the image, moves the end.
    if (le32(h + optional + kDirectoryCount) > kCertificateDirectory && length != 0 &&
        at >= image_end && at <= size && size - at == length) {
        layout->cert_offset = layout->content_end = at;
        layout->cert_size = length;
    }
    return true;
}

Integrity check_integrity(CarrierFile file, const CarrierLayout& layout, IntegrityRecord* record) {
    if (layout.content_end < layout.image_end) return Integrity::kTruncated;  // cut in the image
    uint8_t bytes[kRecordSize];
    const uint32_t room = layout.content_end - layout.image_end;
    uint32_t got = 0;
    if (!read_at(file, layout.image_end, bytes, room < kRecordSize ? room : kRecordSize, &got))
        return Integrity::kTruncated;
    // Nothing after the image, or the start of a record cut short.
    if (room == 0) return Integrity::kTruncated;
    if (got < kRecordSize) return is_record_prefix(bytes, got) ? Integrity::kTruncated
                                                                : Integrity::kNoRecord;
    const RecordState state = decode_record(bytes, record);
    if (state == RecordState::kAbsent) return Integrity::kNoRecord;
    if (state == RecordState::kCorrupt) return Integrity::kDamaged;
    if (record->carrier_length != layout.content_end ||
        record->archive_offset != layout.image_end + kRecordSize ||
        record->archive_length > layout.content_end - record->archive_offset ||
        layout.content_end - record->archive_offset - record->archive_length != 4)
        return Integrity::kTruncated;

    uint32_t crc = 0;
    if (!seek_to(file, record->archive_offset)) return Integrity::kTruncated;
    for (uint32_t left = record->archive_length; left > 0;) {
        const uint32_t want = left < kBlockSize ? left : kBlockSize;
        if (!read_exact(file, g_block, want)) return Integrity::kTruncated;
        crc = crc32_update(crc, g_block, want);
        left -= want;
    }
    // The trailer lies outside the checksum: it must name the archive too.
    uint32_t trailer = 0;
    if (!read_u32(file, &trailer)) return Integrity::kTruncated;
    if (trailer != record->archive_offset) return Integrity::kDamaged;
    return crc == record->archive_crc ? Integrity::kIntact : Integrity::kDamaged;
}
