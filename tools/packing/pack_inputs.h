// What pack packs: the files and folders of its command line, each file an
// entry named after it, checked against the launcher's rules before
// anything is written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/model/carrier.h"

class InputFile;

struct PackInput {
    std::filesystem::path path;
    std::string name;  // the entry's name
    uint64_t size = 0;
    // The launch program's file, opened when it is checked and kept open:
    // pack reads its imports, then packs it, through that one open.
    std::shared_ptr<InputFile> file;
};

// --files-from: the list's lines (one PATH or PATH=NAME a line, blank lines
// skipped) appended to args; "-" reads stdin. False when it cannot be read.
bool read_input_list(const std::string& list, std::vector<std::string>& args,
                     std::vector<std::string>& problems);

// Files as given, PATH=NAME as the file at PATH named NAME, folders as
// their regular files sorted by name (so packs repeat exactly). Each problem is appended; false when an argument named
// nothing usable, or all of them together no file.
bool gather_inputs(const std::vector<std::string>& args, std::vector<PackInput>& inputs,
                   std::vector<std::string>& problems);

// The input the launch name names, ignoring letter case as Windows does;
// kNoEntry for none, and for an empty name. Once check_inputs passes, no
// other input is that file on Windows, so its bytes are the ones the
// launcher runs.
size_t find_launch_input(const std::string& launch, const std::vector<PackInput>& inputs);

// Names the launcher would refuse, or might unpack as another name, are
// refused, as are two that Windows takes for one file (letter case, or a
// short name it may give the other); a name too long for the %TEMP%
// assumed draws a warning. Sizes are filled in, and inputs[launch]'s file
// kept open.
void check_inputs(std::vector<PackInput>& inputs, size_t launch, int temp_length,
                  std::vector<std::string>& problems);

// The launch name must name an entry (`launch`, from find_launch_input), or
// be empty: the launcher then opens the folder.
void check_launch_name(const std::string& launch_name, size_t launch, const std::vector<PackInput>& inputs,
                       std::vector<std::string>& problems);
