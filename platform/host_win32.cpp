#include "platform/host_win32.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

struct HostObject {
    int id;
};

namespace {

struct OpenFile {
    int fd;
    dev_t device;
    ino_t inode;
    DWORD access;
    DWORD share;
    std::string path;
    bool link;  // a symbolic link's own file, opened with FILE_FLAG_OPEN_REPARSE_POINT
};

struct Window {
    std::string class_name;
    WNDPROC procedure = nullptr;
    RECT client{0, 0, 0, 0};
    bool needs_paint = true;
};

struct State {
    std::string module_path;
    std::string temp_path = "/tmp/";
    int screen_width = 1024, screen_height = 768;
    DWORD ticks = 0, tick_step = 0;
    std::vector<std::string> calls;
    std::map<HostObject*, std::unique_ptr<OpenFile>> files;
    std::map<std::string, WNDPROC> classes;
    std::map<HostObject*, Window> windows;
    std::map<HostObject*, HostObject*> selected;  // each device context's object
    HostObject* system_font = nullptr;  // what a new device context holds
    std::vector<std::unique_ptr<HostObject>> objects;
    std::function<void()> sleep_hook;
    std::function<void(const std::string&)> close_hook;
    bool in_hook = false;
    bool case_sensitive = false;
};

State& state() {
    static State s;
    return s;
}

HostObject* new_object() {
    State& s = state();
    s.objects.push_back(std::unique_ptr<HostObject>(new HostObject{int(s.objects.size()) + 1}));
    return s.objects.back().get();
}

std::string id(const HostObject* object) {
    return object ? "#" + std::to_string(object->id) : "0";
}

std::string text(LPCSTR s) { return s ? s : "(null)"; }

void log(const std::string& line) { state().calls.push_back(line); }

std::string hex(unsigned long value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%lx", value);
    return buffer;
}

// Windows refuses a second handle whose access the first does not share,
// or whose sharing does not allow the first's access.
bool sharing_conflict(const OpenFile& held, DWORD access, DWORD share) {
    auto denies = [](DWORD wanted, DWORD allowed) {
        return ((wanted & GENERIC_READ) && !(allowed & FILE_SHARE_READ)) ||
               ((wanted & GENERIC_WRITE) && !(allowed & FILE_SHARE_WRITE));
    };
    return denies(access, held.share) || denies(held.access, share);
}

// Windows finds a file whatever the letter case of its name: an existing
// file whose last component differs only in ASCII case is that file.
std::string existing_spelling(const std::string& path) {
    struct stat info;
    const size_t slash = path.rfind('/');
    if (state().case_sensitive || lstat(path.c_str(), &info) == 0 || slash == std::string::npos)
        return path;
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = path.substr(slash + 1);
    std::string found = path;
    if (DIR* dir = opendir(parent.c_str())) {
        while (const dirent* entry = readdir(dir))
            if (strcasecmp(entry->d_name, name.c_str()) == 0) found = parent + "/" + entry->d_name;
        closedir(dir);
    }
    return found;
}

OpenFile* file_of(HANDLE handle) {
    auto it = state().files.find(static_cast<HostObject*>(handle));
    return it == state().files.end() ? nullptr : it->second.get();
}

}  // namespace

