#include "tools/carrier/pe_image.h"

#include <algorithm>
#include <cstdio>

#include "tools/system/le_bytes.h"

namespace {

bool power_of_two(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

uint32_t table_end(const PeHeaders& headers) {
    return headers.section_table + uint32_t(headers.sections.size()) * kSectionHeader;
}

// Where the headers' free space ends: the end of the headers, the first
// section's data and `limit`, whichever comes first.
uint64_t header_space(const std::vector<uint8_t>& image, const PeHeaders& headers, uint32_t limit) {
    uint64_t end = std::min<uint64_t>(le32(&image[headers.optional] + kSizeOfHeaders), limit);
    for (const PeSection& s : headers.sections)
        if (s.raw_size != 0) end = std::min<uint64_t>(end, s.raw_offset);
    return std::min<uint64_t>(end, image.size());
}

// Zero bytes after the section table, within the headers' free space.
uint64_t section_header_room(const std::vector<uint8_t>& image, const PeHeaders& headers, uint32_t limit) {
    const uint64_t end = header_space(image, headers, limit);
    uint64_t at = table_end(headers);
    const uint64_t start = at;
    while (at < end && image[size_t(at)] == 0) ++at;
    return at - start;
}

// Windows never runs the DOS stub program between the DOS header and the PE
// headers, so the headers may move down over it to offset 0x40: a link that
// fills its 512 bytes of headers then has room for one more section header.
bool move_headers_down(std::vector<uint8_t>& image, const PeHeaders& headers) {
    const uint32_t pe = headers.optional - kCoffHeaderSize;
    const uint32_t end = table_end(headers);
    if (pe <= kMovedPeHeader) return false;
    std::copy(&image[pe], &image[end], &image[kMovedPeHeader]);
    std::fill(&image[end - (pe - kMovedPeHeader)], &image[end], uint8_t(0));
    set_le32(&image[kLfanewAt], kMovedPeHeader);
    return true;
}

}  // namespace

std::pair<uint32_t, uint32_t> PeHeaders::directory(uint32_t index, const uint8_t* image) const {
    if (index >= directories) return {0, 0};
    const uint8_t* entry =
        image + optional + kDirectories + (pe32_plus ? kPe32PlusShift : 0) + kDataDirectorySize * index;
    return {le32(entry), le32(entry + 4)};
}

const PeSection* PeHeaders::section_at(uint32_t rva) const {
    for (const PeSection& s : sections) {
        const uint32_t span = std::max(s.virtual_size, s.raw_size);
        if (rva >= s.rva && rva - s.rva < span) return &s;
    }
    return nullptr;
}

namespace {

// The MZ header and the PE signature it leads to: "" and the PE header's
// offset in *pe, or why there is none.
std::string find_pe_header(const uint8_t* image, size_t size, uint64_t file_size, uint32_t* pe) {
    if (file_size < kLfanewAt + 4 || size < kLfanewAt + 4)  // the offset's 4 bytes
        return "too small for a DOS header (" + std::to_string(file_size) + " bytes)";
    if (le16(image) != kMzSignature) return "no MZ signature: not a Windows program";
    *pe = le32(image + kLfanewAt);
    if (uint64_t(*pe) + kCoffHeaderSize > file_size)
        return "PE header offset " + std::to_string(*pe) + " lies outside the file";
    if (uint64_t(*pe) + kCoffHeaderSize > size)
        return "PE header offset " + std::to_string(*pe) + " lies past the first " +
               std::to_string(size) + " bytes";
    if (le32(image + *pe) != kPeSignature)
        return "no PE signature at offset " + std::to_string(*pe);
    return "";
}

}  // namespace

std::string stub_problem(const uint8_t* image, size_t size, uint64_t file_size) {
    uint32_t pe = 0;
    const std::string problem = find_pe_header(image, size, file_size, &pe);
    if (!problem.empty()) return problem;
    const uint32_t machine = le16(image + pe + kMachineAt);
    if (machine == kMachineI386) return "";
    char text[80];
    std::snprintf(text, sizeof text, "machine 0x%04X is not i386 (0x%04X)", unsigned(machine), unsigned(kMachineI386));
    return text;
}

std::string read_pe_headers(const uint8_t* image, size_t size, PeHeaders& headers, bool pe32_plus_too) {
    headers = PeHeaders();
    uint32_t pe = 0;
    const std::string problem = find_pe_header(image, size, size, &pe);
    if (!problem.empty()) return problem;
    headers.machine = le16(image + pe + kMachineAt);
    const uint32_t optional_size = le16(image + pe + kOptionalSizeAt);
    headers.optional = pe + kCoffHeaderSize;
    headers.pe32_plus = pe32_plus_too && size - headers.optional >= 2 &&
                        le16(image + headers.optional) == kPe32Plus;
    const uint32_t shift = headers.pe32_plus ? kPe32PlusShift : 0;
    if (optional_size < kDirectories + shift || size - headers.optional < optional_size ||
        le16(image + headers.optional) != (headers.pe32_plus ? kPe32Plus : kPe32))
        return pe32_plus_too ? "no PE32 or PE32+ optional header" : "no PE32 optional header";
    headers.directories = std::min(le32(image + headers.optional + kDirectoryCount + shift),
                                   (optional_size - kDirectories - shift) / kDataDirectorySize);
    headers.section_table = headers.optional + optional_size;
    const uint32_t count = le16(image + pe + kSectionCountAt);
    if ((size - headers.section_table) / kSectionHeader < count) return "section table cut short";
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* h = image + headers.section_table + i * kSectionHeader;
        headers.sections.push_back({le32(h + kSectionVirtualSize), le32(h + kSectionRva), le32(h + kSectionRawSize),
                                    le32(h + kSectionRawOffset)});
    }
    return "";
}

