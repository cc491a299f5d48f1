// list, verify and extract: each a small sink over the one carrier walk.
#pragma once

#include <string>

// Each returns the exit code: 0 done, 1 failed (the reason reported).
int list_carrier(const std::string& carrier);
// strict: warnings (what the launcher gets through but may not do as meant)
// fail as well.
int verify_carrier(const std::string& carrier, int temp_length, bool strict);
int extract_carrier(const std::string& carrier, const std::string& folder);
