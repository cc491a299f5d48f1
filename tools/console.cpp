#include "tools/console.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

constexpr uint64_t kQuietBelow = 1 << 20;  // small packs finish before a line is worth it

// Length of the UTF-8 sequence at text[i], 0 when none starts there. C1
// controls (U+0080 to U+009F) count as none: terminals act on them too.
size_t utf8_length(const std::string& text, size_t i) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) return 0;
    if (lead == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) return 0;
    return length;
}

// Paths and names in messages come from file systems and carriers: control
// bytes and anything not UTF-8 are shown as \xNN, never sent raw.
std::string terminal_safe(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const size_t length = c >= 0x20 && c < 0x7F ? 1 : c >= 0x80 ? utf8_length(text, i) : 0;
        if (length > 0) {
            out.append(text, i, length);
            i += length;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            ++i;
        }
    }
    return out;
}

}  // namespace

void report_error(const std::string& line) {
    std::fprintf(stderr, "courier-pack: %s\n", terminal_safe(line).c_str());
}

void report_warning(const std::string& line) {
    std::fprintf(stderr, "courier-pack: warning: %s\n", terminal_safe(line).c_str());
}

Progress::Progress(uint64_t total)
    : enabled_(total >= kQuietBelow && isatty(fileno(stderr))), total_(total) {}

Progress::~Progress() {
    if (enabled_ && width_ > 0) std::fprintf(stderr, "\r%*s\r", int(width_), "");
}

void Progress::show(const std::string& name, uint64_t done) {
    if (!enabled_) return;
    const int percent = int(done * 100 / total_);
    if (percent == shown_) return;
    shown_ = percent;
    const std::string line = "courier-pack: " + std::to_string(percent) + "% " + name;
    std::fprintf(stderr, "\r%-*s", int(width_), line.c_str());
    std::fflush(stderr);
    if (line.size() > width_) width_ = line.size();
}
