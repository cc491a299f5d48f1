#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#endif

namespace {

// UTF-8 to UTF-16 into `out`, or only checked when `out` is nullptr.
bool decode_utf8(const std::string& text, std::u16string* out) {
    if (out) out->clear();
    for (size_t i = 0; i < text.size();) {
        const uint8_t lead = uint8_t(text[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xC2 && lead < 0xE0 ? 1
                        : lead >= 0xE0 && lead < 0xF0 ? 2 : lead >= 0xF0 && lead < 0xF5 ? 3 : -1;
        if (extra < 0 || text.size() - i <= size_t(extra)) return false;
        uint32_t code = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const uint8_t next = uint8_t(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code < 0xE000))
            return false;
        if (out && code >= 0x10000) {
            out->push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
            out->push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else if (out) {
            out->push_back(char16_t(code));
        }
        i += size_t(extra) + 1;
    }
    return true;
}

}  // namespace

bool utf8_to_utf16(const std::string& text, std::u16string& out) { return decode_utf8(text, &out); }

bool is_utf8(const std::string& text) { return decode_utf8(text, nullptr); }

void append_utf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += char(code);
        return;
    }
    const int extra = code < 0x800 ? 1 : code < 0x10000 ? 2 : 3;
    out += char((0xFF << (7 - extra) & 0xFF) | code >> (6 * extra));
    for (int k = extra - 1; k >= 0; --k) out += char(0x80 | (code >> (6 * k) & 0x3F));
}

std::string utf16_to_utf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000)
            code = 0x10000 + ((code - 0xD800) << 10) + (text[++i] - 0xDC00);
        else if (code >= 0xD800 && code < 0xE000)
            code = 0xFFFD;
        append_utf8(out, code);
    }
    return out;
}

std::vector<std::string> utf8_arguments(int argc, char** argv) {
#ifdef _WIN32
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide) {
        std::vector<std::string> out;
        for (int i = 0; i < count; ++i) {
            const std::wstring argument = wide[i];
            out.push_back(utf16_to_utf8(std::u16string(argument.begin(), argument.end())));
        }
        LocalFree(wide);
        return out;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

std::filesystem::path path_from_utf8(const std::string& text) {
    return std::filesystem::u8path(text);
}

std::string path_to_utf8(const std::filesystem::path& path) { return path.u8string(); }

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}
