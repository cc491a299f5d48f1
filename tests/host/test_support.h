// Scratch folders, files and carriers for host tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/archive_writer.h"
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

// A fake program image for carriers: the run never reads it.
std::vector<uint8_t> fake_stub(size_t size = 1000);

// Carrier bytes around a hand-made archive body: stub + archive + trailer.
std::vector<uint8_t> carrier_around(const std::vector<uint8_t>& archive, size_t stub_size = 1000);

// A valid i386 PE32 image of `size` bytes (more than 512): headers, then one
// section whose raw data ends exactly at `size`.
std::vector<uint8_t> minimal_pe_stub(size_t size = 1024);
// File offset of that image's certificate table entry (the security directory).
constexpr size_t kStubSecurityDirectory = 0xD8;

// The carrier courier-pack makes: stub, integrity record, archive, zero
// padding to a multiple of 8 bytes in all, trailer.
std::vector<uint8_t> packed_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                    const std::vector<ArchiveEntry>& entries,
                                    const EncoderOptions& options = EncoderOptions());

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
