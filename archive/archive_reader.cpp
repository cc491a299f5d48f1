#include "archive/archive_reader.h"

bool locate_archive(HANDLE file) {
    const DWORD size = SetFilePointer(file, 0, nullptr, FILE_END);
    return size != INVALID_SET_FILE_POINTER && locate_archive_before(file, size);
}

bool locate_archive_before(HANDLE file, uint32_t end) {
    if (end < 4 || end == 0xFFFFFFFFu) return false;
    // Carriers up to 4 GiB: the trailer's own position may pass 2^31.
    const uint32_t trailer_at = end - 4;
    LONG high = 0;
    if (SetFilePointer(file, LONG(trailer_at), &high, FILE_BEGIN) != trailer_at || high != 0)
        return false;
    uint32_t offset = 0;
    if (!read_u32(file, &offset)) return false;
    // The offset is a signed distance from the start, and the archive lies
    // before its trailer.
    if (offset >= 0x80000000u || offset >= trailer_at) return false;
    return SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == offset;
}

bool read_name(HANDLE file, char (&buffer)[kNameCapacity]) {
    for (int32_t i = 0; i < kNameCapacity; ++i) {
        DWORD got = 0;
        if (!ReadFile(file, &buffer[i], 1, &got, nullptr) || got != 1) {
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
    DWORD got = 0;
    if (!ReadFile(file, bytes, 4, &got, nullptr) || got != 4) return false;
    *value = uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
             uint32_t(bytes[3]) << 24;
    return true;
}

bool read_chunk_record(HANDLE file, uint8_t (&buffer)[kChunkInputCapacity], uint32_t* delivered) {
    *delivered = 0;
    uint32_t length = 0;
    if (!read_u32(file, &length) || length > uint32_t(kChunkInputCapacity)) return false;
    if (length == 0) return true;
    DWORD got = 0;
    if (!ReadFile(file, buffer, length, &got, nullptr)) return false;
    *delivered = got;
    return true;
}
