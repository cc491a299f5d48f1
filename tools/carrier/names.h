// Which entry names the launcher can create in its extraction folder.
// Windows decides: names are compared without regard to letter case, some
// characters and device names are off limits, and the joined path must fit
// the launcher's 256-byte buffer.
#pragma once

#include <cstddef>
#include <filesystem>
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

// How Windows compares file names: the one home of the rule, in the
// variants the tool needs. Each differs from the others on purpose:
// - same_name: the launcher's rule (archive/format_rules.h), byte for byte:
//   ASCII letters without case, every byte counts. What the launcher
//   decides by, so what pack and verify decide by for the launch name.
// - ascii_file_key: the same rule as a key, two names with one key exactly
//   when same_name holds: for names that must be ASCII and end in no dot or
//   space to be accepted at all (pack's inputs), and DLL names held against
//   the tool's tables, as the loader compares them.
// - windows_file_key: every name Windows takes for the same file: trailing
//   dots and spaces dropped, as Windows drops them, and code page 1252's
//   letters folded too, as Western Windows folds them. For names a carrier
//   holds, whatever their bytes.
// - same_path_name: this machine's own file system, for paths the tool
//   reads and writes, not entry names.
// The launcher's device check (is_device_name) folds with `| 0x20`: the
// same for its device names' letters, and it reads byte 04 as the '$' of
// CONIN$, a control byte name_problem refuses first.

// Equal as the launcher compares names (ASCII letters without case).
bool same_name(const std::string& a, const std::string& b);

// The code page whose letters windows_file_key folds beyond ASCII.
constexpr int kFoldedCodePage = 1252;

// One character as windows_file_key folds it: ASCII letters upper-cased,
// as Windows folds them (its short names are upper case); with
// `ansi_letters`, code page 1252's pairs too (E0-FE but F7, and 9A 9C 9E
// FF). The launcher's same_name folds to lower case instead: the same
// pairs. Beyond ASCII a byte's letter depends on the ANSI code page; only
// 1252's are folded, so a pair is missed elsewhere rather than invented.
char folded_letter(char c, bool ansi_letters = true);

// The name with its ASCII letters folded (folded_letter) and nothing dropped.
std::string ascii_file_key(const std::string& name);

// The name without the trailing dots and spaces Windows drops before it
// looks at a name at all.
std::string trailing_trimmed(const std::string& name);

// One key for every name Windows takes for the same file: trailing_trimmed,
// then folded_letter. Without `ansi_letters`, ASCII's letters only.
std::string windows_file_key(const std::string& name, bool ansi_letters = true);

// Whether two paths' last components name one file in one folder on this
// machine: on Windows, as its C runtime compares wide names without case
// (_wcsicmp); elsewhere byte for byte.
bool same_path_name(const std::filesystem::path& a, const std::filesystem::path& b);

// The name as it may be shown in a message or a listing: bytes outside
// printable ASCII become \xNN, so a name cannot drive the terminal.
std::string printable(const std::string& name);
