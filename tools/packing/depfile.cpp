#include "tools/packing/depfile.h"

#include <cstdio>
#include <cstring>

namespace fs = std::filesystem;

namespace {

// What only one of them reads as written: make takes ';' for the start of
// a command and '|' for order-only prerequisites; Ninja (1.11) ends a path
// at any of these.
constexpr char kUnwritable[] = "\"&'*;<>?^`|";

// Why make or Ninja would read `path` otherwise than as it is spelt, or ""
// once `rule` holds it as both read it back: '\ ' a space, '\#' a '#', '$$'
// a '$', '\:' a ':', and 2N+1 backslashes before a space N of them.
// Each path is a rule's target, which make takes for a pattern when it
// holds '%'.
std::string escape(const std::string& path, std::string& rule) {
    if (path.empty()) return "an empty path";
    if (path[0] == '~') return "make reads a leading '~' as a home folder";
    const size_t open = path.find('(');
    if (open != std::string::npos && open > 0 && open + 2 < path.size() && path.back() == ')')
        return "make reads NAME(MEMBER) as a member of an archive";
    const size_t bracket = path.find('[');
    if (bracket != std::string::npos && path.find(']', bracket) != std::string::npos)
        return "make reads '[...]' as a wildcard";
    if (path.find('%') != std::string::npos) return "make reads a target with '%' as a pattern";
    const char last = path.back();
    if (last == ' ' || last == ':' || last == '\\')
        return std::string("make and Ninja cannot both read a trailing '") + last + "'";
    for (size_t i = 0; i < path.size(); ++i) {
        const char c = path[i];
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "%02X", byte);
            return std::string("a control character (byte 0x") + hex + ") cannot be written";
        }
        if (c == ';') return "make would run what follows its ';' as a command";
        if (std::strchr(kUnwritable, c) != nullptr)
            return std::string("make or Ninja would not read its '") + c + "' as part of it";
        if (c == '=') return "make reads '=' as a variable's assignment";
        if (c == '\\') {
            const size_t run = path.find_first_not_of('\\', i) - i;  // a trailing one is refused
            const char next = path[i + run];
            if (next == '#' || next == '$' || next == ':')
                return std::string("make and Ninja cannot both read '\\' before '") + next + "'";
            // Doubled before a space, which then adds the one that escapes it.
            rule.append(next == ' ' ? 2 * run : run, '\\');
            i += run - 1;
            continue;
        }
#ifdef _WIN32
        const bool drive = i == 1 && path.size() > 2 && path[2] == '/' &&
                           ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z');
#else
        const bool drive = false;
#endif
        if (c == ' ' || c == '#' || (c == ':' && !drive)) rule += '\\';
        if (c == '$') rule += '$';
        rule += c;
    }
    return "";
}

// Absolute, so the rule holds whichever folder the build tool reads it
// from; forward slashes, which make and Ninja take on Windows too.
std::string absolute_path(const fs::path& path) {
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    return (ec ? path : full).lexically_normal().generic_u8string();
}

}  // namespace

bool dependency_rule(const std::string& target, const std::vector<fs::path>& read,
                     std::string& rule, std::string& problem) {
    // Then a rule of its own for each file read, as gcc -MP writes: make
    // takes a file that is gone for one it cannot make, and would stop.
    std::string own_rules;
    rule.clear();
    for (size_t i = 0; i <= read.size(); ++i) {
        const std::string path = i == 0 ? target : absolute_path(read[i - 1]);
        std::string escaped;
        const std::string why = escape(path, escaped);
        if (!why.empty()) {
            problem = "cannot name " + path + " in a dependency file: " + why;
            return false;
        }
        rule += escaped + (i == 0 ? ":" : "") + (i < read.size() ? " \\\n  " : "\n");
        if (i > 0) own_rules += "\n" + escaped + ":\n";
    }
    rule += own_rules;
    return true;
}
