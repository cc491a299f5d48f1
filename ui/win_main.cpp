// Program entry of the launcher. The process exits with code 1 whatever
// happens; a failed run is reported once, after the launch.
#include "platform/platform.h"
#include "run/extract_run.h"
#include "ui/progress_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Set here, not by an initialiser: the launcher's state takes no file space.
    lstrcpyA(g_current_name, "readme.txt");
    register_progress_class(instance);
    create_progress_window(instance);
    ShowWindow(g_popup_window, SW_SHOW);
    layout_progress_window();
    UpdateWindow(g_popup_window);
    if (extract_archive() != 1)
        MessageBoxA(g_popup_window, "File Extraction Error, Cannot Continue.", "Error", MB_OK);
    return 1;
}
