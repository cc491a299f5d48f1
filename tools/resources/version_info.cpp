#include "tools/resources/version_info.h"

#include <algorithm>

#include "tools/system/le_bytes.h"
#include "tools/system/text_encoding.h"

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
constexpr size_t kFixedSize = 52;          // VS_FIXEDFILEINFO
constexpr uint32_t kFileOsWindows32 = 0x00040004;  // VOS_NT_WINDOWS32
constexpr uint32_t kFileTypeApp = 1;               // VFT_APP
constexpr uint16_t kBinary = 0, kText = 1;         // wType of a block's value
const char16_t kTable[] = u"040904B0";              // US English, UTF-16
constexpr uint16_t kLanguage = 0x0409, kCodePage = 1200;

uint32_t high(const VersionNumber& v) { return uint32_t(v.parts[0]) << 16 | v.parts[1]; }
uint32_t low(const VersionNumber& v) { return uint32_t(v.parts[2]) << 16 | v.parts[3]; }

// Every block: its length (set by end_block), the value's length, its type,
// a NUL-terminated key, then padding to 4 bytes before the value.
size_t begin_block(std::vector<uint8_t>& out, const std::u16string& key, uint16_t value_length,
                   uint16_t type) {
    pad_to(out, 4);
    const size_t start = out.size();
    add_le16(out, 0);
    add_le16(out, value_length);
    add_le16(out, type);
    for (char16_t c : key) add_le16(out, c);
    add_le16(out, 0);
    pad_to(out, 4);
    return start;
}

bool end_block(std::vector<uint8_t>& out, size_t start) {
    const size_t length = out.size() - start;
    if (length > 0xFFFF) return false;
    set_le16(&out[start], uint32_t(length));
    return true;
}

struct Block {
    size_t end = 0;  // of the block, within its parent
    size_t value = 0;
    uint32_t value_length = 0, type = 0;
    std::u16string key;
    size_t children = 0;  // where the first child would start
};

size_t align4(size_t at) { return (at + 3) & ~size_t(3); }

// The block at `at`, which must lie within `limit`.
bool read_block(const uint8_t* data, size_t at, size_t limit, Block& block) {
    if (at > limit || limit - at < 6) return false;
    const size_t length = le16(data + at);
    if (length < 6 || length > limit - at) return false;
    block.end = at + length;
    block.value_length = le16(data + at + 2);
    block.type = le16(data + at + 4);
    block.key.clear();
    size_t p = at + 6;
    for (;; p += 2) {
        if (block.end - p < 2) return false;
        const char16_t c = char16_t(le16(data + p));
        if (c == 0) break;
        block.key.push_back(c);
    }
    block.value = std::min(align4(p + 2), block.end);
    const size_t bytes = block.type == kText ? size_t(block.value_length) * 2 : block.value_length;
    block.children = std::min(align4(block.value + std::min(bytes, block.end - block.value)), block.end);
    return true;
}

// A text value: UTF-16 up to its NUL or the block's end.
std::u16string text_value(const uint8_t* data, const Block& block) {
    std::u16string text;
    for (size_t p = block.value; block.end - p >= 2; p += 2) {
        const char16_t c = char16_t(le16(data + p));
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

}  // namespace

std::string VersionNumber::text() const {
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
           std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

bool parse_version_number(const std::string& text, VersionNumber& out) {
    size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != '.')) return false;
        uint32_t value = 0;
        size_t digits = 0;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at, ++digits) {
            value = value * 10 + uint32_t(text[at] - '0');
            if (value > 0xFFFF) return false;
        }
        if (digits == 0) return false;
        out.parts[i] = uint16_t(value);
    }
    return at == text.size();
}

