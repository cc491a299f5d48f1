// The file a carrier is read from, and the three services every reader of
// it goes through (the archive walk and the integrity check alike). The
// launcher implements them over the Win32 file services
// (archive/carrier_file_win32.cpp); courier-pack over its own file layer.
#pragma once

#include <cstdint>

// Each side builds the readers over its own type, so a program that links
// both (the fuzz target that holds the tool's walk against the launcher's
// run) gets two sets of readers, and passing one side's file to the other's
// reader does not compile.
#ifdef BRISK_TOOL_FILES
class InputFile;
using CarrierFile = InputFile*;  // courier-pack: tools/system/input_file.h
#else
using CarrierFile = void*;       // the launcher: a Win32 file handle
#endif

constexpr uint32_t kSeekFailed = 0xFFFFFFFFu;

// Moves to `offset` from the start of the file, any offset below 4 GiB.
bool seek_to(CarrierFile file, uint32_t offset);
// The file's size, leaving the position at its end; kSeekFailed on failure.
uint32_t seek_end(CarrierFile file);
// Reads up to `size` bytes; *got is what arrived (fewer at the end of the file).
bool read_bytes(CarrierFile file, void* buffer, uint32_t size, uint32_t* got);
