// The launcher image a carrier starts with: found beside the tool when no
// --stub is given, and checked to be a program 32-bit Windows starts whose
// image ends the file, unsigned, as the launcher's own check needs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Reads the stub `option` names ("" for the default one) into `stub`, its
// path into `path`. False, with the problems appended, when it is unusable;
// unless `any_stub`, when it is not a Brisk Courier launcher as well.
bool load_stub(const std::string& option, const std::filesystem::path& program, bool any_stub,
               std::vector<uint8_t>& stub, std::filesystem::path& path,
               std::vector<std::string>& problems);

// Where pack looks for launcher.exe without --stub: beside the program,
// then ../share/brisk-courier/ from the program's folder (an installed
// tree, wherever it was unpacked), then ../windows/ (the host build tree's
// neighbour).
std::vector<std::filesystem::path> default_stub_paths(const std::filesystem::path& program);
