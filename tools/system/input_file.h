// A file the tool reads: carriers, stubs, icons, manifests and the files it
// packs. POSIX on Linux, the wide Win32 services on Windows: names are taken
// exactly as spelt (no letter-case lookups), and any path the system can
// open works, also one the ANSI code page cannot spell.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/carrier_file.h"

// What writing to a file changes, as the system records it: its size, the
// time of its last write and of its last change (data or attributes).
struct FileStamp {
    uint64_t size = 0, written = 0, changed = 0;
    bool operator==(const FileStamp& other) const {
        return size == other.size && written == other.written && changed == other.changed;
    }
};

class InputFile final : private CarrierSource {
public:
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // False when the file could not be opened; error() then says why, in
    // the system's words.
    bool is_open() const;
    const std::string& error() const { return error_; }

    // The size, or UINT64_MAX when the system cannot tell.
    uint64_t size();
    // False when the system cannot tell.
    bool stamp(FileStamp& stamp);
    bool seek(uint64_t offset);
    uint64_t position();
    // Reads up to `size` bytes at the current position; *got is what arrived.
    bool read(void* buffer, size_t size, size_t* got);
    // Reads exactly `size` bytes at `offset`.
    bool read_at(uint64_t offset, void* buffer, size_t size);
    // The file's first bytes (up to kHeadSize; fewer in a shorter file, none
    // when they cannot be read), read once when first asked for. Reads that
    // fall in them are served from them from then on, so the several
    // readers of a program's headers read them from the system once.
    const std::vector<uint8_t>& head();
    static constexpr size_t kHeadSize = 64 * 1024;

    // For the archive reader and the integrity check.
    CarrierFile carrier() { return this; }

private:
    // CarrierSource, as the launcher's: sizes from 4 GiB on are no carrier's.
    bool seek_to(uint32_t offset) override { return seek(offset); }
    uint32_t seek_end() override;
    bool read_bytes(void* buffer, uint32_t size, uint32_t* got) override;

    // The system's calls, unbuffered.
    bool raw_seek(uint64_t offset);
    bool raw_read(void* buffer, size_t size, size_t* got);

#ifdef _WIN32
    void* handle_;
#else
    int fd_;
#endif
    std::string error_;
    // Small reads (the archive's names come a byte at a time) are served
    // from a block read ahead: a system call each would cost seconds on a
    // carrier of millions of entries.
    std::vector<uint8_t> ahead_;
    size_t ahead_at_ = 0;    // next unread byte in ahead_
    uint64_t position_ = 0;  // where the next read starts
    std::vector<uint8_t> head_;
    bool head_read_ = false;
    // The system's position is not position_: a read in head_ moved only that.
    bool raw_behind_ = false;
};
