// Walks a carrier's archive as the launcher does: the same integrity check
// first, then the same reader calls in the same order, the same decoder, the
// same name and path checks, and stops where the launcher would fail. list,
// verify and extract all use it.
#pragma once

#include <cstdint>
#include <string>

#include "tools/carrier/names.h"
#include "tools/carrier/program_file.h"
#include "tools/model/walk_result.h"

// Told what the walk finds. A call returns "" to go on, or the reason to stop.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    virtual std::string begin_entry(const CarrierEntry&) { return ""; }
    virtual std::string write(const uint8_t*, size_t) { return ""; }
    virtual std::string end_entry(const CarrierEntry&) { return ""; }
};

// Reads the carrier's resources and launcher too. path: UTF-8, what a
// failure to open it is said of; file: it, opened once by the caller, who
// may read it again after the walk (verify: the launch program's DLLs, the
// stub) without opening it again. temp_length: the %TEMP% length to hold
// names against, as the launcher joins %TEMP%\BriskCourierTmp\ and the name
// in a 256-byte buffer; a name too long for it is a warning, one too long
// for any %TEMP% a failure.
WalkResult walk_carrier(const std::string& path, ProgramFile& file, WalkSink& sink,
                        int temp_length = kAssumedTempLength);
// The same of the carrier at `path`, opened for the walk alone.
WalkResult walk_carrier(const std::string& path, WalkSink& sink,
                        int temp_length = kAssumedTempLength);
