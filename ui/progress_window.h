// The progress window: a small centred popup naming the file being written,
// with a progress bar. It has no message loop: every change is followed by
// a synchronous repaint.
#pragma once

#include "platform/platform.h"

constexpr int kWindowWidth = 245;
constexpr int kWindowHeight = 87;

void register_progress_class(HINSTANCE instance);
// Creates the popup and its bar and hands both to the extraction run.
void create_progress_window(HINSTANCE instance);
void layout_progress_window();
LRESULT CALLBACK progress_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
// Draws the texts on dc; the WM_PAINT handler wraps it in Begin/EndPaint.
void paint_content(HDC dc, const RECT& client);
