#include "tests/support/stub_builder.h"

#include "archive/format_rules.h"

#include <algorithm>
#include <cstring>

namespace {

void put_u16(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    out[at] = uint8_t(value), out[at + 1] = uint8_t(value >> 8);
}
void put_u32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    put_u16(out, at, value & 0xFFFF), put_u16(out, at + 2, value >> 16);
}

constexpr uint32_t kHeaders = 0x200, kPe = 0x40, kOptional = kPe + 24, kSection = kOptional + 224;

}  // namespace

std::vector<uint8_t> fake_stub(size_t size) {
    std::vector<uint8_t> stub(size, 0xCC);
    stub[0] = 'M', stub[1] = 'Z';
    return stub;
}

std::vector<uint8_t> minimal_pe_stub(size_t size) {
    if (size <= kHeaders) return {};
    std::vector<uint8_t> image(size, 0);
    image[0] = 'M', image[1] = 'Z';
    put_u32(image, 0x3C, kPe);
    image[kPe] = 'P', image[kPe + 1] = 'E';
    put_u16(image, kPe + 4, 0x14C);     // i386
    put_u16(image, kPe + 6, 1);         // one section
    put_u16(image, kPe + 20, 224);      // optional header size
    put_u16(image, kPe + 22, 0x0102);   // executable, 32-bit
    put_u16(image, kOptional, 0x10B);   // PE32
    put_u32(image, kOptional + 16, 0x1000);  // entry point
    put_u32(image, kOptional + 28, 0x400000);  // image base
    put_u32(image, kOptional + 32, 0x1000);  // section alignment
    put_u32(image, kOptional + 36, 0x200);   // file alignment
    put_u16(image, kOptional + 40, 4), put_u16(image, kOptional + 48, 4);  // OS, subsystem 4.0
    const uint32_t raw = uint32_t(size) - kHeaders;
    put_u32(image, kOptional + 56, 0x1000 + ((raw + 0xFFF) & ~0xFFFu));  // image size
    put_u32(image, kOptional + 60, kHeaders);
    put_u16(image, kOptional + 68, 2);  // GUI
    put_u32(image, kOptional + 92, 16);  // data directories
    std::memcpy(&image[kSection], ".text", 5);
    put_u32(image, kSection + 8, raw);
    put_u32(image, kSection + 12, 0x1000);
    put_u32(image, kSection + 16, raw);
    put_u32(image, kSection + 20, kHeaders);
    put_u32(image, kSection + 36, 0x60000020);  // code, execute, read
    // Code, then the zeros a linker pads the last section with.
    std::fill(image.begin() + kHeaders, image.end() - std::min<size_t>(raw, 64), 0xCC);
    // The launcher's folder name, by which pack knows a launcher.
    if (raw >= 64 + sizeof kFolderName) std::memcpy(&image[kHeaders], kFolderName, sizeof kFolderName - 1);
    return image;
}

namespace {

// The optional header's offset, through the PE header's.
size_t optional_header(const std::vector<uint8_t>& image) {
    return size_t(image[0x3C] | image[0x3D] << 8 | image[0x3E] << 16 | uint32_t(image[0x3F]) << 24) + 24;
}

}  // namespace

void set_directory(std::vector<uint8_t>& image, PeDirectory entry, uint32_t at, uint32_t size) {
    const size_t offset = optional_header(image) + 96 + 8 * size_t(entry);
    put_u32(image, offset, at);
    put_u32(image, offset + 4, size);
}

void set_directory_count(std::vector<uint8_t>& image, uint32_t count) {
    put_u32(image, optional_header(image) + 92, count);
}

std::vector<uint8_t> pe_header_stub(uint16_t machine, uint32_t lfanew, size_t size) {
    std::vector<uint8_t> stub(size, 0);
    stub[0] = 'M', stub[1] = 'Z';
    for (int b = 0; b < 4 && 0x3C + b < int(size); ++b) stub[0x3C + b] = uint8_t(lfanew >> (8 * b));
    if (lfanew + 6 <= size) {
        stub[lfanew] = 'P', stub[lfanew + 1] = 'E';
        stub[lfanew + 4] = uint8_t(machine), stub[lfanew + 5] = uint8_t(machine >> 8);
    }
    if (size >= 0x300) std::memcpy(&stub[0x200], kFolderName, sizeof kFolderName - 1);  // a launcher's mark
    return stub;
}
