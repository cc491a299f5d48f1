// Scratch folders, files and carriers for host tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/archive_writer.h"
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

// Deterministic test data of several shapes.
std::vector<uint8_t> random_bytes(size_t size, uint32_t seed);
std::vector<uint8_t> text_like(size_t size, uint32_t seed);

// A fake program image for carriers: the run never reads it.
std::vector<uint8_t> fake_stub(size_t size = 1000);

// Carrier bytes around a hand-made archive body: stub + archive + trailer.
std::vector<uint8_t> carrier_around(const std::vector<uint8_t>& archive, size_t stub_size = 1000);

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
