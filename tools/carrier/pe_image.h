// The tool's one reader of PE headers (the launcher has its own small one in
// archive/carrier_integrity.cpp): a PE32 image's headers (or, for a program
// the carrier opens, a PE32+ one's) read with every offset checked, whether
// 32-bit Windows starts it at all, and one more section added at its end,
// as the resource writer needs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// Where the DOS header holds the PE header's offset; the sizes of the PE
// signature with the file header, and of a section header.
constexpr uint32_t kLfanewAt = 0x3C, kCoffHeaderSize = 24, kSectionHeader = 40;
// Where add_section moves the PE headers when they have no room for another
// section header: right after the DOS header, over the DOS stub.
constexpr uint32_t kMovedPeHeader = 0x40;
// Optional header fields, from its start.
constexpr uint32_t kInitializedData = 8, kSectionAlignment = 32, kFileAlignment = 36,
                   kSizeOfImage = 56, kSizeOfHeaders = 60, kCheckSum = 64,
                   kDirectoryCount = 92, kDirectories = 96;
// The linker's major and minor version, one byte each.
constexpr uint32_t kMajorLinkerVersion = 2, kMinorLinkerVersion = 3;

inline uint64_t align_up(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kLoadConfigDirectory = 10;
constexpr uint32_t kDelayImportDirectory = 13;

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
