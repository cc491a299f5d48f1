// Which entry names the launcher can create in its extraction folder.
// Windows decides: names are compared without regard to letter case, some
// characters and device names are off limits, and the joined path must fit
// the launcher's 256-byte buffer.
#pragma once

#include <cstddef>
#include <string>

#include "archive/format_rules.h"

// %TEMP% as the launcher sees it, trailing '\' included, when we cannot ask:
// 40 characters, e.g. C:\Users\<11-character user>\AppData\Local\Temp\ .
constexpr int kAssumedTempLength = 40;
// The shortest %TEMP% there can be: a drive's root, C:\ .
constexpr int kShortestTempLength = 3;

// Why the launcher's run on Windows fails on `name` as an entry name, or ""
// when it does not. Length is checked apart.
std::string name_problem(const std::string& name);

// Why `name` may not unpack as the name it is, though the run succeeds: a
// byte outside ASCII is whatever character the user's ANSI code page makes
// of it, and Windows drops a trailing dot or space. "" when neither.
std::string name_doubt(const std::string& name);

// A name no %TEMP% leaves room for, or "".
std::string length_problem(size_t length);
// A name that fits only a %TEMP% shorter than temp_length characters, or "".
std::string length_doubt(size_t length, int temp_length);

// Equal as Windows compares file names (ASCII letters without case).
bool same_name(const std::string& a, const std::string& b);

std::string lower_ascii(std::string text);

// The code page whose letters windows_file_key folds beyond ASCII.
constexpr int kFoldedCodePage = 1252;

// The name of the file Windows makes for `name`: trailing dots and spaces
// dropped.
std::string windows_file_name(const std::string& name);

// One key for every name Windows takes for the same file: trailing dots
// and spaces dropped, letters upper-cased. Beyond ASCII the bytes' letters
// depend on the ANSI code page; only code page 1252's pairs (E0-FE but F7,
// and 9A 9C 9E FF) are folded, as Western Windows folds them, so a pair is
// missed elsewhere rather than invented. Without `ansi_letters`, ASCII's only.
std::string windows_file_key(const std::string& name, bool ansi_letters = true);
// One character as windows_file_key folds it.
char folded_letter(char c, bool ansi_letters = true);

// The name as it may be shown in a message or a listing: bytes outside
// printable ASCII become \xNN, so a name cannot drive the terminal.
std::string printable(const std::string& name);
