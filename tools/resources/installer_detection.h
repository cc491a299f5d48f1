// Windows' installer detection: before it starts a 32-bit program whose
// manifest names no execution level, Windows looks for installer words in
// its file name and version strings, and when it finds one asks for
// administrator rights first (a carrier then unpacks into the %TEMP% of
// whoever typed the credentials).
#pragma once

#include <string>
#include <utility>
#include <vector>

// Where and which installer word Windows would find: "its file name
// 'MyApp-setup.exe' holds \"setup\"", or "" when none. `file_name` may be
// "" (a carrier sent to standard output has none); `version_strings` are
// the version information's keys and values.
std::string installer_word(const std::string& file_name,
                           const std::vector<std::pair<std::string, std::string>>& version_strings);

// The warning for a carrier in which installer_word found `found`.
std::string installer_detection_warning(const std::string& found);
