#include "tools/carrier/short_names.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>

#include "tools/carrier/names.h"

// How a short name is made from a long one. Windows (Microsoft KB 142982,
// "How Windows generates 8.3 file names from long file names"; the Windows
// 2000 Resource Kit, "Using long file names"; the RtlGenerate8dot3Name page
// of the driver documentation; Microsoft's FAT32 file system document,
// fatgen103, "Basis-Name Generation" and "Numeric-Tail Generation"):
//   - letters are upper-cased; spaces are dropped, and leading dots; so are
//     the dots before the last one, whose tail is the extension (the one
//     before it when nothing valid follows the last);
//   - + , ; = [ ] become '_' (the FAT document) or are dropped (KB 142982):
//     either is taken here; a byte outside ASCII becomes its OEM character
//     or '_' (which character it is, is the code page's; only code page
//     1252's letters are folded, as elsewhere);
//   - the base is cut to 6 characters and "~1" added, "~2" and on when the
//     name is taken, the base cut shorter as the number grows (to ~999999);
//   - from the fifth alike on (Windows 2000 and later): the base's first
//     two characters, four hexadecimal digits of a hash, then "~1";
//   - the extension is cut to 3 characters.
// Wine (8.0, dlls/ntdll/unix/file.c: hash_short_file_name,
// is_legal_8dot3_name) makes its own: the name's first 4 characters (up to
// its last dot, not the first character), with * ? < > | " + = , ; [ ] ~ .
// and space as '_', and any character beyond ASCII as '_' too (über-setup.exe
// is _BER~4S2.EXE), padded with '~' to 5, then 3 characters of a hash from
// A-Z and 0-5, then the dot and the extension's first 3 characters mapped
// alike: helper-library.dll is HELP~1ZK.DLL there.
// Neither makes a short name for a name that is already of the 8.3 form.
// Which number or hash a file gets depends on the volume and on the files
// already in the folder, so every one counts.

namespace {

// What a long name's character may become in its short name.
struct Token {
    char c;                   // the character, upper-cased
    char alt = 0;             // another it may become, 0 for none
    bool may_vanish = false;  // it may be dropped instead
    bool matches(char x) const { return x == c || (alt != 0 && x == alt); }
};

bool is_space_or_dot(char c) { return c == ' ' || c == '.'; }

// Allowed in a short name: printable ASCII but these and the dot; with
// `extended`, any byte beyond ASCII too (Windows can be set to keep them).
bool short_name_char(char c, bool extended) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) return extended;
    return u > 0x20 && u < 0x7F && !std::strchr("\"*+,./:;<=>?[\\]|", c);
}

// The 8.3 form: base of 1 to 8, then optionally a dot and 1 to 3.
bool is_8dot3(const std::string& name, bool extended) {
    const size_t dot = name.find('.');
    const size_t base = std::min(dot, name.size());
    const size_t ext = dot == std::string::npos ? 0 : name.size() - dot - 1;
    if (base < 1 || base > 8 || (dot != std::string::npos && (ext < 1 || ext > 3))) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (i != dot && !short_name_char(name[i], extended)) return false;
    return true;
}

// A character of the long name as Windows treats it; spaces and dots are
// dropped before this.
Token windows_token(char c) {
    if (std::strchr("+,;=[]", c)) return Token{'_', 0, true};
    if (static_cast<unsigned char>(c) >= 0x80) return Token{folded_letter(c), '_'};
    return Token{folded_letter(c)};
}

// A character of the long name as Wine maps it. Beyond ASCII, '_' or, with
// another code page than the one measured, the folded letter.
Token wine_token(char c) {
    if (std::strchr("*?<>|\"+=,;[] ~.", c)) return Token{'_'};
    if (static_cast<unsigned char>(c) >= 0x80) return Token{'_', folded_letter(c)};
    return Token{folded_letter(c)};
}

std::vector<Token> windows_tokens(const std::string& text) {
    std::vector<Token> tokens;
    for (char c : text)
        if (!is_space_or_dot(c)) tokens.push_back(windows_token(c));
    return tokens;
}

struct Parts {
    std::vector<Token> base, ext;
};

// The ways Windows may cut a long name into base and extension: leading
// dots skipped before or after the spaces are dropped, and the extension
// after the last dot, or after the one before when only characters that
// are dropped follow the last.
std::vector<Parts> windows_parts(const std::string& name) {
    std::vector<Parts> parts;
    size_t first_start = 0;
    for (bool spaces_first : {false, true}) {
        size_t start = 0;
        while (start < name.size() && (name[start] == '.' || (spaces_first && name[start] == ' '))) ++start;
        if (spaces_first && start == first_start) break;  // the same cuts again
        first_start = start;
        const std::string rest = name.substr(start);
        std::vector<size_t> dots;
        const size_t last = rest.rfind('.');
        if (last != std::string::npos) {
            dots.push_back(last);
            const std::vector<Token> tail = windows_tokens(rest.substr(last + 1));
            const bool only_dropped = std::all_of(tail.begin(), tail.end(), [](const Token& t) { return t.may_vanish; });
            if (only_dropped && last > 0 && rest.rfind('.', last - 1) != std::string::npos)
                dots.push_back(rest.rfind('.', last - 1));
        }
        if (dots.empty()) parts.push_back({windows_tokens(rest), {}});
        for (size_t dot : dots)
            parts.push_back({windows_tokens(rest.substr(0, dot)), windows_tokens(rest.substr(dot + 1))});
    }
    return parts;
}

