// What pack packs: the files and folders of its command line, each file an
// entry named after it, checked against the launcher's rules before
// anything is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct PackInput {
    std::filesystem::path path;
    std::string name;  // the entry's name
    uint64_t size = 0;
};

// Files as given, folders as their regular files sorted by name (so packs
// repeat exactly). Each problem is appended; false when an argument named
// nothing usable.
bool gather_inputs(const std::vector<std::string>& args, std::vector<PackInput>& inputs,
                   std::vector<std::string>& problems);

// Names the launcher would refuse, or might unpack as another name, are
// refused, as are two that Windows takes for one file; a name too long for
// the %TEMP% assumed draws a warning. Sizes are filled in.
void check_inputs(std::vector<PackInput>& inputs, int temp_length,
                  std::vector<std::string>& problems);

// The launch name must name an entry, ignoring letter case as Windows does.
void check_launch_name(const std::string& launch, const std::vector<PackInput>& inputs,
                       std::vector<std::string>& problems);
