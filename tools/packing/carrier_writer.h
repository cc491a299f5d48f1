// Writes a carrier front to back into an OutputFile: stub, integrity
// record, archive, padding and trailer, so a failed or interrupted pack
// leaves no carrier and an existing target is only replaced by a complete
// one. The record is filled in last, once the archive's checksum is known.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/carrier/carrier.h"
#include "tools/packing/pack.h"
#include "tools/packing/pack_inputs.h"

// Encodes each input in order after `stub` (the launcher, resources added)
// into `target`; `carrier` is the model of what was written. False, with
// the problems appended, when nothing was written.
bool write_carrier(const PackRequest& request, const std::filesystem::path& target,
                   const std::vector<uint8_t>& stub, const std::vector<PackInput>& inputs,
                   Carrier& carrier, std::vector<std::string>& problems);
