// Walks a carrier's archive as the launcher does: the same integrity check
// first, then the same reader calls in the same order, the same decoder, the
// same name and path checks, and stops where the launcher would fail. list,
// verify and extract all use it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/names.h"

struct WalkEntry {
    std::string name;
    uint32_t stored_size = 0;
    uint64_t decoded_size = 0;
    uint64_t offset = 0;  // archive offset of the entry's name
};

// Told what the walk finds. A call returns "" to go on, or the reason to stop.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    virtual std::string begin_entry(const WalkEntry&) { return ""; }
    virtual std::string write(const uint8_t*, size_t) { return ""; }
    virtual std::string end_entry(const WalkEntry&) { return ""; }
};

struct WalkResult {
    bool ok = false;
    bool launch_read = false;
    std::string launch_name;
    std::vector<WalkEntry> entries;  // those read whole
    uint64_t archive_start = 0;      // file offset, once the trailer is read
    // What the carrier says of itself, not errors: "no integrity record",
    // "signed: certificate table at offset N".
    std::vector<std::string> notes;

    // Where and why the walk stopped, when it failed.
    std::string where;        // "entry 'x'", "launch name", "trailer", ...; "" for the whole carrier
    bool has_offset = false;  // the trailer has no archive offset yet
    uint64_t offset = 0;      // archive offset of the field at fault
    std::string reason;

    // "<where> at archive offset <n>: <reason>", or the reason alone
    std::string problem() const;
};

// temp_length: the %TEMP% length to hold names against, as the launcher
// joins %TEMP%\BriskCourierTmp\ and the name in a 256-byte buffer.
WalkResult walk_carrier(const std::string& path, WalkSink& sink,
                        int temp_length = kAssumedTempLength);