namespace host {
void set_module_path(const std::string& path) { state().module_path = path; }
void set_temp_path(const std::string& path) { state().temp_path = path; }
void set_screen_size(int width, int height) {
    state().screen_width = width;
    state().screen_height = height;
}
void set_tick_step(DWORD step) { state().tick_step = step; }
const std::vector<std::string>& calls() { return state().calls; }
void clear_calls() { state().calls.clear(); }
std::string to_posix(const char* path) {
    std::string out(path);
    for (char& c : out)
        if (c == '\\') c = '/';
    return out;
}
int open_handles() { return static_cast<int>(state().files.size()); }
void set_case_sensitive(bool on) { state().case_sensitive = on; }
void on_sleep(std::function<void()> hook) { state().sleep_hook = std::move(hook); }
void on_close(std::function<void(const std::string&)> hook) { state().close_hook = std::move(hook); }

std::string utf8(const wchar_t* text) {
    std::string out;
    for (; text && *text; ++text) {
        const uint32_t c = uint32_t(*text);
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | c >> 6), out += char(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += char(0xE0 | c >> 12), out += char(0x80 | (c >> 6 & 0x3F));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xF0 | c >> 18), out += char(0x80 | (c >> 12 & 0x3F));
            out += char(0x80 | (c >> 6 & 0x3F)), out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::wstring wide(const std::string& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : lead >= 0xF0 && lead < 0xF5 ? 3
                        : lead >= 0xE0 ? 2 : lead >= 0xC2 && lead < 0xE0 ? 1 : -1;
        uint32_t c = extra == 0 ? lead : extra == 1 ? lead & 0x1F : extra == 2 ? lead & 0x0F : lead & 0x07;
        bool valid = extra >= 0 && i + size_t(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + size_t(k)]);
            valid = (next & 0xC0) == 0x80;
            c = c << 6 | (next & 0x3F);
        }
        // Overlong forms and surrogates are as invalid as a stray byte.
        if (valid && ((extra == 2 && (c < 0x800 || (c >= 0xD800 && c < 0xE000))) ||
                      (extra == 3 && (c < 0x10000 || c > 0x10FFFF))))
            valid = false;
        out += valid ? wchar_t(c) : wchar_t(0xFFFD);
        i += valid ? size_t(extra) + 1 : 1;
    }
    return out;
}
}  // namespace host

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES*, DWORD disposition,
                   DWORD flags, HANDLE) {
    std::string path = existing_spelling(host::to_posix(name));
    // Windows looks at reparse points a component at a time, so a folder's
    // trailing '\' does not lead into a link, as a trailing '/' would here.
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    // With FILE_FLAG_OPEN_REPARSE_POINT a symbolic link is opened itself:
    // a handle that reads and writes nothing, the file it names untouched.
    const bool own_link = (flags & FILE_FLAG_OPEN_REPARSE_POINT) != 0;
    struct stat info;
    const bool exists = (own_link ? lstat(path.c_str(), &info) : stat(path.c_str(), &info)) == 0;
    const bool link = exists && S_ISLNK(info.st_mode);
    const bool folder = exists && S_ISDIR(info.st_mode);
    if (exists) {
        // A folder opens only with FILE_FLAG_BACKUP_SEMANTICS, and only as it is.
        if (folder && (!(flags & FILE_FLAG_BACKUP_SEMANTICS) || disposition != OPEN_EXISTING))
            return INVALID_HANDLE_VALUE;
        if (disposition == CREATE_NEW) return INVALID_HANDLE_VALUE;  // a link counts: the name is taken
        // The read-only attribute: Windows refuses write access even to root.
        if (!link && !folder && (access & GENERIC_WRITE) && !(info.st_mode & S_IWUSR))
            return INVALID_HANDLE_VALUE;
        for (auto& entry : state().files) {
            const OpenFile& held = *entry.second;
            if (held.device == info.st_dev && held.inode == info.st_ino &&
                sharing_conflict(held, access, share))
                return INVALID_HANDLE_VALUE;
        }
    }
    int flags_out = (access & GENERIC_WRITE) ? ((access & GENERIC_READ) ? O_RDWR : O_WRONLY) : O_RDONLY;
    if (disposition == CREATE_ALWAYS) flags_out |= O_CREAT | O_TRUNC;
    else if (disposition == CREATE_NEW) flags_out |= O_CREAT | O_EXCL;
    else if (disposition != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    if (folder) flags_out = O_RDONLY | O_DIRECTORY;
    if (link) flags_out = O_PATH | O_NOFOLLOW;
    const int fd = open(path.c_str(), flags_out | O_CLOEXEC, 0644);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    fstat(fd, &info);
    if (link) lstat(path.c_str(), &info);
    HostObject* handle = new_object();
    state().files[handle].reset(new OpenFile{fd, info.st_dev, info.st_ino, access, share, path, link});
    return handle;
}

BOOL DeleteFileW(LPCWSTR name) {
    const std::string path = existing_spelling(host::to_posix(host::utf8(name).c_str()));
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return FALSE;
    // A folder, or a link that may be one, is not a file to delete; nor is
    // a read-only file.
    struct stat target;
    if (S_ISDIR(info.st_mode) || (S_ISLNK(info.st_mode) && stat(path.c_str(), &target) == 0 &&
                                  S_ISDIR(target.st_mode)))
        return FALSE;
    if (!S_ISLNK(info.st_mode) && !(info.st_mode & S_IWUSR)) return FALSE;
    // Open elsewhere: refused unless every handle shares deletion, and even
    // then Windows keeps the name until the last one closes. Either way the
    // name stays.
    for (auto& entry : state().files)
        if (entry.second->device == info.st_dev && entry.second->inode == info.st_ino &&
            (entry.second->access & (GENERIC_READ | GENERIC_WRITE)))
            return FALSE;
    return unlink(path.c_str()) == 0;
}

HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD share, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD attributes, HANDLE template_file) {
    return CreateFileA(host::utf8(name).c_str(), access, share, security, disposition, attributes,
                       template_file);
}

