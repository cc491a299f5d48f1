// What the run asks of the display that shows its progress. The progress
// window implements it (ui/progress_window.cpp). There is no message loop:
// what a call shows is painted before it returns, so the run calls these
// only when the user should see something.
#pragma once

#include <cstdint>

// Names the file being written.
void view_show_name(const char* name);
// Gives the bar the range 0 to `range`, painted with its next position.
void view_bar_range(int32_t range);
// Puts the bar at `position` within its range.
void view_show_bar(int32_t position);
