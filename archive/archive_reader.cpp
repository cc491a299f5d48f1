#include "archive/archive_reader.h"

bool read_exact(CarrierFile file, void* buffer, uint32_t size) {
    uint32_t got = 0;
    return read_bytes(file, buffer, size, &got) && got == size;
}

bool locate_archive(CarrierFile file) {
    const uint32_t size = seek_end(file);
    return size != kSeekFailed && locate_archive_before(file, size);
}

bool locate_archive_before(CarrierFile file, uint32_t end) {
    if (end < 4 || end == 0xFFFFFFFFu) return false;
    // The trailer's own position may pass 2^31.
    const uint32_t trailer_at = end - 4;
    uint32_t offset = 0;
    if (!seek_to(file, trailer_at) || !read_u32(file, &offset)) return false;
    // The offset is a signed distance from the start, and the archive lies
    // before its trailer.
    if (offset >= 0x80000000u || offset >= trailer_at) return false;
    return seek_to(file, offset);
}

bool read_name(CarrierFile file, char (&buffer)[kNameCapacity]) {
    for (int32_t i = 0; i < kNameCapacity; ++i) {
        if (!read_exact(file, &buffer[i], 1)) {
            buffer[i] = '\0';
            return false;
        }
        if (buffer[i] == '\0') return true;
    }
    buffer[kNameCapacity - 1] = '\0';
    return false;
}

bool read_u32(CarrierFile file, uint32_t* value) {
    uint8_t bytes[4];
    if (!read_exact(file, bytes, 4)) return false;
    *value = le32(bytes);
    return true;
}

bool read_chunk_record(CarrierFile file, uint8_t (&buffer)[kChunkInputCapacity], uint32_t* delivered) {
    *delivered = 0;
    uint32_t length = 0;
    if (!read_u32(file, &length) || length > uint32_t(kChunkInputCapacity)) return false;
    return length == 0 || read_bytes(file, buffer, length, delivered);
}
