#include "archive/carrier_integrity.h"

#include "archive/format_rules.h"

namespace {

// A NUL first byte: no archive begins so (a launch name is read first and an
// unset name is not a carrier), and the rest is unlike any text.
constexpr uint8_t kMagic[8] = {0x00, 'B', 'C', 'R', 'E', 'C', 0x1A, 0x01};

void put_u32(uint8_t* p, uint32_t v) {
    for (int b = 0; b < 4; ++b) p[b] = uint8_t(v >> (8 * b));
}

}  // namespace

namespace {

#ifdef BRISK_LAUNCHER_STUB
// The launcher's: a byte a step through one table, a quarter of the code
// of the tool's eight and fast enough beside decoding.
constexpr int kCrcTables = 1;
#else
// Slicing by eight: table k maps a byte to its effect k bytes further on,
// so eight bytes take one step.
constexpr int kCrcTables = 8;
#endif
// Built at the first call: stored, the tables would weigh on the
// launcher's file.
uint32_t g_crc_tables[kCrcTables][256];
bool g_crc_tables_built;

// Entry i of table k: the register after byte i and k zero bytes.
void build_crc_tables() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < kCrcTables; ++k) {
            for (int bit = 0; bit < 8; ++bit) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            g_crc_tables[k][i] = c;
        }
    }
    g_crc_tables_built = true;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
    if (!g_crc_tables_built) build_crc_tables();
    const uint32_t(&t)[kCrcTables][256] = g_crc_tables;
    crc = ~crc;
#ifndef BRISK_LAUNCHER_STUB
    for (; size >= 8; size -= 8, data += 8) {
        const uint32_t low = crc ^ le32(data), high = le32(data + 4);
        crc = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^
              t[4][low >> 24] ^ t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^
              t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    }
#endif
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
    if (le32(bytes + 24) != crc32_update(0, bytes, 24)) return RecordState::kCorrupt;
    record->archive_offset = le32(bytes + 8);
    record->archive_length = le32(bytes + 12);
    record->carrier_length = le32(bytes + 16);
    record->archive_crc = le32(bytes + 20);
    return RecordState::kValid;
}

bool is_record_prefix(const uint8_t* bytes, uint32_t size) {
    if (size == 0) return false;
    for (uint32_t i = 0; i < size && i < 8; ++i)
        if (bytes[i] != kMagic[i]) return false;
    return true;
}
