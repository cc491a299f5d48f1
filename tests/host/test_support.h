// Scratch folders, files, programs and extraction runs for host tests;
// stubs and carriers come from tests/support.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/carrier_builder.h"
#include "tests/support/test_data.h"
#include "tests/support/test_files.h"

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool file_exists(const std::string& path);

// A program run to its end, its output captured through files in `dir`.
struct ToolResult {
    int code;  // the exit code, -1 when it did not exit
    std::string out, err;
};
ToolResult run_tool(const std::string& program, const std::vector<std::string>& args,
                    const ScratchDir& dir);

// The run's extraction folder and its own file set up in a scratch dir:
// GetTempPathA reports dir/tmp, GetModuleFileNameA reports dir/carrier.exe.
struct RunSetup {
    ScratchDir dir;
    RunSetup();
    ~RunSetup();
    std::string carrier() const { return dir / "carrier.exe"; }
    std::string folder() const { return dir / "tmp/BriskCourierTmp"; }
    std::string out(const std::string& name) const { return folder() + "/" + name; }
    // The extraction folder as the run spells it (backslashes).
    std::string windows_folder() const;
    int run(const std::vector<uint8_t>& carrier_bytes);
    // Logged calls whose text starts with prefix.
    std::vector<std::string> calls_starting(const std::string& prefix) const;
};
