// The DLLs a program names in its import and delay-import tables, and what
// else decides where Windows looks for them: the load configuration's
// DependentLoadFlags, whether it imports SetDefaultDllDirectories, and the
// manifest it starts with. Read through ImageBytes where the headers point,
// so the program is never held whole; every count, name and table is
// bounded, whatever the headers say.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/dlls/mapped_image.h"

class ImageBytes;

struct ImportedDll {
    std::string name;      // as the table spells it
    bool delayed = false;  // named only in the delay-load table
};

struct ProgramImports {
    std::string not_a_program;  // why Windows would not start the file as a program; "" if it would
    uint16_t machine = 0;
    std::vector<ImportedDll> dlls;  // each name once, letter case ignored, in table order
    uint8_t linker_major = 0;       // MSVC's link.exe writes its own version, 14 since 2015
    bool has_load_config = false;   // GNU ld writes none
    bool has_load_flags = false;    // the load configuration is long enough to hold them
    uint16_t dependent_load_flags = 0;
    bool sets_dll_directories = false;  // imports SetDefaultDllDirectories, by name
    bool has_manifest = false;
    std::string manifest;               // its manifest resource (ID 1): the one Windows starts it with
    std::vector<std::string> forwarded_to;  // a DLL's: the DLLs its exports forward to, each once
    std::vector<std::string> problems;  // what could not be read, in reading order
};

// What is read at most, whatever the tables say.
constexpr size_t kMostDescriptorsRead = 4096;  // per table
constexpr size_t kMostThunksRead = 16384;      // function names looked at, in all
constexpr size_t kLongestProgramManifest = 1 << 20;
constexpr size_t kMostExportsRead = 16384;     // a DLL's exports looked at for forwarders

ProgramImports read_program_imports(ImageBytes& image);
// The same of a DLL a program loads, and the DLLs its exports forward to;
// not_a_program then says why Windows would not load it as a DLL.
ProgramImports read_dll_imports(ImageBytes& image);
