#include "ui/progress_window.h"

#include "platform/dll_search.h"
#include "run/progress_view.h"

char g_current_name[260];
HWND g_popup_window = nullptr;
HWND g_progress_bar = nullptr;

namespace {

constexpr char kClassName[] = "SelfExtractor";
constexpr char kTitle[] = "Self-Extracting";
constexpr char kHeadline[] = "Self-Extraction In Progress, Please wait...";
constexpr char kExtracting[] = "Extracting:";
constexpr char kFontFace[] = "MS Sans Serif";
HFONT g_font = nullptr;  // the painting font

void draw_text(HDC dc, int x, int y, const RECT& client, const char* text) {
    ExtTextOutA(dc, x, y, 0, &client, text, static_cast<UINT>(lstrlenA(text)), nullptr);
}

LRESULT on_paint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    paint_content(dc, client);
    EndPaint(window, &paint);
    return 1;
}

}  // namespace

void paint_content(HDC dc, const RECT& client) {
    // Made at the first paint and kept for the process: the window lives as long.
    if (!g_font)
        g_font = CreateFontA(12, 0, 0, 0, 400, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0, 0,
                             kFontFace);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ previous = SelectObject(dc, g_font);
    draw_text(dc, 10, 10, client, kHeadline);
    if (g_current_name[0] != '\0') {
        draw_text(dc, 20, 32, client, kExtracting);
        draw_text(dc, 77, 32, client, g_current_name);
    }
    SelectObject(dc, previous);
}

LRESULT CALLBACK progress_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case WM_CREATE:
        return 0;
    case WM_PAINT:
        return on_paint(window);
    case WM_CLOSE:
        PostQuitMessage(0);
        return DefWindowProcA(window, message, wparam, lparam);
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

void register_progress_class(HINSTANCE instance) {
    WNDCLASSA window_class = {};
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = progress_window_proc;
    window_class.hInstance = instance;
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = kClassName;
    RegisterClassA(&window_class);
}

void create_progress_window(HINSTANCE instance) {
    g_popup_window = CreateWindowExA(0, kClassName, kTitle, WS_POPUP | WS_VISIBLE | WS_DLGFRAME, 0,
                                     0, 0, 0, nullptr, nullptr, instance, nullptr);
    init_common_controls();
    g_progress_bar = CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                                     g_popup_window, nullptr, instance, nullptr);
}

void layout_progress_window() {
    const int screen_height = GetSystemMetrics(SM_CYSCREEN);
    const int screen_width = GetSystemMetrics(SM_CXSCREEN);
    // Signed division: a screen narrower than the window gives a negative x.
    SetWindowPos(g_popup_window, nullptr, (screen_width - kWindowWidth) / 2,
                 (screen_height - kWindowHeight) / 2, kWindowWidth, kWindowHeight, SWP_NOZORDER);
    SetWindowPos(g_progress_bar, nullptr, 20, 50, 200, 20, SWP_NOZORDER);
}

void view_show_name(const char* name) {
    lstrcpyA(g_current_name, name);
    // Only the name's line: under Wine each repaint's pixels go to the
    // display, and the headline and the bar have not changed.
    static const RECT kNameLine = {0, 32, kWindowWidth, 48};
    InvalidateRect(g_popup_window, &kNameLine, TRUE);
    UpdateWindow(g_popup_window);
}

void view_bar_range(int32_t range) {
    SendMessageA(g_progress_bar, PBM_SETRANGE, 0, MAKELPARAM(0, range));
}

void view_show_bar(int32_t position) {
    SendMessageA(g_progress_bar, PBM_SETPOS, static_cast<WPARAM>(position), 0);
    UpdateWindow(g_progress_bar);
}
