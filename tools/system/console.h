// What the tool says: results on stdout; errors, warnings and, on a
// terminal only, progress on stderr. Text is UTF-8; a Windows console gets
// it through the wide console services, so any path shows as it is spelt.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// -q: errors only. -v: a line for each entry as well.
enum class Verbosity { kQuiet, kNormal, kVerbose };
void set_verbosity(Verbosity verbosity);
Verbosity verbosity();

// Before anything else: on Linux, /dev/null is opened on 0, 1 and 2 where
// they are closed, so no file the tool opens takes their number and gets
// its messages (or is read as standard input). On Windows the C runtime
// drops standard handles that are not valid when it starts, and nothing
// here writes to a raw handle but a console's, so there is nothing to do.
void open_closed_standard_streams();
// Whether standard output was closed when the tool started.
bool standard_output_was_closed();

void print(const std::string& text);           // stdout, as it is
// From now on print() writes to stderr: stdout carries a carrier (pack -o -).
void print_to_stderr();
void report_error(const std::string& line);    // "courier-pack: <line>"
void report_warning(const std::string& line);  // "courier-pack: warning: <line>", unless -q
void report_warning_even_if_quiet(const std::string& line);  // the same, -q or not

// Bytes that may come from a carrier or a file system, as they may reach a
// terminal: the one escaping everything printed from a carrier goes
// through. C0 controls, DEL, C1 controls and the bidirectional controls
// (U+061C, U+200E, U+200F, U+202A-U+202E, U+2066-U+2069) become \xNN or
// \uNNNN, as does every byte of kUtf8 text that is not UTF-8 and every
// byte outside ASCII of kAnsiBytes text (archived names: their characters
// depend on a code page). JSON keeps its own escaping.
enum class TextKind { kUtf8, kAnsiBytes };
std::string escaped(const std::string& text, TextKind kind = TextKind::kUtf8);

// The reason the last system call failed, in the system's words (errno on
// Linux, GetLastError on Windows).
std::string system_reason();

// "1 entry", "2 entries".
std::string count(uint64_t n, const char* one, const char* many);

// One self-overwriting line of percentages on a terminal, once the work has
// taken a second: short packs end before a line is worth it. Silent unless
// stderr is a terminal (and neither -q nor -v is given), so logs and pipes
// only ever see the final messages.
class Progress {
public:
    explicit Progress(uint64_t total);
    ~Progress();
    void show(const std::string& name, uint64_t done);

private:
    bool enabled_;
    uint64_t total_;
    std::chrono::steady_clock::time_point start_, next_;
    size_t width_ = 0;  // of the line on screen
};
