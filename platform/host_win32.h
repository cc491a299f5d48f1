// Host stand-in for the Win32 services the launcher calls, so the same
// sources build and run on Linux. File services work on real files, with
// '\' taken as the path separator and Windows' sharing rules enforced
// between handles of this process. Window, drawing, shell and sleep calls
// do nothing but append a line to a log tests can read.
//
// Code pages: the host's ANSI code page is UTF-8 (as on a Windows set to
// use it), so the ANSI services take a path's bytes as they are; the wide
// services take wchar_t text (UTF-32 here, UTF-16 on Windows) and meet the
// file system in UTF-8.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#define WINAPI
#define CALLBACK
#define MAX_PATH 260

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef void* HANDLE;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef const wchar_t* LPCWSTR;
typedef wchar_t* LPWSTR;
typedef LONG* PLONG;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef const void* LPCVOID;

struct HostObject;
typedef HostObject* HWND;
typedef HostObject* HINSTANCE;
typedef HostObject* HMODULE;
typedef HostObject* HDC;
typedef HostObject* HGDIOBJ;
typedef HostObject* HFONT;
typedef HostObject* HCURSOR;
typedef HostObject* HICON;
typedef HostObject* HBRUSH;
typedef HostObject* HMENU;
typedef uint16_t ATOM;

struct RECT {
    LONG left, top, right, bottom;
};
struct PAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
};
typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
};
struct FILETIME {
    DWORD dwLowDateTime, dwHighDateTime;
};
struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime, ftLastAccessTime, ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh, nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh, nFileIndexLow;
};
struct SECURITY_ATTRIBUTES;
struct OVERLAPPED;

#define TRUE 1
#define FALSE 0
#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)))
#define INVALID_SET_FILE_POINTER (static_cast<DWORD>(-1))
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_READ_ATTRIBUTES 0x80u
#define FILE_SHARE_READ 0x1u
#define FILE_SHARE_WRITE 0x2u
#define FILE_SHARE_DELETE 0x4u
#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_DIRECTORY 0x10u
#define FILE_ATTRIBUTE_NORMAL 0x80u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x400u
// A link's own file rather than the one it leads to.
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
// Needed to open a folder.
#define FILE_FLAG_BACKUP_SEMANTICS 0x02000000u
#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define CP_ACP 0u

#define WM_CREATE 0x0001u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_USER 0x0400u
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DLGFRAME 0x00400000u
#define SW_SHOW 5
#define SW_SHOWNORMAL 1
#define SWP_NOZORDER 0x0004u
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define COLOR_BTNFACE 15
#define TRANSPARENT 1
#define ANSI_CHARSET 0
#define MB_OK 0x0u
#define IDOK 1
#define IDC_ARROW (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(32512)))
#define PROGRESS_CLASSA "msctls_progress32"
#define MAKELPARAM(lo, hi) \
    (static_cast<LPARAM>(static_cast<DWORD>((static_cast<DWORD>(lo) & 0xFFFFu) | ((static_cast<DWORD>(hi) & 0xFFFFu) << 16))))

// Files.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD written, OVERLAPPED* overlapped);
BOOL CloseHandle(HANDLE handle);
BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES* security);
DWORD GetTempPathA(DWORD size, LPSTR buffer);
DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
// Returns at once, logged, with GetTickCount's clock moved on by the pause.
void Sleep(DWORD milliseconds);
// The wide forms the launcher uses for paths.
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file);
BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size);
BOOL GetFileInformationByHandle(HANDLE file, BY_HANDLE_FILE_INFORMATION* info);
// Removes the name itself: a link, never the file it leads to.
BOOL DeleteFileW(LPCWSTR name);
// CP_ACP only. As on Windows without MB_ERR_INVALID_CHARS, a byte that is not
// valid UTF-8 becomes U+FFFD.
int MultiByteToWideChar(UINT code_page, DWORD flags, LPCSTR text, int length, LPWSTR out,
                        int capacity);
DWORD GetTickCount();
LPSTR lstrcpyA(LPSTR dst, LPCSTR src);
LPSTR lstrcatA(LPSTR dst, LPCSTR src);
int lstrlenA(LPCSTR s);

// Windows, drawing, shell.
ATOM RegisterClassA(const WNDCLASSA* window_class);
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
BOOL ShowWindow(HWND window, int command);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags);
int GetSystemMetrics(int index);
BOOL UpdateWindow(HWND window);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
BOOL GetClientRect(HWND window, RECT* rect);
LRESULT DefWindowProcA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
void PostQuitMessage(int exit_code);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight,
                  DWORD italic, DWORD underline, DWORD strike_out, DWORD charset,
                  DWORD out_precision, DWORD clip_precision, DWORD quality,
                  DWORD pitch_and_family, LPCSTR face);
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
BOOL DeleteObject(HGDIOBJ object);
int SetBkMode(HDC dc, int mode);
BOOL ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT* rect, LPCSTR text, UINT count,
                 const int* dx);
// Logged as "InitCommonControls()", which it ends in on Windows.
void init_common_controls();
// Logged with its strings in UTF-8.
HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int show);

// Test controls.
namespace host {
// The file GetModuleFileNameA reports ("" restores the real executable).
void set_module_path(const std::string& path);
// The folder GetTempPathA reports, with '/' or '\'; "" makes it fail.
void set_temp_path(const std::string& path);
void set_screen_size(int width, int height);
// Each GetTickCount call moves the clock on by `step` ms (0: it stands
// still but for Sleep).
void set_tick_step(DWORD step);
// Every window, drawing, shell and sleep call since the last clear, in
// order, one line each, e.g. "SendMessageA(#2,0x402,0,0)".
const std::vector<std::string>& calls();
void clear_calls();
// A POSIX path for a Windows-style one.
std::string to_posix(const char* path);
// Wide text in UTF-8, and back.
std::string utf8(const wchar_t* text);
std::wstring wide(const std::string& text);
// Handles opened and not yet closed.
int open_handles();
// A folder that tells names differing only in letter case apart, as
// Windows can be told to: no name then finds another spelling.
void set_case_sensitive(bool on);
// Called at each Sleep, before it returns, and after each CloseHandle of a
// file, with its POSIX path: another program acting meanwhile. Empty: none.
void on_sleep(std::function<void()> hook);
void on_close(std::function<void(const std::string& path)> hook);
}  // namespace host
