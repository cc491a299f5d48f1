// Writes a carrier front to back into an OutputFile: stub, integrity
// record, archive, padding and trailer, so a failed or interrupted pack
// leaves no carrier and an existing target is only replaced by a complete
// one. The record is filled in last, once the archive's checksum is known.
// The caller puts the file in place.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/model/carrier.h"
#include "tools/packing/pack.h"
#include "tools/packing/pack_inputs.h"
#include "tools/system/output_file.h"

// Encodes each input in order after `stub` (the launcher, resources added)
// into `file`; `carrier` is the model of what was written. False, with the
// problems appended, when the carrier is not whole.
bool write_carrier(const PackRequest& request, OutputFile& file,
                   const std::vector<uint8_t>& stub, const std::vector<PackInput>& inputs,
                   Carrier& carrier, std::vector<std::string>& problems);
