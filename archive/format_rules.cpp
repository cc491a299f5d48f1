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

bool is_device_name(const char* name) {
    const char* base = name;
    for (const char* p = name; *p != '\0'; ++p)
        if (*p == '\\' || *p == '/') base = p + 1;
    int length = 0;
    while (base[length] != '\0' && base[length] != '.') ++length;
    while (length > 0 && base[length - 1] == ' ') --length;
    const bool numbered = length == 4 && base[3] >= '1' && base[3] <= '9';
    if (length != 3 && !numbered) return false;
    static const char kStems[] = "conprnauxnulcomlpt";  // the last two take a digit
    for (int stem = numbered ? 12 : 0; stem < (numbered ? 18 : 12); stem += 3) {
        int i = 0;
        while (i < 3 && (base[i] | 0x20) == kStems[stem + i]) ++i;  // | 0x20: ASCII lower case
        if (i == 3) return true;
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
