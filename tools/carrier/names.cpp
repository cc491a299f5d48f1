#include "tools/carrier/names.h"

#include <cstdio>
#include <cstring>
#ifdef _WIN32
#include <wchar.h>
#endif

#include "archive/format_rules.h"
#include "tools/system/console.h"

std::string name_problem(const std::string& name) {
    if (name.empty()) return "empty name";
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20) {
            char text[96];
            std::snprintf(text, sizeof text,
                          "byte 0x%02X is not printable ASCII: Windows file names hold no "
                          "control characters",
                          u);
            return text;
        }
        if (c == '/' || c == '\\') return "path separator: the launcher creates no sub-folders";
        if (std::strchr("<>:\"|?*", c))
            return std::string("'") + c + "' is not allowed in Windows file names";
    }
    if (name.find_first_not_of(". ") == std::string::npos)
        return "only dots and spaces, which Windows drops: it names the folder";
    if (is_device_name(name.c_str())) return "reserved Windows device name";
    return "";
}

std::string name_doubt(const std::string& name) {
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u > 0x7E) {
            char text[96];
            std::snprintf(text, sizeof text, "byte 0x%02X is not printable ASCII%s", u,
                          u == 0x7F ? "" : ": its character depends on the ANSI code page");
            return text;
        }
    }
    if (!name.empty() && (name.back() == ' ' || name.back() == '.'))
        return "trailing space or dot, which Windows drops";
    return "";
}

std::string length_problem(size_t length) {
    const int longest = longest_joinable_name(kShortestTempLength);
    if (length <= size_t(longest)) return "";
    return std::to_string(length) +
           " characters: the launcher's " + std::to_string(kPathCapacity - 1) +
           "-character path takes at most " +
           std::to_string(longest) + " even under the shortest %TEMP% (C:\\)";
}

std::string length_doubt(size_t length, int temp_length) {
    const int longest = longest_joinable_name(temp_length);
    if (length <= size_t(longest)) return "";
    return std::to_string(length) + " characters: with a " + std::to_string(temp_length) +
           "-character %TEMP% the launcher's " + std::to_string(kPathCapacity - 1) +
           "-character path takes at most " +
           std::to_string(longest) + ", so it unpacks only under a shorter %TEMP%";
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && same_name(a.c_str(), b.c_str());  // the launcher's rule
}

char folded_letter(char c, bool ansi_letters) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return char(u - 0x20);
    if (!ansi_letters) return c;
    if (u >= 0xE0 && u != 0xF7 && u != 0xFF) return char(u - 0x20);     // à..þ
    if (u == 0x9A || u == 0x9C || u == 0x9E) return char(u - 0x10);      // š œ ž
    if (u == 0xFF) return char(0x9F);                                   // ÿ
    return c;
}

std::string ascii_file_key(const std::string& name) {
    std::string key = name;
    for (char& c : key) c = folded_letter(c, false);
    return key;
}

std::string trailing_trimmed(const std::string& name) {
    return name.substr(0, name.find_last_not_of(". ") + 1);
}

std::string windows_file_key(const std::string& name, bool ansi_letters) {
    std::string key = trailing_trimmed(name);
    for (char& c : key) c = folded_letter(c, ansi_letters);
    return key;
}

bool same_path_name(const std::filesystem::path& a, const std::filesystem::path& b) {
#ifdef _WIN32
    return _wcsicmp(a.filename().c_str(), b.filename().c_str()) == 0;
#else
    return a.filename() == b.filename();
#endif
}

std::string printable(const std::string& name) { return escaped(name, TextKind::kAnsiBytes); }