// Wine's cut: the last dot that is neither the first nor the last character.
Parts wine_parts(const std::string& name) {
    const size_t last = name.size() < 3 ? std::string::npos : name.find_last_of('.', name.size() - 2);
    const size_t dot = last == 0 ? std::string::npos : last;
    Parts parts;
    for (size_t i = 0; i < std::min<size_t>(4, std::min(dot, name.size())); ++i) parts.base.push_back(wine_token(name[i]));
    if (dot != std::string::npos)
        for (size_t i = dot + 1; i < std::min(dot + 4, name.size()); ++i) parts.ext.push_back(wine_token(name[i]));
    return parts;
}

// True when some way of writing `tokens` gives a text whose first
// `longest` characters (all of it, when shorter) are `x`.
bool cut_matches(const std::vector<Token>& tokens, const std::string& x, size_t longest) {
    if (x.size() > longest) return false;
    if (x.size() == longest && longest == 0) return true;
    uint32_t reached = 1;  // bit j: some way gives x's first j characters so far, and no more
    for (const Token& token : tokens) {
        uint32_t next = 0;
        for (size_t j = 0; j <= x.size(); ++j) {
            if (!(reached >> j & 1)) continue;
            if (token.may_vanish) next |= 1u << j;
            if (j < x.size() && token.matches(x[j])) {
                if (j + 1 == longest) return true;  // cut there: the rest does not count
                next |= 1u << (j + 1);
            }
        }
        reached = next;
        if (reached == 0) return false;
    }
    return reached >> x.size() & 1;
}

bool all_of_chars(const std::string& text, const char* set) {
    return std::all_of(text.begin(), text.end(), [set](char c) { return std::strchr(set, c) != nullptr; });
}

// A short name taken apart once, as every long name is held against it:
// its base and extension, folded, and what of Windows' forms it can be.
struct ShortName {
    size_t index;
    std::string base, ext;
    bool paired = false;
    bool numbered = false;   // the base ends in '~' and 1 to 6 digits
    size_t number = 0;       // how many digits
    std::string head;        // the base before the '~'
    bool hashed = false;     // the head's last 4 may be a hash, before 1 to 3 digits
    std::string hash_head;   // the head before them
    bool wine_form = false;  // 8 characters, the last 3 of Wine's hash

    ShortName(size_t i, std::string b, std::string e) : index(i), base(std::move(b)), ext(std::move(e)) {
        wine_form = base.size() == 8 && all_of_chars(base.substr(5), "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
        const size_t tilde = base.rfind('~');
        if (tilde == std::string::npos) return;
        const std::string digits = base.substr(tilde + 1);
        numbered = !digits.empty() && digits.size() <= 6 && all_of_chars(digits, "0123456789");
        number = digits.size();
        head = base.substr(0, tilde);
        hashed = numbered && head.size() >= 4 && number <= 3 &&
                 all_of_chars(head.substr(head.size() - 4), "0123456789ABCDEF");
        if (hashed) hash_head = head.substr(0, head.size() - 4);
    }
};

bool windows_alias(const Parts& parts, const ShortName& s) {
    if (!s.numbered || !cut_matches(parts.ext, s.ext, 3)) return false;
    // The base cut so that it and its number fit 8 characters.
    if (cut_matches(parts.base, s.head, 7 - s.number)) return true;
    // Two characters of the base (fewer if the number is longer), four of a hash.
    return s.hashed && cut_matches(parts.base, s.hash_head, std::min<size_t>(2, 3 - s.number));
}

bool wine_alias(const Parts& parts, const ShortName& s) {
    if (!s.wine_form || s.ext.size() != parts.ext.size()) return false;
    for (size_t i = 0; i < 5; ++i)
        if (i < parts.base.size() ? !parts.base[i].matches(s.base[i]) : s.base[i] != '~') return false;
    for (size_t i = 0; i < parts.ext.size(); ++i)
        if (!parts.ext[i].matches(s.ext[i])) return false;
    return true;
}

}  // namespace

bool is_short_name_form(const std::string& name) {
    const std::string n = trailing_trimmed(name);
    return is_8dot3(n, true) && n.substr(0, n.find('.')).find('~') != std::string::npos;
}

ShortNameTwins find_short_name_twins(size_t count,
                                     const std::function<const std::string&(size_t)>& name_at,
                                     uint64_t most_checks) {
    ShortNameTwins result;
    std::vector<ShortName> shorts;
    std::unordered_set<std::string> files;  // one short name a file: the first spelling
    for (size_t i = 0; i < count; ++i) {
        if (!is_short_name_form(name_at(i))) continue;
        const std::string key = windows_file_key(name_at(i));
        if (!files.insert(key).second) continue;
        const size_t dot = key.find('.');
        shorts.emplace_back(i, key.substr(0, dot), dot == std::string::npos ? "" : key.substr(dot + 1));
    }
    size_t unpaired = shorts.size();
    uint64_t checks = 0;
    for (size_t j = 0; j < count && unpaired > 0; ++j) {
        const std::string name = trailing_trimmed(name_at(j));
        if (is_8dot3(name, false)) continue;  // it has no short name of its own
        const std::vector<Parts> windows = windows_parts(name);
        const Parts wine = wine_parts(name);
        for (ShortName& s : shorts) {
            if (s.paired) continue;
            if (checks++ == most_checks) {
                result.not_compared = unpaired;
                unpaired = 0;
                break;
            }
            const bool alias = wine_alias(wine, s) ||
                               std::any_of(windows.begin(), windows.end(),
                                           [&](const Parts& p) { return windows_alias(p, s); });
            if (!alias) continue;
            s.paired = true;
            --unpaired;
            result.twins.push_back({s.index, j});
        }
    }
    std::sort(result.twins.begin(), result.twins.end(),
              [](const ShortNameTwin& a, const ShortNameTwin& b) { return a.short_name < b.short_name; });
    return result;
}
