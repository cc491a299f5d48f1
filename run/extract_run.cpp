#include "run/extract_run.h"

#include "archive/archive_reader.h"
#include "archive/carrier_integrity.h"
#include "archive/chunk_decoder.h"

char g_current_name[260];
int32_t g_entry_total = 0;
HWND g_popup_window = nullptr;
HWND g_progress_bar = nullptr;

namespace {

constexpr char kFolderName[] = "BriskCourierTmp\\";
constexpr int32_t kPathCapacity = 256;  // the joined path buffer
constexpr DWORD kEntryPauseMs = 100;
constexpr DWORD kLaunchPauseMs = 500;
// Each position given to the bar is a repaint, and a round trip to the
// display: under Wine, PBM_SETPOS after every chunk cost 15 s for 100 MB.
// The bar is given a new position and repainted at most at about display
// rate (GetTickCount moves in 10-16 ms steps on Windows), and at the end.
constexpr DWORD kBarRepaintMs = 15;

int32_t g_bar_position;  // where the bar should stand
int32_t g_bar_shown;     // where it was last put
DWORD g_bar_shown_at;    // and when

// Joins folder and name into path when the result fits.
bool join_path(char (&path)[kPathCapacity], const char* folder, const char* name) {
    if (lstrlenA(folder) + lstrlenA(name) >= kPathCapacity) return false;
    lstrcpyA(path, folder);
    lstrcatA(path, name);
    return true;
}

// The bar's range is 16 bits wide: large totals are scaled down by tens.
int32_t scaled(int32_t total, int32_t value) {
    while (total > 65535) {
        total /= 10;
        value /= 10;
    }
    return value;
}

}  // namespace

bool is_contained_name(const char* name) {
    if (name[0] == '\\' || name[0] == '/') return false;
    const char* component = name;
    for (const char* p = name;; ++p) {
        if (*p == ':') return false;
        if (*p == '\\' || *p == '/' || *p == '\0') {
            if (p - component == 2 && component[0] == '.' && component[1] == '.') return false;
            if (*p == '\0') return true;
            component = p + 1;
        }
    }
}

void show_entry_name(const char* name) {
    lstrcpyA(g_current_name, name);
    InvalidateRect(g_popup_window, nullptr, TRUE);
    UpdateWindow(g_popup_window);
}

namespace {
void show_bar_position() {
    SendMessageA(g_progress_bar, PBM_SETPOS, static_cast<WPARAM>(g_bar_position), 0);
    g_bar_shown = g_bar_position;
    g_bar_shown_at = GetTickCount();
    UpdateWindow(g_progress_bar);
}
}  // namespace

void begin_entry_progress(uint32_t stored_size) {
    g_bar_position = 0;
    SendMessageA(g_progress_bar, PBM_SETPOS, 0, 0);
    g_entry_total = static_cast<int32_t>(stored_size);
    const int32_t range = scaled(g_entry_total, g_entry_total);
    SendMessageA(g_progress_bar, PBM_SETRANGE, 0, MAKELPARAM(0, range));
    // The new range is painted with the next position, a frame from now or
    // at the end: most files take less than a frame.
    g_bar_shown = 0;
    g_bar_shown_at = GetTickCount();
}

void advance_progress(uint32_t consumed) {
    g_bar_position = scaled(g_entry_total, static_cast<int32_t>(consumed));
    if (g_bar_position != g_bar_shown && GetTickCount() - g_bar_shown_at >= kBarRepaintMs)
        show_bar_position();
}

void end_entry_progress() { show_bar_position(); }

