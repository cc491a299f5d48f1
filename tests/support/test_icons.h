// .ico files made by tests, so none is downloaded: bitmap images (colour
// bits, then the mask) and PNG images (RGBA, zlib stored blocks).
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "archive/carrier_integrity.h"

struct TestIcon {
    int size;  // pixels a side, 1 to 256
    int bits;  // bits a pixel; PNG images are 32
    bool png;
};

namespace test_icons {

inline void le(std::vector<uint8_t>& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}
inline void be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; --i) out.push_back(uint8_t(v >> (8 * i)));
}

inline void png_chunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& body) {
    be32(out, uint32_t(body.size()));
    std::vector<uint8_t> typed(type, type + 4);
    typed.insert(typed.end(), body.begin(), body.end());
    out.insert(out.end(), typed.begin(), typed.end());
    be32(out, crc32_update(0, typed.data(), typed.size()));
}

}  // namespace test_icons

// A size x size RGBA PNG whose pixels depend on `seed`.
inline std::vector<uint8_t> png_icon_image(int size, uint32_t seed) {
    using namespace test_icons;
    std::vector<uint8_t> pixels;  // each row: filter 0, then RGBA
    for (int y = 0; y < size; ++y) {
        pixels.push_back(0);
        for (int x = 0; x < size * 4; ++x) pixels.push_back(uint8_t(x * 7 + y * 13 + seed));
    }
    std::vector<uint8_t> zlib = {0x78, 0x01};
    uint32_t a = 1, b = 0;  // Adler-32
    for (size_t at = 0; at < pixels.size();) {
        const size_t n = std::min<size_t>(pixels.size() - at, 65535);
        zlib.push_back(at + n == pixels.size() ? 1 : 0);  // stored block, last or not
        le(zlib, uint32_t(n), 2);
        le(zlib, uint32_t(~n & 0xFFFF), 2);
        for (size_t i = at; i < at + n; ++i) {
            zlib.push_back(pixels[i]);
            a = (a + pixels[i]) % 65521;
            b = (b + a) % 65521;
        }
        at += n;
    }
    be32(zlib, b << 16 | a);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> header;
    be32(header, uint32_t(size));
    be32(header, uint32_t(size));
    header.insert(header.end(), {8, 6, 0, 0, 0});  // 8-bit RGBA, deflate, no interlace
    png_chunk(png, "IHDR", header);
    png_chunk(png, "IDAT", zlib);
    png_chunk(png, "IEND", {});
    return png;
}

// A size x size bitmap image of `bits` a pixel, palette included.
inline std::vector<uint8_t> bmp_icon_image(int size, int bits, uint32_t seed) {
    using namespace test_icons;
    std::vector<uint8_t> bmp;
    const uint32_t colour_row = (uint32_t(size) * bits + 31) / 32 * 4, mask_row = (uint32_t(size) + 31) / 32 * 4;
    le(bmp, 40, 4);
    le(bmp, uint32_t(size), 4);
    le(bmp, uint32_t(size) * 2, 4);  // colours, then the mask
    le(bmp, 1, 2);
    le(bmp, uint32_t(bits), 2);
    le(bmp, 0, 4);  // uncompressed
    le(bmp, (colour_row + mask_row) * uint32_t(size), 4);
    for (int i = 0; i < 4; ++i) le(bmp, 0, 4);
    if (bits <= 8)
        for (int c = 0; c < (1 << bits); ++c) le(bmp, uint32_t(c * 0x010203 + seed) & 0xFFFFFF, 4);
    for (uint32_t i = 0; i < colour_row * uint32_t(size); ++i) bmp.push_back(uint8_t(i * 31 + seed));
    for (uint32_t i = 0; i < mask_row * uint32_t(size); ++i) bmp.push_back(uint8_t(i % 3 ? 0 : 0xF0));
    return bmp;
}

// The .ico file of these images, directory first, images in order.
inline std::vector<uint8_t> ico_file(const std::vector<TestIcon>& icons) {
    using namespace test_icons;
    std::vector<std::vector<uint8_t>> images;
    for (size_t i = 0; i < icons.size(); ++i)
        images.push_back(icons[i].png ? png_icon_image(icons[i].size, uint32_t(i))
                                      : bmp_icon_image(icons[i].size, icons[i].bits, uint32_t(i)));
    std::vector<uint8_t> ico;
    le(ico, 0, 2);
    le(ico, 1, 2);
    le(ico, uint32_t(icons.size()), 2);
    uint32_t offset = 6 + 16 * uint32_t(icons.size());
    for (size_t i = 0; i < icons.size(); ++i) {
        const TestIcon& icon = icons[i];
        ico.push_back(uint8_t(icon.size));  // 256 is written 0
        ico.push_back(uint8_t(icon.size));
        ico.push_back(uint8_t(icon.bits < 8 ? 1 << icon.bits : 0));
        ico.push_back(0);
        le(ico, 1, 2);
        le(ico, uint32_t(icon.png ? 32 : icon.bits), 2);
        le(ico, uint32_t(images[i].size()), 4);
        le(ico, offset, 4);
        offset += uint32_t(images[i].size());
    }
    for (const auto& image : images) ico.insert(ico.end(), image.begin(), image.end());
    return ico;
}