BOOL GetFileInformationByHandle(HANDLE handle, BY_HANDLE_FILE_INFORMATION* info) {
    OpenFile* file = file_of(handle);
    struct stat st;
    if (!file || fstat(file->fd, &st) != 0) return FALSE;
    if (file->link) lstat(file->path.c_str(), &st);
    *info = BY_HANDLE_FILE_INFORMATION();
    info->dwFileAttributes = file->link            ? FILE_ATTRIBUTE_REPARSE_POINT
                             : S_ISDIR(st.st_mode) ? FILE_ATTRIBUTE_DIRECTORY
                                                   : FILE_ATTRIBUTE_NORMAL;
    info->dwVolumeSerialNumber = DWORD(st.st_dev);
    info->nFileSizeHigh = DWORD(uint64_t(st.st_size) >> 32);
    info->nFileSizeLow = DWORD(st.st_size);
    info->nNumberOfLinks = S_ISDIR(st.st_mode) ? 1 : DWORD(st.st_nlink);  // a folder has one name
    info->nFileIndexHigh = DWORD(uint64_t(st.st_ino) >> 32);
    info->nFileIndexLow = DWORD(st.st_ino);
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distance_high, DWORD method) {
    OpenFile* file = file_of(handle);
    if (!file) return INVALID_SET_FILE_POINTER;
    int64_t offset = distance;
    if (distance_high) offset = (int64_t(*distance_high) << 32) | uint32_t(distance);
    const int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_END ? SEEK_END : SEEK_CUR;
    const off_t at = lseek(file->fd, offset, whence);
    if (at < 0) return INVALID_SET_FILE_POINTER;  // before the start
    if (distance_high) *distance_high = LONG(int64_t(at) >> 32);
    return DWORD(at);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD size, LPDWORD read, OVERLAPPED*) {
    OpenFile* file = file_of(handle);
    if (read) *read = 0;
    if (!file || !(file->access & GENERIC_READ)) return FALSE;
    DWORD done = 0;
    while (done < size) {
        const ssize_t n = ::read(file->fd, static_cast<char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return FALSE;
        if (n == 0) break;  // end of file: fewer bytes, still success
        done += DWORD(n);
    }
    if (read) *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD size, LPDWORD written, OVERLAPPED*) {
    OpenFile* file = file_of(handle);
    if (written) *written = 0;
    if (!file || !(file->access & GENERIC_WRITE)) return FALSE;
    DWORD done = 0;
    while (done < size) {
        const ssize_t n = ::write(file->fd, static_cast<const char*>(buffer) + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return FALSE;
        done += DWORD(n);
    }
    if (written) *written = done;
    return TRUE;
}

BOOL CloseHandle(HANDLE handle) {
    auto it = state().files.find(static_cast<HostObject*>(handle));
    if (it == state().files.end()) return FALSE;
    close(it->second->fd);
    const std::string path = it->second->path;
    state().files.erase(it);
    if (state().close_hook && !state().in_hook) {
        state().in_hook = true;  // the hook's own handles do not call it again
        state().close_hook(path);
        state().in_hook = false;
    }
    return TRUE;
}

BOOL CreateDirectoryA(LPCSTR path, SECURITY_ATTRIBUTES*) {
    std::string posix = host::to_posix(path);
    while (posix.size() > 1 && posix.back() == '/') posix.pop_back();
    return mkdir(posix.c_str(), 0755) == 0;
}

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security) {
    return CreateDirectoryA(host::utf8(path).c_str(), security);
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    char ansi[4096];
    if (GetTempPathA(sizeof ansi, ansi) == 0) return 0;
    const std::wstring text = host::wide(ansi);
    if (text.size() + 1 > size) return DWORD(text.size() + 1);  // needed size, buffer untouched
    std::copy(text.c_str(), text.c_str() + text.size() + 1, buffer);
    return DWORD(text.size());
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size) {
    char ansi[4096];
    if (GetModuleFileNameA(module, ansi, sizeof ansi) == 0 || size == 0) return 0;
    const std::wstring text = host::wide(ansi);
    // Like Windows: a path that does not fit is cut and the full size returned.
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::copy(text.c_str(), text.c_str() + n, buffer);
    buffer[n] = 0;
    return text.size() < size ? DWORD(n) : size;
}

int MultiByteToWideChar(UINT code_page, DWORD, LPCSTR text, int length, LPWSTR out,
                        int capacity) {
    if (code_page != CP_ACP || !text || length == 0) return 0;
    const std::string bytes =
        length < 0 ? std::string(text, std::strlen(text) + 1) : std::string(text, size_t(length));
    const std::wstring converted = host::wide(bytes);
    if (capacity == 0) return int(converted.size());
    if (converted.size() > size_t(capacity)) return 0;  // ERROR_INSUFFICIENT_BUFFER
    std::copy(converted.begin(), converted.end(), out);
    return int(converted.size());
}

DWORD GetTempPathA(DWORD size, LPSTR buffer) {
    std::string path = state().temp_path;
    if (path.empty()) return 0;
    for (char& c : path)
        if (c == '/') c = '\\';
    if (path.back() != '\\') path += '\\';
    if (path.size() + 1 > size) return DWORD(path.size() + 1);  // needed size, buffer untouched
    std::memcpy(buffer, path.c_str(), path.size() + 1);
    return DWORD(path.size());
}

DWORD GetModuleFileNameA(HMODULE, LPSTR buffer, DWORD size) {
    std::string path = state().module_path;
    if (path.empty()) {
        char self[4096];
        const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        path.assign(self, n > 0 ? size_t(n) : 0);
    }
    for (char& c : path)
        if (c == '/') c = '\\';
    if (size == 0) return 0;
    // Like Windows: a path that does not fit is cut and the full size returned.
    const size_t n = path.size() < size ? path.size() : size - 1;
    std::memcpy(buffer, path.data(), n);
    buffer[n] = '\0';
    return path.size() < size ? DWORD(n) : size;
}

void Sleep(DWORD milliseconds) {
    log("Sleep(" + std::to_string(milliseconds) + ")");
    state().ticks += milliseconds;
    if (state().sleep_hook && !state().in_hook) {
        state().in_hook = true;
        state().sleep_hook();
        state().in_hook = false;
    }
}

DWORD GetTickCount() { return state().ticks += state().tick_step; }

LPSTR lstrcpyA(LPSTR dst, LPCSTR src) { return std::strcpy(dst, src); }
LPSTR lstrcatA(LPSTR dst, LPCSTR src) { return std::strcat(dst, src); }
int lstrlenA(LPCSTR s) { return s ? int(std::strlen(s)) : 0; }

ATOM RegisterClassA(const WNDCLASSA* c) {
    state().classes[text(c->lpszClassName)] = c->lpfnWndProc;
    log("RegisterClassA(" + text(c->lpszClassName) + ",style=" + hex(c->style) +
        ",cursor=" + id(c->hCursor) + ",icon=" + id(c->hIcon) +
        ",brush=" + std::to_string(reinterpret_cast<uintptr_t>(c->hbrBackground)) +
        ",extra=" + std::to_string(c->cbClsExtra) + "/" + std::to_string(c->cbWndExtra) +
        ",menu=" + text(c->lpszMenuName) + ")");
    return 1;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    log("LoadCursorA(" + std::to_string(reinterpret_cast<uintptr_t>(name)) + ")");
    return new_object();
}

HWND CreateWindowExA(DWORD ex_style, LPCSTR class_name, LPCSTR title, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menu, HINSTANCE, LPVOID) {
    HostObject* window = new_object();
    Window& w = state().windows[window];
    w.class_name = text(class_name);
    auto it = state().classes.find(w.class_name);
    if (it != state().classes.end()) w.procedure = it->second;
    w.client = RECT{0, 0, width, height};
    log("CreateWindowExA(" + hex(ex_style) + "," + w.class_name + "," + text(title) + "," +
        hex(style) + "," + std::to_string(x) + "," + std::to_string(y) + "," +
        std::to_string(width) + "," + std::to_string(height) + "," + id(parent) + "," +
        id(menu) + ")=" + id(window));
    if (w.procedure) w.procedure(window, WM_CREATE, 0, 0);
    return window;
}

BOOL ShowWindow(HWND window, int command) {
    log("ShowWindow(" + id(window) + "," + std::to_string(command) + ")");
    return FALSE;
}

BOOL SetWindowPos(HWND window, HWND after, int x, int y, int cx, int cy, UINT flags) {
    log("SetWindowPos(" + id(window) + "," + id(after) + "," + std::to_string(x) + "," +
        std::to_string(y) + "," + std::to_string(cx) + "," + std::to_string(cy) + "," +
        hex(flags) + ")");
    auto it = state().windows.find(window);
    if (it != state().windows.end()) it->second.client = RECT{0, 0, cx, cy};
    return TRUE;
}

int GetSystemMetrics(int index) {
    return index == SM_CXSCREEN ? state().screen_width
                                : index == SM_CYSCREEN ? state().screen_height : 0;
}

BOOL UpdateWindow(HWND window) {
    log("UpdateWindow(" + id(window) + ")");
    auto it = state().windows.find(window);
    if (it != state().windows.end() && it->second.procedure && it->second.needs_paint)
        it->second.procedure(window, WM_PAINT, 0, 0);
    return TRUE;
}

BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase) {
    log("InvalidateRect(" + id(window) + "," + (rect ? "rect" : "0") + "," +
        std::to_string(erase) + ")");
    auto it = state().windows.find(window);
    if (it != state().windows.end()) it->second.needs_paint = true;
    return TRUE;
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    log("SendMessageA(" + id(window) + "," + hex(message) + "," + std::to_string(wparam) + "," +
        hex(static_cast<unsigned long>(lparam)) + ")");
    return 0;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
    log("BeginPaint(" + id(window) + ")");
    auto it = state().windows.find(window);
    if (it != state().windows.end()) it->second.needs_paint = false;
    HDC dc = new_object();
    if (!state().system_font) state().system_font = new_object();
    state().selected[dc] = state().system_font;
    paint->hdc = dc;
    paint->fErase = TRUE;
    paint->rcPaint = RECT{0, 0, 0, 0};
    return dc;
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
    // The device context goes back to the system as it is: what is still
    // selected in it shows whether the painter restored it.
    auto it = state().selected.find(paint->hdc);
    const bool restored = it == state().selected.end() || it->second == state().system_font;
    if (it != state().selected.end()) state().selected.erase(it);
    log("EndPaint(" + id(window) + (restored ? ")" : ",font left selected)"));
    return TRUE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
    auto it = state().windows.find(window);
    *rect = it != state().windows.end() ? it->second.client : RECT{0, 0, 0, 0};
    return it != state().windows.end();
}