std::string add_section(std::vector<uint8_t>& original, const char (&name)[8], uint32_t characteristics,
                        uint32_t directory, uint32_t header_limit,
                        const std::function<std::vector<uint8_t>(uint32_t rva)>& content) {
    std::vector<uint8_t> image = original;  // `original` changes only on success
    PeHeaders headers;
    const std::string unreadable = read_pe_headers(image.data(), image.size(), headers);
    if (!unreadable.empty()) return unreadable;
    if (section_header_room(image, headers, header_limit) < kSectionHeader &&
        move_headers_down(image, headers))
        read_pe_headers(image.data(), image.size(), headers);
    const SectionPlace place = added_section_place(headers, image.data());
    if (!power_of_two(place.file_alignment) || !power_of_two(place.section_alignment) ||
        place.section_alignment < place.file_alignment)
        return "section and file alignments are not powers of two, the first no less";
    if (directory >= headers.directories) return "the headers have no data directory for it";
    if (headers.directory(directory, image.data()) != std::make_pair(0u, 0u))
        return "the image already has one";

    const uint32_t at = table_end(headers);
    if (section_header_room(image, headers, header_limit) < kSectionHeader)
        return "no room for another section header (the table ends at offset " + std::to_string(at) +
               ", the headers' free space at " + std::to_string(header_space(image, headers, header_limit)) +
               ")";
    if (place.data_end != image.size()) return "its last section does not end the file";

    const std::vector<uint8_t> data = content(uint32_t(place.rva));
    const uint64_t raw_size = place.raw_size(data.size());
    const uint64_t new_image_size = place.image_size(data.size());
    if (data.empty() || new_image_size > 0x7FFFFFFF || place.raw_offset + raw_size > 0x7FFFFFFF)
        return "the image would pass 2 GiB";

    image.resize(size_t(place.raw_offset), 0);
    image.insert(image.end(), data.begin(), data.end());
    image.resize(size_t(place.raw_offset + raw_size), 0);
    uint8_t* optional = &image[headers.optional];
    write_section_header(&image[at], name, uint32_t(data.size()), uint32_t(place.rva), uint32_t(raw_size),
                         uint32_t(place.raw_offset), characteristics);
    const uint32_t pe = headers.optional - kCoffHeaderSize;
    set_le16(&image[pe + kSectionCountAt], uint32_t(headers.sections.size() + 1));
    set_le32(optional + kInitializedData, le32(optional + kInitializedData) + uint32_t(raw_size));
    set_le32(optional + kSizeOfImage, uint32_t(new_image_size));
    set_le32(optional + kDirectories + kDataDirectorySize * directory, uint32_t(place.rva));
    set_le32(optional + kDirectories + kDataDirectorySize * directory + 4, uint32_t(data.size()));
    if (le32(optional + kCheckSum) != 0)
        set_le32(optional + kCheckSum, pe_checksum(image, headers.optional + kCheckSum));
    original.swap(image);
    return "";
}

SectionPlace added_section_place(const PeHeaders& headers, const uint8_t* image) {
    const uint8_t* optional = image + headers.optional;
    SectionPlace place;
    place.file_alignment = le32(optional + kFileAlignment);
    place.section_alignment = le32(optional + kSectionAlignment);
    uint64_t virtual_end = le32(optional + kSizeOfImage);
    for (const PeSection& s : headers.sections) {
        place.data_end = std::max<uint64_t>(place.data_end, uint64_t(s.raw_offset) + s.raw_size);
        virtual_end = std::max<uint64_t>(virtual_end, uint64_t(s.rva) + std::max(s.virtual_size, s.raw_size));
    }
    if (place.file_alignment == 0 || place.section_alignment == 0) return place;  // refused by add_section
    place.raw_offset = align_up(place.data_end, place.file_alignment);
    place.rva = align_up(virtual_end, place.section_alignment);
    return place;
}

void write_section_header(uint8_t* header, const char (&name)[8], uint32_t virtual_size, uint32_t rva,
                          uint32_t raw_size, uint32_t raw_offset, uint32_t characteristics) {
    std::copy(name, name + 8, header);
    set_le32(header + kSectionVirtualSize, virtual_size);
    set_le32(header + kSectionRva, rva);
    set_le32(header + kSectionRawSize, raw_size);
    set_le32(header + kSectionRawOffset, raw_offset);
    set_le32(header + kSectionCharacteristics, characteristics);
}

uint32_t pe_checksum(const std::vector<uint8_t>& image, size_t checksum_at) {
    uint64_t sum = 0;
    for (size_t i = 0; i < image.size(); i += 2) {
        if (i == checksum_at || i == checksum_at + 2) continue;
        sum += image[i] | (i + 1 < image.size() ? uint32_t(image[i + 1]) << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + image.size());
}
