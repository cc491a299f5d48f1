#include "tools/names.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int kFolderNameLength = 16;  // "BriskCourierTmp\"
constexpr int kPathCapacity = 256;     // the launcher's joined path, NUL included

char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 open devices whatever follows the
// first dot, and trailing spaces before it are ignored as well.
bool is_device_name(const std::string& name) {
    std::string base = lower_ascii(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base == "con" || base == "prn" || base == "aux" || base == "nul") return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

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
    if (is_device_name(name)) return "reserved Windows device name";
    return "";
}

bool same_name(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
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