LRESULT DefWindowProcA(HWND window, UINT message, WPARAM, LPARAM) {
    log("DefWindowProcA(" + id(window) + "," + hex(message) + ")");
    return 0;
}

void PostQuitMessage(int exit_code) { log("PostQuitMessage(" + std::to_string(exit_code) + ")"); }

int MessageBoxA(HWND owner, LPCSTR message, LPCSTR caption, UINT type) {
    log("MessageBoxA(" + id(owner) + "," + text(message) + "," + text(caption) + "," + hex(type) +
        ")");
    return IDOK;
}

HFONT CreateFontA(int height, int width, int escapement, int orientation, int weight, DWORD italic,
                  DWORD underline, DWORD strike_out, DWORD charset, DWORD out_precision,
                  DWORD clip_precision, DWORD quality, DWORD pitch_and_family, LPCSTR face) {
    HostObject* font = new_object();
    log("CreateFontA(" + std::to_string(height) + "," + std::to_string(width) + "," +
        std::to_string(escapement) + "," + std::to_string(orientation) + "," +
        std::to_string(weight) + "," + std::to_string(italic) + "," + std::to_string(underline) +
        "," + std::to_string(strike_out) + "," + std::to_string(charset) + "," +
        std::to_string(out_precision) + "," + std::to_string(clip_precision) + "," +
        std::to_string(quality) + "," + std::to_string(pitch_and_family) + "," + text(face) +
        ")=" + id(font));
    return font;
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    log("SelectObject(" + id(dc) + "," + id(object) + ")");
    auto it = state().selected.find(dc);
    if (it == state().selected.end() || !object) return nullptr;
    HGDIOBJ previous = it->second;
    it->second = object;
    return previous;
}

