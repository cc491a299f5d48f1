// The extraction run: unpacks every entry of the program's own appended
// archive into %TEMP%\BriskCourierTmp\, keeps the progress display current
// (run/progress_view.h), then has the shell open the launch file.
#pragma once

#include <cstdint>

#include "archive/carrier_file.h"
#include "platform/platform.h"

// Returns 1 when every step succeeded, 0 when any failed; an extraction
// folder that is a link fails before anything is written. Each entry's
// file is made anew, a link in its place removed, never written through.
// After a failure as after a success, the launch file is opened only when
// this run wrote it whole (an empty launch name opens the folder), and it
// is held, shared for reading only, from then until it has been opened.
// Telling the user is the caller's.
int extract_archive();

// Unpacks the chunk records of one entry, from the archive's current
// position, into output. False on a failed read, decode or write.
bool extract_entry(HANDLE output, CarrierFile archive, uint32_t stored_size);

// The entry's name, painted with its first progress shown: a frame after
// its start, or at its end. The name must live until the entry ends.
void show_entry_name(const char* name);
// The bar's range and position follow the entry: painted a frame after its
// start, then at most at display rate while it runs, and at its end. Each
// is a round trip to the display, and most would draw the same pixels.
void begin_entry_progress(uint32_t stored_size);
void advance_progress(uint32_t consumed);
// Puts the bar at the entry's last position: each file ends where it is.
void end_entry_progress();
