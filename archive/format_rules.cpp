#include "archive/format_rules.h"

bool is_contained_name(const char* name) {
    if (name[0] == '\\' || name[0] == '/') return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == ':') return false;
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
            if (*p == '\0') return true;
            component = p + 1;
        }
    }
}

namespace {

// A port's number: 1 to 9, or the superscripts 1, 2 and 3 of code page 1252
// (B9, B2, B3), which Windows reads as the same ports.
bool is_port_number(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= '1' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

}  // namespace

bool is_device_name(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    int length = 0;
    while (base[length] != '\0' && base[length] != '.') ++length;
    while (length > 0 && base[length - 1] == ' ') --length;
    // Every device name, in lower case; '#' stands for a port's number.
    static const char kDevices[] = "con\0prn\0aux\0nul\0com#\0lpt#\0conin$\0conout$\0";
    for (const char* device = kDevices; *device != '\0'; ++device) {
        int i = 0;
        while (i < length && device[i] != '\0' &&
               (device[i] == '#' ? is_port_number(base[i]) : (base[i] | 0x20) == device[i]))
            ++i;  // | 0x20: ASCII lower case for letters (it also reads byte 04 as '$')
        if (i == length && device[i] == '\0') return true;
        while (*device != '\0') ++device;  // to this name's NUL: the loop steps past it
    }
    return false;
}

bool same_name(const char* a, const char* b) {
    for (;; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
        if (x == '\0') return true;
    }
}

LaunchStep launch_step(bool named, bool rewrote, bool whole) {
    if (named && whole) return LaunchStep::kTake;
    return rewrote ? LaunchStep::kDrop : LaunchStep::kKeep;
}
