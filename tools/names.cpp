#include "tools/names.h"

#include <cstdio>
#include <cstring>

#include "run/extract_run.h"

namespace {

constexpr int kFolderNameLength = 16;  // "BriskCourierTmp\"
constexpr int kPathCapacity = 256;     // the launcher's joined path, NUL included

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

}  // namespace

int longest_joinable_name(int temp_length) {
    return kPathCapacity - 1 - temp_length - kFolderNameLength;
}

std::string name_problem(const std::string& name) {
    if (name.empty()) return "empty name";
    if (name.size() > size_t(kLongestName))
        return std::to_string(name.size()) + " characters, the launcher reads at most " +
               std::to_string(kLongestName);
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) {
            char text[64];
            std::snprintf(text, sizeof text, "byte 0x%02X is not printable ASCII", u);
            return text;
        }
        if (c == '/' || c == '\\') return "path separator: the launcher creates no sub-folders";
        if (std::strchr("<>:\"|?*", c))
            return std::string("'") + c + "' is not allowed in Windows file names";
    }
    if (name == "." || name == "..") return "'.' and '..' name folders";
    if (name.back() == ' ' || name.back() == '.')
        return "trailing space or dot, which Windows drops";
    if (is_device_name(name.c_str())) return "reserved Windows device name";
    return "";
}

bool same_name(const std::string& a, const std::string& b) {
    return a.size() == b.size() && same_name(a.c_str(), b.c_str());  // the launcher's rule
}

std::string lower_ascii(std::string text) {
    for (char& c : text) c = lower(c);
    return text;
}

std::string printable(const std::string& name) {
    std::string out;
    for (char c : name) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u <= 0x7E) {
            out += c;
        } else {
            char text[8];
            std::snprintf(text, sizeof text, "\\x%02X", u);
            out += text;
        }
    }
    return out;
}
