#include "tools/resources/ico_file.h"

#include <algorithm>
#include <cstring>

#include "archive/carrier_integrity.h"
#include "tools/system/console.h"
#include "tools/system/le_bytes.h"

namespace {

constexpr size_t kHeader = 6, kEntry = 16;
constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t kLargestIcon = 256;  // pixels a side

// PNG's own fields are big-endian.
uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string size_text(uint32_t width, uint32_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// Bits a pixel for a PNG colour type and depth; 0 for a pair PNG does not allow.
uint32_t png_bits(uint32_t type, uint32_t depth) {
    const bool small = depth == 1 || depth == 2 || depth == 4;
    const bool wide = depth == 8 || depth == 16;
    switch (type) {
    case 0: return small || wide ? depth : 0;  // grey
    case 2: return wide ? 3 * depth : 0;       // RGB
    case 3: return small || depth == 8 ? depth : 0;  // palette
    case 4: return wide ? 2 * depth : 0;       // grey and alpha
    case 6: return wide ? 4 * depth : 0;       // RGBA
    }
    return 0;
}

// Every chunk whole with its CRC, IHDR first, at least one IDAT, then IEND.
std::string png_problem(const std::vector<uint8_t>& png, IconImage& image) {
    size_t at = sizeof kPngSignature;
    bool header = false, data = false;
    while (png.size() - at >= 12) {
        const uint32_t length = be32(&png[at]);
        const uint8_t* type = &png[at + 4];
        if (length > png.size() - at - 12)
            return "PNG chunk '" + std::string(type, type + 4) + "' runs past the image";
        const uint8_t* body = type + 4;
        if (crc32_update(0, type, length + 4) != be32(body + length))
            return "PNG chunk '" + std::string(type, type + 4) + "' fails its CRC";
        auto is = [type](const char* name) { return std::memcmp(type, name, 4) == 0; };
        if (!header) {
            if (!is("IHDR") || length != 13) return "PNG does not start with its IHDR chunk";
            const uint32_t width = be32(body), height = be32(body + 4);
            if (width != image.width || height != image.height)
                return "PNG of " + size_text(width, height) + " where the directory says " +
                       size_text(image.width, image.height);
            const uint32_t bits = png_bits(body[9], body[8]);
            if (bits == 0 || body[10] != 0 || body[11] != 0 || body[12] > 1)
                return "PNG header has an unknown colour type, depth or method";
            if (image.bit_count == 0) image.bit_count = uint16_t(bits);
            header = true;
        } else if (is("IDAT")) {
            data = true;
        } else if (is("IEND")) {
            return data ? "" : "PNG has no image data (IDAT)";
        }
        at += 12 + length;
    }
    return header ? "PNG ends before its IEND chunk" : "PNG too short for its IHDR chunk";
}

// A BITMAPINFOHEADER (or a later version), palette, colour and mask bits.
std::string bmp_problem(const std::vector<uint8_t>& bmp, IconImage& image) {
    if (bmp.size() < 40) return "neither a PNG nor a bitmap (" + std::to_string(bmp.size()) + " bytes)";
    const uint32_t header = le32(&bmp[0]);
    if (header != 40 && header != 108 && header != 124)
        return "neither a PNG nor a bitmap (header size " + std::to_string(header) + ")";
    const uint32_t width = le32(&bmp[4]), height = le32(&bmp[8]);
    if (width != image.width || height != 2 * image.height)
        return "bitmap of " + size_text(width, height) + " where the directory says " +
               size_text(image.width, image.height) + " (an icon bitmap is twice as tall: " +
               "colours, then mask)";
    const uint32_t planes = le16(&bmp[12]), bits = le16(&bmp[14]), compression = le32(&bmp[16]);
    if (planes != 1) return "bitmap with " + std::to_string(planes) + " planes";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return "bitmap of " + std::to_string(bits) + " bits a pixel";
    const bool masks = compression == 3 && (bits == 16 || bits == 32);
    if (compression != 0 && !masks)
        return "bitmap compression " + std::to_string(compression) + " (icons are uncompressed)";
    uint64_t palette = le32(&bmp[32]);
    if (palette == 0 && bits <= 8) palette = 1u << bits;
    if (palette > 256) return "bitmap palette of " + std::to_string(palette) + " colours";
    const uint64_t colour_row = (uint64_t(width) * bits + 31) / 32 * 4;
    const uint64_t mask_row = (uint64_t(width) + 31) / 32 * 4;
    const uint64_t needed = header + palette * 4 + (masks && header == 40 ? 12 : 0) +
                            (colour_row + mask_row) * image.height;
    if (bmp.size() < needed)
        return "bitmap cut short: " + std::to_string(needed) + " bytes needed, " +
               std::to_string(bmp.size()) + " given";
    if (image.planes == 0) image.planes = 1;
    if (image.bit_count == 0) image.bit_count = uint16_t(bits);
    return "";
}

std::string image_name(size_t i, const IconImage& image) {
    return "image " + std::to_string(i + 1) + " (" + size_text(image.width, image.height) + "): ";
}

// Every image after the directory, within the file, apart from every other
// one, and all of them within kLargestIconData: a directory whose entries
// share or overlap their bytes would have each copied into the carrier
// again.
std::string placement_problem(const std::vector<uint8_t>& file, size_t directory_end) {
    struct Span {
        uint64_t offset, size;
        size_t i;
    };
    std::vector<Span> spans;
    uint64_t total = 0;
    for (size_t i = 0; i < (directory_end - kHeader) / kEntry; ++i) {
        const uint8_t* entry = &file[kHeader + i * kEntry];
        IconImage image;
        image.width = entry[0] ? entry[0] : kLargestIcon;
        image.height = entry[1] ? entry[1] : kLargestIcon;
        const uint32_t size = le32(entry + 8), offset = le32(entry + 12);
        const std::string which = image_name(i, image);
        if (size == 0) return which + "empty";
        if (offset < directory_end)
            return which + "starts at offset " + std::to_string(offset) +
                   ", inside the icon directory, which ends at offset " +
                   std::to_string(directory_end);
        if (offset > file.size() || size > file.size() - offset)
            return which + std::to_string(size) + " bytes at offset " + std::to_string(offset) +
                   " lie outside the file's " + std::to_string(file.size()) + " bytes";
        total += size;
        spans.push_back({offset, size, i});
    }
    std::sort(spans.begin(), spans.end(),
              [](const Span& a, const Span& b) { return a.offset < b.offset; });
    for (size_t k = 1; k < spans.size(); ++k)
        if (spans[k].offset < spans[k - 1].offset + spans[k - 1].size)
            return "images " + std::to_string(std::min(spans[k - 1].i, spans[k].i) + 1) + " and " +
                   std::to_string(std::max(spans[k - 1].i, spans[k].i) + 1) +
                   " overlap: each image needs bytes of its own";
    if (total > kLargestIconData)
        return "images of " + std::to_string(total) + " bytes in all: more than " +
               std::to_string(kLargestIconData >> 20) + " MiB";
    return "";
}

}  // namespace

std::string read_ico(const std::vector<uint8_t>& file, std::vector<IconImage>& images) {
    images.clear();
    if (file.size() < kHeader) return "not an .ico file: " + count(file.size(), "byte", "bytes");
    if (le16(&file[0]) != 0 || (le16(&file[2]) != 1 && le16(&file[2]) != 2))
        return "not an .ico file (no icon directory at its start)";
    if (le16(&file[2]) == 2) return "a cursor (.cur), not an icon";
    const size_t count = le16(&file[4]);
    if (count == 0) return "icon directory lists no images";
    const size_t directory_end = kHeader + count * kEntry;
    if (directory_end > file.size())
        return "icon directory of " + std::to_string(count) + " images needs " +
               std::to_string(directory_end) + " bytes, the file has " +
               std::to_string(file.size());
    const std::string placement = placement_problem(file, directory_end);
    if (!placement.empty()) return placement;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* entry = &file[kHeader + i * kEntry];
        IconImage image;
        image.width = entry[0] ? entry[0] : kLargestIcon;
        image.height = entry[1] ? entry[1] : kLargestIcon;
        image.colors = entry[2];
        image.planes = uint16_t(le16(entry + 4));
        image.bit_count = uint16_t(le16(entry + 6));
        const uint32_t size = le32(entry + 8), offset = le32(entry + 12);
        // Each image's bytes are copied once, and only once the file's
        // placement of them all is known sound.
        image.data.assign(file.begin() + offset, file.begin() + offset + size);
        image.png = size >= sizeof kPngSignature &&
                    std::memcmp(image.data.data(), kPngSignature, sizeof kPngSignature) == 0;
        const std::string problem =
            image.png ? png_problem(image.data, image) : bmp_problem(image.data, image);
        if (!problem.empty()) return image_name(i, image) + problem;
        if (image.planes == 0) image.planes = 1;
        images.push_back(std::move(image));
    }
    return "";
}
