// pack: checks every input and the output before anything is written, then
// streams stub, integrity record, archive, padding and trailer into an
// OutputFile, so a failed or interrupted pack leaves no carrier and an
// existing target is only replaced by a complete one. The record is filled
// in last, once the archive's checksum is known.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/carrier/names.h"
#include "tools/resources/resource_request.h"

struct PackRequest {
    std::string output;
    std::string launch_name;
    std::string stub;  // "" for the launcher the project builds
    bool greedy = false;
    int temp_length = kAssumedTempLength;  // names longer than it allows draw a warning
    std::vector<std::string> inputs;
    ResourceRequest resources;  // icon, version information, manifest
};

// Returns the exit code: 0 packed, 1 failed (each reason reported).
int pack(const PackRequest& request, const std::filesystem::path& program);

// Where pack looks for launcher.exe without --stub: beside the program,
// then ../share/brisk-courier/ from the program's folder (an installed
// tree, wherever it was unpacked), then ../windows/ (the host build tree's
// neighbour).
std::vector<std::filesystem::path> default_stub_paths(const std::filesystem::path& program);

// This program's own file, argv0 when the system does not say.
std::filesystem::path running_program(const char* argv0);
