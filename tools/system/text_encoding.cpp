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

namespace {

// The set at pattern[p] ('[' ... ']') against c; p moves past it. A set
// with no ']' is the character '[' itself.
bool set_matches(const std::string& pattern, size_t& p, char c) {
    size_t at = p + 1;
    const bool negated = at < pattern.size() && (pattern[at] == '!' || pattern[at] == '^');
    if (negated) ++at;
    bool found = false;
    for (bool first = true; at < pattern.size() && (first || pattern[at] != ']'); first = false) {
        const char low = pattern[at];
        char high = low;
        if (at + 2 < pattern.size() && pattern[at + 1] == '-' && pattern[at + 2] != ']') {
            high = pattern[at + 2];
            at += 2;
        }
        found = found || (c >= low && c <= high);
        ++at;
    }
    if (at >= pattern.size()) {  // no closing ']'
        ++p;
        return c == '[';
    }
    p = at + 1;
    return found != negated;
}

}  // namespace

bool pattern_matches(const std::string& pattern, const std::string& text) {
    size_t p = 0, t = 0;
    size_t star = std::string::npos, resume = 0;  // the last '*', and where its run ends
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = ++p;
            resume = t;
            continue;
        }
        size_t next = p + 1;
        bool one = false;
        if (p < pattern.size()) {
            if (pattern[p] == '?') {
                one = true;
            } else if (pattern[p] == '[') {
                next = p;
                one = set_matches(pattern, next, text[t]);
            } else if (pattern[p] == '\\' && p + 1 < pattern.size()) {
                one = pattern[p + 1] == text[t];
                next = p + 2;
            } else {
                one = pattern[p] == text[t];
            }
        }
        if (one) {
            p = next;
            ++t;
        } else if (star != std::string::npos) {
            p = star;  // the '*' takes one more character
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::string shell_word(const std::string& text) {
    const bool plain = !text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                                               "0123456789-_./=+,:@%") == std::string::npos;
    if (plain) return text;
    std::string word = "'";
    for (char c : text) word += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return word + "'";
}

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}
