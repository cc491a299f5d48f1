// The rules a carrier's archive lives by, as the launcher applies them:
// the sizes of its buffers and which names it may create in its folder.
// The launcher and courier-pack both call these, so a name pack accepts and
// verify passes is one the launcher unpacks, and no other.
#pragma once

#include <cstdint>

constexpr int32_t kNameCapacity = 260;          // launch and entry names: 259 characters and the NUL
constexpr int32_t kFolderCapacity = 260;        // %TEMP% and the folder name, NUL included
constexpr int32_t kPathCapacity = 256;          // the folder joined with a name, NUL included
constexpr char kFolderName[] = "BriskCourierTmp\\";
constexpr int32_t kFolderNameLength = sizeof kFolderName - 1;
constexpr int32_t kChunkInputCapacity = 2048;   // largest chunk body
constexpr int32_t kChunkOutputCapacity = 8192;  // largest decoded chunk
constexpr uint64_t kLargestStoredSize = 0xFFFFFFFFu;  // an entry's stored size is a u32
constexpr uint32_t kTrailerSize = 4;            // the archive's offset, at the file's end
constexpr uint32_t kArchiveOffsetLimit = 0x80000000u;  // the trailer is a signed distance
constexpr uint32_t kEntryPauseMs = 100;         // the run sleeps this long after each entry
constexpr uint32_t kLaunchPauseMs = 500;        // and this long after it opens the launch file

// The run's sleeps in all, in milliseconds, over `entries` entries written.
constexpr uint64_t run_pauses_ms(uint64_t entries) {
    return entries * kEntryPauseMs + kLaunchPauseMs;
}

// Integers in carriers are little-endian, whatever the machine.
inline uint32_t le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
inline uint32_t le32(const uint8_t* p) { return le16(p) | le16(p + 2) << 16; }

// The longest name the launcher can join to its folder when %TEMP%
// (trailing '\' included) is temp_length characters long.
constexpr int32_t longest_joinable_name(int32_t temp_length) {
    return kPathCapacity - 1 - temp_length - kFolderNameLength;
}

// True for a name the run may append to the extraction folder: not absolute,
// no drive, no ".." component. Anything else could write outside the folder.
bool is_contained_name(const char* name);

// True when the name's last component opens a device rather than a file:
// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, COM and LPT with a superscript
// 1, 2 or 3 (code page 1252's B9, B2, B3), and the console's CONIN$ and
// CONOUT$, in any letter case, alone or before a dot, trailing spaces
// ignored ("nul .txt" is NUL). COM0 and LPT0 are files.
bool is_device_name(const char* name);

// Equal as Windows compares file names, ASCII letters without case
// ("install.exe" names the entry "Install.exe"). The launcher's one rule for
// names; courier-pack names its variants beside its own name checks.
bool same_name(const char* a, const char* b);

// The launch rule, entry by entry: the launch file may be opened only while
// the last entry written into it had the launch name and was written whole.
// named: the entry has the launch name (same_name); rewrote: it was written
// into the launch file held so far, under any spelling Windows takes for it
// ("setup.exe." after "setup.exe"); whole: it was written whole.
enum class LaunchStep { kKeep, kTake, kDrop };
LaunchStep launch_step(bool named, bool rewrote, bool whole);
