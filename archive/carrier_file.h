// The file a carrier is read from, and the three services every reader of
// it goes through (the archive walk and the integrity check alike).
#pragma once

#include <cstdint>

constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;

#ifdef BRISK_LAUNCHER_STUB
// The launcher's own build of the readers: a Win32 file handle, read by
// archive/carrier_file_win32.cpp, which its link folds into the readers.
using CarrierFile = void*;
#else
// Everywhere else the readers are built once (the brisk_archive library)
// and read whatever can seek and read: the tool's InputFile, or the
// launcher's run over a Win32 handle in the tests.
class CarrierSource {
public:
    virtual bool seek_to(uint32_t offset) = 0;
    virtual uint32_t seek_end() = 0;
    virtual bool read_bytes(void* buffer, uint32_t size, uint32_t* got) = 0;

protected:
    ~CarrierSource() = default;
};
using CarrierFile = CarrierSource*;

inline bool seek_to(CarrierFile file, uint32_t offset) { return file->seek_to(offset); }
inline uint32_t seek_end(CarrierFile file) { return file->seek_end(); }
inline bool read_bytes(CarrierFile file, void* buffer, uint32_t size, uint32_t* got) {
    return file->read_bytes(buffer, size, got);
}
#endif

#ifdef BRISK_LAUNCHER_STUB
// Moves to `offset` from the start of the file, any offset below 4 GiB.
bool seek_to(CarrierFile file, uint32_t offset);
// The file's size, leaving the position at its end; kSeekFailed on failure.
uint32_t seek_end(CarrierFile file);
// Reads up to `size` bytes; *got is what arrived (fewer at the end of the file).
bool read_bytes(CarrierFile file, void* buffer, uint32_t size, uint32_t* got);
#endif
