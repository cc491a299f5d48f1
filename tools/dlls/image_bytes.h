// A program's file read at any offset: the file itself when pack reads an
// input, an archived entry decoded where the reads fall when verify reads
// one (tools/reading/entry_bytes.h). Readers of a program go through it, a
// few bytes at a time where its headers point, so a program of hundreds of
// MB is never held whole.
#pragma once

#include <cstddef>
#include <cstdint>

class InputFile;

class ImageBytes {
public:
    virtual ~ImageBytes() = default;
    virtual uint64_t size() const = 0;
    // Copies up to n bytes from `offset`; returns how many: fewer only at
    // the end, or where the bytes cannot be had (a read error).
    virtual size_t read(uint64_t offset, uint8_t* out, size_t n) = 0;
};

// A file as it is on disk.
class FileBytes final : public ImageBytes {
public:
    explicit FileBytes(InputFile& file);
    uint64_t size() const override { return size_; }
    size_t read(uint64_t offset, uint8_t* out, size_t n) override;

private:
    InputFile& file_;
    uint64_t size_;
};
