// The one include point for the Win32 services this program uses. On
// Windows it is the system's headers; elsewhere a stand-in of our own that
// runs the same code over POSIX files and records window and shell calls.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
#else
#include "platform/host_win32.h"
#endif
