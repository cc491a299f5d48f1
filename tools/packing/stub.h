// The launcher image a carrier starts with: without --stub the one this
// courier-pack was built with, which it holds; with it, a file checked to be
// a program 32-bit Windows starts whose image ends the file, unsigned, as
// the launcher's own check needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Reads the stub `option` names into `stub`, its path into `path`; with no
// option ("") takes the launcher built in, no file (`path` stays empty).
// False, with the problems appended, when it is unusable; unless
// `any_stub`, when it is not a Brisk Courier launcher as well.
bool load_stub(const std::string& option, bool any_stub, std::vector<uint8_t>& stub,
               std::filesystem::path& path, std::vector<std::string>& problems);
