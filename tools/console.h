// What the tool says on stderr: errors, warnings and, on a terminal only,
// progress.
#pragma once

#include <cstdint>
#include <string>

void report_error(const std::string& line);    // "courier-pack: <line>"
void report_warning(const std::string& line);  // "courier-pack: warning: <line>"

// One self-overwriting line of percentages. Silent unless stderr is a
// terminal, so logs and pipes only ever see the final messages.
class Progress {
public:
    explicit Progress(uint64_t total);
    ~Progress();
    void show(const std::string& name, uint64_t done);

private:
    bool enabled_;
    uint64_t total_;
    int shown_ = -1;
    size_t width_ = 0;  // of the line on screen
};
