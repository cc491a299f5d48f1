// The extraction run: unpacks every entry of the program's own appended
// archive into %TEMP%\BriskCourierTmp\, keeps the progress display current
// (run/progress_view.h), then has the shell open the launch file.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Returns 1 when every step succeeded, 0 when any failed. After a failure as
// after a success, the launch file is opened only when this run wrote it
// whole (an empty launch name opens the folder), and never when it is the
// launcher's own file. Telling the user is the caller's.
int extract_archive();

// Unpacks the chunk records of one entry, from the archive's current
// position, into output. False on a failed read, decode or write.
bool extract_entry(HANDLE output, HANDLE archive, uint32_t stored_size);

void show_entry_name(const char* name);
// The bar is emptied and given its range at an entry's start, then its
// position and a repaint at most at display rate while the entry runs, and
// at its end: each is a round trip to the display, and most positions would
// draw the same pixels.
void begin_entry_progress(uint32_t stored_size);
void advance_progress(uint32_t consumed);
// Puts the bar at the entry's last position: each file ends where it is.
void end_entry_progress();
