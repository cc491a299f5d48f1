// A PE32 image in memory: its headers read with every offset checked, and
// one more section added at its end, as the resource writer needs.
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
    uint32_t optional = 0;       // file offset of the optional header
    uint32_t section_table = 0;  // file offset of the section table
    uint32_t directories = 0;    // data directories present
    std::vector<PeSection> sections;

    // A data directory's {RVA, size}; {0, 0} when the image has no such entry.
    std::pair<uint32_t, uint32_t> directory(uint32_t index, const uint8_t* image) const;
    // The section holding `rva`, or nullptr.
    const PeSection* section_at(uint32_t rva) const;
};

constexpr uint32_t kResourceDirectory = 2;

// The headers of a PE32 image whose first `size` bytes are at `image`;
// "" or why they are not readable ones.
std::string read_pe_headers(const uint8_t* image, size_t size, PeHeaders& headers);

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
