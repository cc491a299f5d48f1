// .ico files: a directory of images, each a PNG or a BMP without its file
// header. Everything Windows needs to draw them is checked here, so a bad
// file is refused before any carrier is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct IconImage {
    uint32_t width = 0, height = 0;  // pixels, 1 to 256
    uint8_t colors = 0;              // as the file's directory gives it
    uint16_t planes = 0, bit_count = 0;
    bool png = false;
    std::vector<uint8_t> data;
};

// All of an icon's images together: far beyond any real icon (a 256x256
// 32-bit bitmap is 270 KB), yet a bound on what a crafted file makes pack
// copy into the carrier.
constexpr uint64_t kLargestIconData = uint64_t(8) << 20;

// The images of an .ico file, in the file's order; "" or why the file is
// no icon Windows could show, or whose images share bytes or pass
// kLargestIconData.
std::string read_ico(const std::vector<uint8_t>& file, std::vector<IconImage>& images);
