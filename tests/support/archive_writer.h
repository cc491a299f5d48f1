// Builds the bytes of an appended archive and its carrier. Used by the
// packing tool and by tests; performs no checks on names (the tool does).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packing/chunk_encoder.h"

struct ArchiveEntry {
    std::string name;
    std::vector<uint8_t> data;
};

void append_u32(std::vector<uint8_t>& out, uint32_t value);
void append_name(std::vector<uint8_t>& out, const std::string& name);

// Appends name, stored size and chunk records of one entry. Returns false,
// appending nothing, when its records would not fit a 32-bit stored size.
bool append_entry(std::vector<uint8_t>& out, const std::string& name, const uint8_t* data,
                  size_t size, const EncoderOptions& options);

// stub + launch name + entries + end marker + trailer (the stub's size).
std::vector<uint8_t> build_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                   const std::vector<ArchiveEntry>& entries,
                                   const EncoderOptions& options = EncoderOptions());