namespace {

// Not on the stack: the launcher's frames stay under a page, as it has no
// stack probes. (Gathering chunks into 256 KiB writes was measured under
// Wine: 100 MB unpacked no faster.)
uint8_t g_decoded[kChunkOutputCapacity];

bool unpack_records(HANDLE output, HANDLE archive, uint32_t stored_size) {
    ChunkDecoder decoder;
    if (!decoder.ok()) return false;
    uint8_t input[kChunkInputCapacity];
    uint32_t consumed = 0;
    while (consumed < stored_size) {
        uint32_t delivered = 0;
        if (!read_chunk_record(archive, input, &delivered)) return false;
        const uint32_t next = consumed + delivered + 4;
        consumed = next < consumed ? 0xFFFFFFFFu : next;  // no wrap back below the size
        advance_progress(consumed);
        if (delivered == 0) return true;
        const int32_t n = decoder.decode_chunk(input, static_cast<int32_t>(delivered), g_decoded,
                                               kChunkOutputCapacity);
        if (n < 0) return false;
        DWORD written = 0;
        if (n > 0 && (!WriteFile(output, g_decoded, static_cast<DWORD>(n), &written, nullptr) ||
                      written != static_cast<DWORD>(n)))
            return false;
    }
    return true;
}

}  // namespace

bool extract_entry(HANDLE output, HANDLE archive, uint32_t stored_size) {
    const bool ok = unpack_records(output, archive, stored_size);
    end_entry_progress();
    return ok;
}

int extract_archive() {
    char launch_name[kNameCapacity];
    char entry_name[kNameCapacity];
    char folder[260];
    char path[kPathCapacity];
    bool failed = false;
    bool have_launch_name = false;
    bool have_folder = false;
    HANDLE archive = INVALID_HANDLE_VALUE;
    HANDLE output = INVALID_HANDLE_VALUE;

    const DWORD temp_length = GetTempPathA(sizeof folder, folder);
    if (temp_length == 0 || temp_length + sizeof kFolderName > sizeof folder) {
        failed = true;  // no temporary directory, or no room for the folder name
    } else {
        const DWORD own_length = GetModuleFileNameA(nullptr, path, kPathCapacity);
        if (own_length == 0 || own_length >= DWORD(kPathCapacity)) {
            failed = true;  // a cut path could name another file
        } else {
            archive = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
            if (archive == INVALID_HANDLE_VALUE) failed = true;
        }
        // A carrier that says how it was made must still be that: otherwise
        // nothing is written and nothing opened, not even a stale launch file.
        uint32_t content_end = 0;
        bool damaged = false;
        CarrierLayout layout;
        IntegrityRecord record;
        if (!failed) content_end = SetFilePointer(archive, 0, nullptr, FILE_END);
        if (!failed && read_carrier_layout(archive, &layout)) {
            content_end = layout.content_end;
            const Integrity state = check_integrity(archive, layout, &record);
            damaged = state == Integrity::kTruncated || state == Integrity::kDamaged;
        }
        if (damaged) {
            failed = true;
        } else {
            have_folder = true;
            lstrcatA(folder, kFolderName);
            CreateDirectoryA(folder, nullptr);  // an existing folder is used as it is
        }
        if (!failed && !locate_archive_before(archive, content_end)) failed = true;
        if (!failed) {
            if (read_name(archive, launch_name)) have_launch_name = true;
            else failed = true;
        }
        while (!failed) {
            if (!read_name(archive, entry_name)) {
                failed = true;
                break;
            }
            if (entry_name[0] == '\0') break;  // end marker
            uint32_t stored_size = 0;
            if (!read_u32(archive, &stored_size) || !is_contained_name(entry_name) ||
                !join_path(path, folder, entry_name)) {
                failed = true;
                break;
            }
            output = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            if (output == INVALID_HANDLE_VALUE) {
                failed = true;
                break;
            }
            show_entry_name(entry_name);
            begin_entry_progress(stored_size);
            if (!extract_entry(output, archive, stored_size)) {
                failed = true;
                break;
            }
            CloseHandle(output);
            output = INVALID_HANDLE_VALUE;
            Sleep(kEntryPauseMs);
        }
        if (archive != INVALID_HANDLE_VALUE) CloseHandle(archive);
        if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
    }

    // The launch happens after a failure too, but never with a name that was
    // not read whole or that points outside the folder.
    if (have_folder && have_launch_name) {
        if (is_contained_name(launch_name) && join_path(path, folder, launch_name)) {
            ShellExecuteA(nullptr, "Open", path, nullptr, nullptr, SW_SHOWNORMAL);
        } else {
            failed = true;
        }
        Sleep(kLaunchPauseMs);
    }
    return failed ? 0 : 1;
}
