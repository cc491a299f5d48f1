// pack --depfile: one make rule, as compilers' -MD write, so that make and
// Ninja re-pack a carrier when any file it was made from changes, also a
// file added to or removed from a folder it packed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/packing/pack.h"
#include "tools/packing/pack_inputs.h"

// Writes `request.output: <every file read>` to request.depfile: the stub,
// the icon and manifest, the list of --files-from, each input, and each
// folder given (its listing is what a new or removed file changes). False,
// with the problem appended, when it cannot be written.
bool write_depfile(const PackRequest& request, const std::filesystem::path& stub,
                   const std::vector<std::string>& args, const std::vector<PackInput>& inputs,
                   std::vector<std::string>& problems);