std::string build_version_resource(const VersionInfo& info, std::vector<uint8_t>& out) {
    std::vector<std::pair<std::string, std::string>> strings;
    auto given = [&info](const char* key) {
        for (const auto& s : info.strings)
            if (lower_ascii(s.first) == lower_ascii(key)) return true;
        return false;
    };
    if (info.has_file && !given("FileVersion")) strings.push_back({"FileVersion", info.file.text()});
    if (info.has_product && !given("ProductVersion"))
        strings.push_back({"ProductVersion", info.product.text()});
    strings.insert(strings.end(), info.strings.begin(), info.strings.end());

    out.clear();
    const size_t root = begin_block(out, u"VS_VERSION_INFO", kFixedSize, kBinary);
    const uint32_t fixed[13] = {kFixedSignature, 0x00010000, high(info.file), low(info.file),
                                high(info.product), low(info.product), 0x3F, 0,
                                kFileOsWindows32, kFileTypeApp, 0, 0, 0};
    for (uint32_t field : fixed) add_le32(out, field);
    bool fits = true;
    if (!strings.empty()) {
        const size_t file_info = begin_block(out, u"StringFileInfo", 0, kText);
        const size_t table = begin_block(out, kTable, 0, kText);
        for (const auto& [key, value] : strings) {
            std::u16string key16, value16;
            if (!utf8_to_utf16(key, key16)) return "version string key '" + key + "' is not UTF-8";
            if (!utf8_to_utf16(value, value16))
                return "version string " + key + ": value is not UTF-8";
            if (value16.size() >= 0xFFFF) return "version string " + key + ": value too long";
            const size_t string = begin_block(out, key16, uint16_t(value16.size() + 1), kText);
            for (char16_t c : value16) add_le16(out, c);
            add_le16(out, 0);
            fits = end_block(out, string) && fits;
        }
        fits = end_block(out, table) && fits;
        fits = end_block(out, file_info) && fits;
    }
    const size_t var_info = begin_block(out, u"VarFileInfo", 0, kText);
    const size_t translation = begin_block(out, u"Translation", 4, kBinary);
    add_le16(out, kLanguage);
    add_le16(out, kCodePage);
    fits = end_block(out, translation) && fits;
    fits = end_block(out, var_info) && fits;
    fits = end_block(out, root) && fits;
    if (!fits)
        return "version information of " + std::to_string(out.size()) +
               " bytes: Windows reads at most 65535";
    return "";
}

std::string read_version_resource(const uint8_t* data, size_t size, VersionInfo& info) {
    info = VersionInfo();
    Block root;
    if (!read_block(data, 0, size, root) || root.key != u"VS_VERSION_INFO")
        return "version information does not start with VS_VERSION_INFO";
    if (root.value_length < kFixedSize || root.end - root.value < kFixedSize ||
        le32(data + root.value) != kFixedSignature)
        return "version information has no fixed part";
    const uint8_t* fixed = data + root.value;
    for (int i = 0; i < 2; ++i) {
        VersionNumber& number = i == 0 ? info.file : info.product;
        const uint32_t ms = le32(fixed + 8 + 8 * i), ls = le32(fixed + 12 + 8 * i);
        number.parts[0] = uint16_t(ms >> 16), number.parts[1] = uint16_t(ms);
        number.parts[2] = uint16_t(ls >> 16), number.parts[3] = uint16_t(ls);
    }
    info.has_file = info.has_product = true;
    for (size_t at = root.children; at < root.end;) {
        Block child;
        if (!read_block(data, at, root.end, child)) return "version information is damaged";
        if (child.key == u"StringFileInfo") {
            Block table;
            if (child.children < child.end && read_block(data, child.children, child.end, table)) {
                for (size_t s = table.children; s < table.end;) {
                    Block string;
                    if (!read_block(data, s, table.end, string))
                        return "version string table is damaged";
                    info.strings.push_back({utf16_to_utf8(string.key), utf16_to_utf8(text_value(data, string))});
                    s = align4(string.end);
                }
            }
        }
        at = align4(child.end);
    }
    return "";
}
