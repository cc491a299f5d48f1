#include "tools/system/console.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "tools/system/test_seams.h"
#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kProgressAfter = std::chrono::seconds(1);
constexpr auto kProgressEvery = std::chrono::milliseconds(100);

Verbosity g_verbosity = Verbosity::kNormal;  // from -q and -v
std::FILE* g_results = stdout;               // stderr once stdout carries a carrier
bool g_stdout_closed = false;                // at start-up

// A console shows UTF-8 bytes in its own code page; so on Windows a
// console gets UTF-16 through the wide services. Files and pipes get UTF-8.
void write_text(std::FILE* stream, const std::string& text) {
#ifdef _WIN32
    const HANDLE handle = GetStdHandle(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    std::u16string wide;
    if (GetConsoleMode(handle, &mode) && utf8_to_utf16(text, wide)) {
        std::fflush(stream);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), DWORD(wide.size()), &written, nullptr);
        return;
    }
#endif
    std::fwrite(text.data(), 1, text.size(), stream);
}

}  // namespace

void open_closed_standard_streams() {
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        if (fd == 1) g_stdout_closed = true;
        // The lowest free number: this one, as those below it are open.
        open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    }
#endif
}

bool standard_output_was_closed() { return g_stdout_closed; }

void set_verbosity(Verbosity verbosity) { g_verbosity = verbosity; }

Verbosity verbosity() { return g_verbosity; }

void print(const std::string& text) {
    write_text(g_results, text);
    std::fflush(g_results);
}

void print_to_stderr() { g_results = stderr; }

void report_error(const std::string& line) {
    std::fflush(stdout);
    write_text(stderr, "courier-pack: " + escaped(line) + "\n");
}

void report_warning(const std::string& line) {
    if (g_verbosity != Verbosity::kQuiet) report_warning_even_if_quiet(line);
}

void report_warning_even_if_quiet(const std::string& line) {
    std::fflush(stdout);
    write_text(stderr, "courier-pack: warning: " + escaped(line) + "\n");
}

namespace {

// The code point of the UTF-8 sequence at text[i] and its length, 0 when
// none starts there (overlong forms and surrogates included).
size_t utf8_at(const std::string& text, size_t i, uint32_t& code) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    if (lead < 0xC2 || lead > 0xF4) return 0;
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (i + length > text.size()) return 0;
    code = lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = code << 6 | (next & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    if (overlong || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return 0;
    return length;
}

// What a terminal acts on rather than shows: C1 controls, and the
// bidirectional marks, embeddings, overrides and isolates, which reorder
// what follows them on the line.
bool drives_terminal(uint32_t code) {
    return (code >= 0x80 && code < 0xA0) || code == 0x061C || code == 0x200E || code == 0x200F ||
           (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

}  // namespace

std::string escaped(const std::string& text, TextKind kind) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        uint32_t code = c;
        size_t length = c >= 0x20 && c < 0x7F ? 1 : 0;
        if (c >= 0x80 && kind == TextKind::kUtf8) length = utf8_at(text, i, code);
        char hex[8];
        if (length > 1 && drives_terminal(code)) {
            std::snprintf(hex, sizeof hex, "\\u%04X", unsigned(code));
        } else if (length == 0) {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            length = 1;
        } else {
            out.append(text, i, length);
            i += length;
            continue;
        }
        out += hex;
        i += length;
    }
    return out;
}

std::string system_reason() {
#ifdef _WIN32
    const DWORD code = GetLastError();
    wchar_t* text = nullptr;
    const DWORD length = code == 0 ? 0
        : FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                             FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length > 0) {
        std::u16string wide(text, text + length);
        LocalFree(text);
        while (!wide.empty() && (wide.back() == u'\n' || wide.back() == u'\r' ||
                                 wide.back() == u' ' || wide.back() == u'.'))
            wide.pop_back();
        return utf16_to_utf8(wide) + " (Windows error " + std::to_string(code) + ")";
    }
    if (code != 0) return "Windows error " + std::to_string(code);
#endif
    return errno ? std::strerror(errno) : "unknown error";
}

std::string count(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

Progress::Progress(uint64_t total)
    // With -v, a line an entry is progress enough.
    : enabled_(total > 0 && g_verbosity == Verbosity::kNormal && isatty(fileno(stderr))),
      total_(total),
      start_(Clock::now()),
      next_(test_seam("COURIER_PACK_PROGRESS_AT_ONCE") ? start_ : start_ + kProgressAfter) {}

Progress::~Progress() {
    if (width_ > 0) write_text(stderr, "\r" + std::string(width_, ' ') + "\r");
}

void Progress::show(const std::string& name, uint64_t done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (now < next_) return;
    next_ = now + kProgressEvery;
    const std::string line = "courier-pack: " + std::to_string(done * 100 / total_) + "% " +
                             escaped(name);
    write_text(stderr, "\r" + line + std::string(line.size() < width_ ? width_ - line.size() : 0, ' '));
    std::fflush(stderr);
    width_ = std::max(width_, line.size());
}
