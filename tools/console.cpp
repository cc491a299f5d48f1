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
}

void report_error(const std::string& line) { std::fprintf(stderr, "courier-pack: %s\n", line.c_str()); }

void report_warning(const std::string& line) {
    std::fprintf(stderr, "courier-pack: warning: %s\n", line.c_str());
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
