#include "archive/carrier_file_win32.h"

// In the launcher the readers call these three themselves; elsewhere
// Win32Carrier does.
#ifdef BRISK_LAUNCHER_STUB
#define BRISK_HANDLE_SERVICE(name) name
#else
#define BRISK_HANDLE_SERVICE(name) handle_##name
namespace {
#endif

bool BRISK_HANDLE_SERVICE(seek_to)(HANDLE file, uint32_t offset) {
    // With the high half given, the offset is unsigned: carriers up to 4 GiB.
    LONG high = 0;
    return SetFilePointer(file, LONG(offset), &high, FILE_BEGIN) == offset && high == 0;
}

uint32_t BRISK_HANDLE_SERVICE(seek_end)(HANDLE file) { return SetFilePointer(file, 0, nullptr, FILE_END); }

bool BRISK_HANDLE_SERVICE(read_bytes)(HANDLE file, void* buffer, uint32_t size, uint32_t* got) {
    DWORD delivered = 0;
    const bool ok = ReadFile(file, buffer, size, &delivered, nullptr) != 0;
    *got = delivered;
    return ok;
}

#ifndef BRISK_LAUNCHER_STUB
}  // namespace

bool Win32Carrier::seek_to(uint32_t offset) { return handle_seek_to(handle, offset); }
uint32_t Win32Carrier::seek_end() { return handle_seek_end(handle); }
bool Win32Carrier::read_bytes(void* buffer, uint32_t size, uint32_t* got) {
    return handle_read_bytes(handle, buffer, size, got);
}
#endif
