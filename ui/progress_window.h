// The progress window: a small centred popup naming the file being written,
// with a progress bar. It has no message loop: every change is followed by
// a synchronous repaint.
#pragma once

#include "platform/platform.h"

constexpr int kWindowWidth = 245;
constexpr int kWindowHeight = 87;

// The window's own state, for the program entry (and tests): its handles,
// set by create_progress_window, and the name painted after "Extracting:",
// which the program entry sets first and the run's view_show_name after.
extern char g_current_name[260];
extern HWND g_popup_window;
extern HWND g_progress_bar;

void register_progress_class(HINSTANCE instance);
// Creates the popup and its bar.
void create_progress_window(HINSTANCE instance);
void layout_progress_window();
LRESULT CALLBACK progress_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Draws the texts on dc; the WM_PAINT handler wraps it in Begin/EndPaint.
void paint_content(HDC dc, const RECT& client);
