// Which entry names the launcher can create in its extraction folder.
// Windows decides: names are compared without regard to letter case, some
// characters and device names are off limits, and the joined path must fit
// the launcher's 256-byte buffer.
#pragma once

#include <string>

// %TEMP% as the launcher sees it, trailing '\' included, when we cannot ask:
// 40 characters, e.g. C:\Users\<11-character user>\AppData\Local\Temp\ .
constexpr int kAssumedTempLength = 40;

// The reader's limit on any name.
constexpr int kLongestName = 259;

// Longest name the launcher can join to its folder for a given %TEMP% length.
int longest_joinable_name(int temp_length);

// Why Windows could not create `name` as a file in the launcher's folder,
// or "" when it can. Length against the path buffer is checked apart.
std::string name_problem(const std::string& name);

// Equal as Windows compares file names (ASCII letters without case).
bool same_name(const std::string& a, const std::string& b);

std::string lower_ascii(std::string text);

// The name as it may be shown in a message: bytes outside printable ASCII
// become \xNN.
std::string printable(const std::string& name);
