#include "archive/carrier_file.h"

#include "platform/platform.h"

bool seek_to(CarrierFile file, uint32_t offset) {
    // With the high half given, the offset is unsigned: carriers up to 4 GiB.
    LONG high = 0;
    return SetFilePointer(file, LONG(offset), &high, FILE_BEGIN) == offset && high == 0;
}

uint32_t seek_end(CarrierFile file) { return SetFilePointer(file, 0, nullptr, FILE_END); }

bool read_bytes(CarrierFile file, void* buffer, uint32_t size, uint32_t* got) {
    DWORD delivered = 0;
    const bool ok = ReadFile(file, buffer, size, &delivered, nullptr) != 0;
    *got = delivered;
    return ok;
}
