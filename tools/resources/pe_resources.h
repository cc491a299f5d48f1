// The resource section: a directory three levels deep (type, name,
// language), here with numeric IDs only, leading to data entries that give
// each resource's RVA and size, then the resources' bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr uint16_t kIconType = 3, kGroupIconType = 14, kVersionType = 16, kManifestType = 24;
constexpr uint16_t kEnglishUs = 0x0409;

// The section pack adds: its name, and its flags (initialized data, readable).
constexpr char kResourceSectionName[8] = {'.', 'r', 's', 'r', 'c', 0, 0, 0};
constexpr uint32_t kResourceSectionFlags = 0x40000040;

struct Resource {
    uint16_t type = 0, id = 0, language = 0;
    std::vector<uint8_t> data;
};

// The section's bytes when it is placed at `rva`.
std::vector<uint8_t> build_resource_section(const std::vector<Resource>& resources, uint32_t rva);

// The largest resource section list and verify read: pack writes none larger.
constexpr uint32_t kLargestResourceSection = 64u << 20;

// A resource found in a section: where its bytes are, from the section's start.
struct FoundResource {
    uint16_t type = 0, id = 0, language = 0;
    size_t offset = 0, size = 0;
};

// Reads the directory at `directory_rva` of a section whose `size` bytes at
// `section` are mapped at `section_rva`. Entries named by strings are
// skipped. "" or what is wrong with it.
std::string read_resource_section(const uint8_t* section, size_t size, uint32_t section_rva,
                                  uint32_t directory_rva, std::vector<FoundResource>& found);
