#include "archive/carrier_integrity.h"

#include "archive/archive_reader.h"

namespace {

// A NUL first byte: no archive begins so (a launch name is read first and an
// unset name is not a carrier), and the rest is unlike any text.
constexpr uint8_t kMagic[8] = {0x00, 'B', 'C', 'R', 'E', 'C', 0x1A, 0x01};
constexpr uint32_t kHeaderProbe = 1024;  // PE headers of our launcher fit well within
constexpr int kCertificateDirectory = 4;
// The archive is checksummed in large reads: a few hundred for 100 MB.
constexpr uint32_t kBlockSize = 256 * 1024;
uint8_t g_block[kBlockSize];

uint32_t u32_at(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint32_t u16_at(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
void put_u32(uint8_t* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[b] = uint8_t(v >> (8 * b));
}

bool read_at(HANDLE file, uint32_t offset, uint8_t* out, uint32_t size, uint32_t* got) {
    return seek_to(file, offset) && read_bytes(file, out, size, got);
}

}  // namespace

namespace {

// Slicing by eight: table k maps a byte to its effect k bytes further on,
// so eight bytes take one step. Built at the first call: stored, the 8 KiB
// would weigh on the launcher's file.
uint32_t g_crc_tables[8][256];
bool g_crc_tables_built;

// Entry i of table k: the register after byte i and k zero bytes.
void build_crc_tables() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            g_crc_tables[k][i] = c;
        }
    }
    g_crc_tables_built = true;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
    if (!g_crc_tables_built) build_crc_tables();
    const uint32_t(&t)[8][256] = g_crc_tables;
    crc = ~crc;
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t low = crc ^ u32_at(data), high = u32_at(data + 4);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
              t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
    for (; size > 0; --size) crc = (crc >> 8) ^ t[0][(crc ^ *data++) & 0xFF];
    return ~crc;
}

void encode_record(const IntegrityRecord& record, uint8_t (&out)[kRecordSize]) {
    for (int i = 0; i < 8; ++i) out[i] = kMagic[i];
    put_u32(out + 8, record.archive_offset);
    put_u32(out + 12, record.archive_length);
    put_u32(out + 16, record.carrier_length);
    put_u32(out + 20, record.archive_crc);
    put_u32(out + 24, crc32_update(0, out, 24));
}

RecordState decode_record(const uint8_t* bytes, IntegrityRecord* record) {
    for (int i = 0; i < 8; ++i)
        if (bytes[i] != kMagic[i]) return RecordState::kAbsent;
    if (u32_at(bytes + 24) != crc32_update(0, bytes, 24)) return RecordState::kCorrupt;
    record->archive_offset = u32_at(bytes + 8);
    record->archive_length = u32_at(bytes + 12);
    record->carrier_length = u32_at(bytes + 16);
    record->archive_crc = u32_at(bytes + 20);
    return RecordState::kValid;
}

bool is_record_prefix(const uint8_t* bytes, uint32_t size) {
    if (size == 0) return false;
    for (uint32_t i = 0; i < size && i < 8; ++i)
        if (bytes[i] != kMagic[i]) return false;
    return true;
}

bool read_carrier_layout(HANDLE file, CarrierLayout* layout) {
    const uint32_t size = seek_end(file);
    uint8_t h[kHeaderProbe];
    uint32_t got = 0;
    if (size == INVALID_SET_FILE_POINTER || !read_at(file, 0, h, kHeaderProbe, &got) ||
        got < 0x40 || u16_at(h) != 0x5A4D)  // "MZ"
        return false;
    // What was read must hold "PE\0\0", the file header and a whole PE32
    // optional header (224 bytes, data directories included).
    const uint32_t pe = u32_at(h + 0x3C);
    const uint32_t optional = pe + 24;
    if (got < 24 + 224 || pe > got - 24 - 224 || u32_at(h + pe) != 0x4550 ||
        u16_at(h + optional) != 0x10B)
        return false;
    const uint32_t table = optional + u16_at(h + pe + 20);
    const uint32_t sections = u16_at(h + pe + 6);
    if (table > got || sections > (got - table) / 40) return false;

    uint32_t image_end = 0;
    for (const uint8_t* section = h + table; section < h + table + sections * 40; section += 40) {
        const uint32_t end = u32_at(section + 20) + u32_at(section + 16);
        if (end < u32_at(section + 20)) return false;  // wraps
        if (end > image_end) image_end = end;
    }
    layout->file_size = layout->content_end = size;
    layout->image_end = image_end;
    layout->cert_offset = layout->cert_size = 0;
    const uint8_t* entry = h + optional + 96 + kCertificateDirectory * 8;
    const uint32_t at = u32_at(entry), length = u32_at(entry + 4);
    // Only a table that ends the file, after the image, moves the end.
    if (u32_at(h + optional + 92) > uint32_t(kCertificateDirectory) && length != 0 &&
        at >= image_end && at <= size && size - at == length) {
        layout->cert_offset = layout->content_end = at;
        layout->cert_size = length;
    }
    return true;
}

Integrity check_integrity(HANDLE file, const CarrierLayout& layout, IntegrityRecord* record) {
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
