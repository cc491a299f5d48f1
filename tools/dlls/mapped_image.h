// A PE image's bytes by RVA, as the loader maps them, read through
// ImageBytes where a table points: the headers, then each section's raw
// data, zeros up to its virtual size. The readers of a program's and a
// DLL's tables share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/carrier/pe_image.h"

class ImageBytes;

constexpr size_t kLongestDllName = 255;  // Windows' longest file name

class MappedImage {
public:
    explicit MappedImage(ImageBytes& image) : image_(image) {}

    // Reads the headers; "" or why they are not a PE image's.
    std::string open();

    const PeHeaders& headers() const { return headers_; }
    uint16_t characteristics() const { return characteristics_; }
    uint8_t linker_major() const { return linker_major_; }
    // A data directory's {RVA, size}.
    std::pair<uint32_t, uint32_t> directory(uint32_t index) const { return headers_.directory(index, head_); }

    // Copies n bytes from `rva`; returns how many it could give, *why says why not all.
    size_t read(uint64_t rva, uint8_t* out, size_t n, std::string* why);
    // A NUL-ended name at `rva` of at most `longest` characters.
    bool read_name(uint64_t rva, size_t longest, std::string& name, std::string* why);
    // A delay-load descriptor without its "RVA" attribute holds addresses.
    bool to_rva(uint64_t value, bool addresses, uint64_t* rva) const;

private:
    ImageBytes& image_;
    uint8_t head_[kPeHeaderRead] = {};
    PeHeaders headers_;
    uint16_t characteristics_ = 0;
    uint8_t linker_major_ = 0;
    uint64_t headers_size_ = 0;
    uint64_t image_base_ = 0;
};
