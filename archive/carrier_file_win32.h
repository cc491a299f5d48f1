// The carrier as the launcher's run reads it: its own file, open through a
// Win32 handle. In the launcher itself the readers take the handle as it is;
// elsewhere (the tests, over Windows or the stand-in) they are the shared
// ones and read it through this adapter.
#pragma once

#include "archive/carrier_file.h"
#include "platform/platform.h"

#ifdef BRISK_LAUNCHER_STUB
struct Win32Carrier {
    explicit Win32Carrier(HANDLE file) : handle(file) {}
    CarrierFile file() const { return handle; }
    HANDLE handle;
};
#else
struct Win32Carrier final : CarrierSource {
    explicit Win32Carrier(HANDLE file) : handle(file) {}
    CarrierFile file() { return this; }
    bool seek_to(uint32_t offset) override;
    uint32_t seek_end() override;
    bool read_bytes(void* buffer, uint32_t size, uint32_t* got) override;
    HANDLE handle;
};
#endif
