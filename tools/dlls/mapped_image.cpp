#include "tools/dlls/mapped_image.h"

#include <algorithm>
#include <cstring>

#include "tools/dlls/image_bytes.h"
#include "tools/system/le_bytes.h"

std::string MappedImage::open() {
    const size_t got = image_.read(0, head_, sizeof head_);
    const std::string unreadable = read_pe_headers(head_, got, headers_, true);
    if (!unreadable.empty()) return unreadable;
    const uint8_t* optional = head_ + headers_.optional;
    characteristics_ = uint16_t(le16(optional - kCoffHeaderSize + kCharacteristicsAt));
    linker_major_ = optional[kMajorLinkerVersion];
    headers_size_ = le32(optional + kSizeOfHeaders);
    image_base_ = headers_.pe32_plus
                      ? le32(optional + kPe32PlusImageBase) | uint64_t(le32(optional + kPe32PlusImageBase + 4)) << 32
                      : le32(optional + kPe32ImageBase);
    return "";
}

size_t MappedImage::read(uint64_t rva, uint8_t* out, size_t n, std::string* why) {
    size_t done = 0;
    while (done < n) {
        const uint64_t at = rva + done;
        if (at > 0xFFFFFFFFu) {
            *why = "runs past the end of the image's addresses";
            break;
        }
        uint64_t file_at = at, raw_left = 0, span_left = 0;
        if (at < headers_size_) {
            raw_left = span_left = headers_size_ - at;
        } else if (const PeSection* s = headers_.section_at(uint32_t(at))) {
            const uint64_t delta = at - s->rva;
            file_at = s->raw_offset + delta;
            raw_left = delta < s->raw_size ? s->raw_size - delta : 0;
            span_left = std::max(s->virtual_size, s->raw_size) - delta;
        } else {
            *why = "lies outside every section";
            break;
        }
        const size_t count = size_t(std::min<uint64_t>(n - done, span_left));
        const size_t from_file = size_t(std::min<uint64_t>(count, raw_left));
        const size_t got = from_file ? image_.read(file_at, out + done, from_file) : 0;
        if (got < from_file) {
            *why = "is cut short: the file ends inside it";
            return done + got;
        }
        std::memset(out + done + from_file, 0, count - from_file);
        done += count;
    }
    return done;
}

bool MappedImage::read_name(uint64_t rva, size_t longest, std::string& name, std::string* why) {
    char text[kLongestDllName + 1];
    const size_t want = std::min(longest + 1, sizeof text);
    const size_t got = read(rva, reinterpret_cast<uint8_t*>(text), want, why);
    const char* end = static_cast<const char*>(std::memchr(text, 0, got));
    if (!end) {
        if (got == want) *why = "is longer than " + std::to_string(longest) + " characters";
        return false;
    }
    name.assign(text, size_t(end - text));
    return true;
}

bool MappedImage::to_rva(uint64_t value, bool addresses, uint64_t* rva) const {
    if (!addresses) {
        *rva = value;
        return true;
    }
    if (value < image_base_) return false;
    *rva = value - image_base_;
    return true;
}
