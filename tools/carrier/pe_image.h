// The tool's one reader of PE headers (the launcher has its own small one in
// archive/carrier_integrity.cpp; both name the fields by archive/pe_layout.h):
// a PE32 image's headers (or, for a program the carrier opens, a PE32+
// one's) read with every offset checked, whether 32-bit Windows starts it
// at all, and one more section added at its end, as the resource writer
// needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/pe_layout.h"

struct PeSection {
    uint32_t virtual_size = 0, rva = 0, raw_size = 0, raw_offset = 0;
};

struct PeHeaders {
    uint32_t machine = 0;
    uint32_t optional = 0;       // file offset of the optional header
    uint32_t section_table = 0;  // file offset of the section table
    uint32_t directories = 0;    // data directories present
    bool pe32_plus = false;      // a 64-bit image's optional header
    std::vector<PeSection> sections;

    // A data directory's {RVA, size}; {0, 0} when the image has no such entry.
    std::pair<uint32_t, uint32_t> directory(uint32_t index, const uint8_t* image) const;
    // The section holding `rva`, or nullptr.
    const PeSection* section_at(uint32_t rva) const;
};

// Where add_section moves the PE headers when they have no room for another
// section header: right after the DOS header, over the DOS stub.
constexpr uint32_t kMovedPeHeader = kDosHeaderSize;

inline uint64_t align_up(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// How many bytes from a file's start the tool reads for its headers.
constexpr size_t kPeHeaderRead = 4096;

// The headers of a PE32 image (or with pe32_plus_too, a PE32+ one) whose
// first `size` bytes are at `image`; "" or why they are not readable ones.
std::string read_pe_headers(const uint8_t* image, size_t size, PeHeaders& headers,
                            bool pe32_plus_too = false);

// Why a file of `file_size` bytes, whose first `size` bytes are at `image`,
// is not a program 32-bit Windows starts (an MZ header leading to a PE
// header for i386), or "" when it is one.
std::string stub_problem(const uint8_t* image, size_t size, uint64_t file_size);

// Where add_section places a section added after an image's last one, and
// what it makes of the headers' sizes. pack places it so, and the identity
// check expects it there.
struct SectionPlace {
    uint64_t data_end = 0;    // where the sections' data end
    uint64_t raw_offset = 0;  // the new section's data: data_end, file-aligned
    uint64_t rva = 0;         // after every section and SizeOfImage, section-aligned
    uint32_t file_alignment = 0, section_alignment = 0;

    // The new section's size in the file, and the image's size with it,
    // for `data_size` bytes of content.
    uint64_t raw_size(uint64_t data_size) const { return align_up(data_size, file_alignment); }
    uint64_t image_size(uint64_t data_size) const { return align_up(rva + data_size, section_alignment); }
};
// The place for the image at `image` whose headers are `headers`. The
// alignments are as the headers give them: add_section checks them.
SectionPlace added_section_place(const PeHeaders& headers, const uint8_t* image);

// A section header's 40 bytes, at `header`.
void write_section_header(uint8_t* header, const char (&name)[8], uint32_t virtual_size, uint32_t rva,
                          uint32_t raw_size, uint32_t raw_offset, uint32_t characteristics);

// Adds a section at the end of `image` (its raw data last in the file),
// filled by `content` for the RVA it gets, and points data directory
// `directory` at it. Updates the section count, the image and initialized
// data sizes and, when the image has one, the checksum. The new section
// header must end within the first `header_limit` bytes. "" when done, else
// why it cannot be, `image` then unchanged.
std::string add_section(std::vector<uint8_t>& image, const char (&name)[8], uint32_t characteristics,
                        uint32_t directory, uint32_t header_limit,
                        const std::function<std::vector<uint8_t>(uint32_t rva)>& content);

// The PE checksum of an image, the checksum field itself taken as zero.
uint32_t pe_checksum(const std::vector<uint8_t>& image, size_t checksum_at);