BOOL DeleteObject(HGDIOBJ object) {
    log("DeleteObject(" + id(object) + ")");
    return TRUE;
}

int SetBkMode(HDC dc, int mode) {
    log("SetBkMode(" + id(dc) + "," + std::to_string(mode) + ")");
    return 0;
}

BOOL ExtTextOutA(HDC, int x, int y, UINT options, const RECT* rect, LPCSTR s, UINT count,
                 const int* dx) {
    log("ExtTextOutA(" + std::to_string(x) + "," + std::to_string(y) + "," + hex(options) + "," +
        (rect ? std::to_string(rect->right) + "x" + std::to_string(rect->bottom) : "0") + "," +
        std::string(s, count) + "," + (dx ? "dx" : "0") + ")");
    return TRUE;
}

void init_common_controls() { log("InitCommonControls()"); }

HINSTANCE ShellExecuteW(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                        LPCWSTR directory, int show) {
    auto text = [](LPCWSTR s) { return s ? host::utf8(s) : std::string("(null)"); };
    log("ShellExecuteW(" + id(owner) + "," + text(verb) + "," + text(file) + "," +
        text(parameters) + "," + text(directory) + "," + std::to_string(show) + ")");
    return reinterpret_cast<HINSTANCE>(static_cast<uintptr_t>(42));
}
