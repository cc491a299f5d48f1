// Small Windows programs with the tables that say which DLLs they load, for
// the tests of what pack and verify say of a launch program, and for fuzz
// seeds: an import table as mingw's linker writes it, a delay-load table, a
// load configuration and a manifest as MSVC's does, forwarded exports of a
// DLL, and ways to break them.
//
// Layout: headers, [filler], .rdata (names, thunks, the delay-load table,
// the load configuration, the resources), [filler], then .idata holding
// only the import table, the file's last section: for up to 24 DLLs its
// last 512 bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ProgramImport {
    std::string dll;
    std::vector<std::string> functions = {"Function"};
};

struct ProgramShape {
    bool pe32_plus = false;                   // an x64 program rather than an i386 one
    uint16_t machine = 0;                     // the file header's machine, when not i386 or AMD64
    std::vector<ProgramImport> imports;       // the import table
    std::vector<ProgramImport> delay_imports; // the delay-load table, with RVAs
    int dependent_load_flags = -1;            // a load configuration holding them, when >= 0
    int load_config_declared = -1;            // the size its directory declares, when >= 0 (else its own)
    int linker_major = 0;                     // the linker's version: 14 for MSVC's since 2015
    bool dll = false;                         // a DLL rather than a program
    std::vector<std::string> forwarders;      // exports forwarded elsewhere: "VERSION.GetFileVersionInfoSizeA"
    uint32_t load_config_length = 0;          // its first field, when not the structure's whole size
    std::string manifest;                     // a manifest resource (type 24, ID 1), when not empty
    std::vector<uint8_t> filler;              // a section of these bytes before .rdata and another after
    // Past 1, the import table has no end: .idata holds its descriptors
    // over and over, and is mapped this many times over the same bytes.
    int table_mappings = 1;
};

std::vector<uint8_t> program_with_imports(const ProgramShape& shape);
