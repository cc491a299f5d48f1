#include "archive/archive_reader.h"

bool seek_to(HANDLE file, uint32_t offset) {
    // With the high half given, the offset is unsigned: carriers up to 4 GiB.
    LONG high = 0;
    return SetFilePointer(file, LONG(offset), &high, FILE_BEGIN) == offset && high == 0;
}

uint32_t seek_end(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_END); }

bool read_bytes(HANDLE file, void* buffer, uint32_t size, uint32_t* got) {
    DWORD delivered = 0;
    const bool ok = ReadFile(file, buffer, size, &delivered, nullptr) != 0;
    *got = delivered;
    return ok;
}

bool read_exact(HANDLE file, void* buffer, uint32_t size) {
    uint32_t got = 0;
    return read_bytes(file, buffer, size, &got) && got == size;
}

bool locate_archive(HANDLE file) {
    const uint32_t size = seek_end(file);
    return size != INVALID_SET_FILE_POINTER && locate_archive_before(file, size);
}

bool locate_archive_before(HANDLE file, uint32_t end) {
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

bool read_name(HANDLE file, char (&buffer)[kNameCapacity]) {
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

bool read_u32(HANDLE file, uint32_t* value) {
    uint8_t bytes[4];
    if (!read_exact(file, bytes, 4)) return false;
    *value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
             uint32_t(bytes[3]) << 24;
    return true;
}

bool read_chunk_record(HANDLE file, uint8_t (&buffer)[kChunkInputCapacity], uint32_t* delivered) {
    *delivered = 0;
    uint32_t length = 0;
    if (!read_u32(file, &length) || length > uint32_t(kChunkInputCapacity)) return false;
    return length == 0 || read_bytes(file, buffer, length, delivered);
}
