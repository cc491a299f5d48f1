#include "run/extract_run.h"

#include "archive/archive_reader.h"
#include "archive/carrier_file_win32.h"
#include "archive/carrier_integrity.h"
#include "archive/chunk_decoder.h"
#include "run/progress_view.h"

namespace {

// Each message to the window is a round trip to the display, each repaint
// more: under Wine, PBM_SETPOS after every chunk cost 15 s for 100 MB, and
// a small file's name, emptied bar and full bar cost 4 ms of its 6. What
// an entry shows is painted a frame after its start (GetTickCount moves in
// 10-16 ms steps on Windows), then at most at that rate, and at its end:
// a file written within a frame shows its name and its end only, which is
// all a user could see of it.
constexpr DWORD kBarRepaintMs = 15;

int32_t g_entry_total;      // stored size of the entry being unpacked
int32_t g_bar_position;     // where the bar should stand
int32_t g_bar_range;        // the range it was last given
int32_t g_bar_shown;        // the position it was last given
DWORD g_bar_shown_at;       // and when, or when the entry started
const char* g_entry_name;   // the entry's name until it is painted

// Joins folder and name into path when the result fits. Names are turned
// into wide characters with the ANSI code page, as the ANSI file services
// would, so each keeps its meaning whatever characters the folder holds.
bool join_path(wchar_t (&path)[kPathCapacity], const wchar_t* folder, const char* name) {
    int length = 0;
    for (; folder[length] != 0; ++length) {
        if (length == kPathCapacity - 1) return false;
        path[length] = folder[length];
    }
    return MultiByteToWideChar(CP_ACP, 0, name, -1, path + length, kPathCapacity - length) != 0;
}

// The bar's range is 16 bits wide: large totals are scaled down by tens.
int32_t scaled(int32_t total, int32_t value) {
    while (total > 65535) {
        total /= 10;
        value /= 10;
    }
    return value;
}

// Which file a handle is open on, as Windows tells files apart (volume
// serial number and file index), so one file is recognised under any
// spelling of its name. All zero when not known, and for a reparse point
// (a symbolic link or a junction): through one, the run could write outside
// its folder.
struct FileId {
    DWORD volume = 0, index_high = 0, index_low = 0;
};

void file_id(HANDLE file, FileId& id) {
    BY_HANDLE_FILE_INFORMATION info;
    id = FileId();
    if (GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        id = FileId{info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
}

bool is_known(const FileId& id) { return (id.volume | id.index_high | id.index_low) != 0; }

bool same_file(const FileId& a, const FileId& b) {
    return is_known(a) &&
           ((a.volume ^ b.volume) | (a.index_high ^ b.index_high) | (a.index_low ^ b.index_low)) == 0;
}

// Opens path itself, never what a link in its place leads to; a folder too.
HANDLE open_itself(const wchar_t* path, DWORD access, DWORD share) {
    return CreateFileW(path, access, share, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// True when path now names the file `held`, itself and not through a link.
bool names_file(const wchar_t* path, const FileId& held) {
    // Attributes only: no program holding the file open can refuse that.
    // One that does not open is known as no file.
    HANDLE file = open_itself(path, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    FileId now;
    file_id(file, now);
    CloseHandle(file);
    return same_file(now, held);
}

bool is_safe_name(const char* name) { return is_contained_name(name) && !is_device_name(name); }

}  // namespace

void show_entry_name(const char* name) { g_entry_name = name; }

namespace {
// The bar where it should stand, then the entry's name if not yet shown.
// A bar that was full at one file's end and is full at the next's shows
// the same pixels: it is left alone.
void show_progress() {
    const int32_t range = scaled(g_entry_total, g_entry_total);
    const bool full_again =
        g_bar_position == range && g_bar_shown == g_bar_range && range != 0 && g_bar_range != 0;
    if (!full_again && (range != g_bar_range || g_bar_position != g_bar_shown)) {
        if (range != g_bar_range) view_bar_range(g_bar_range = range);
        view_show_bar(g_bar_shown = g_bar_position);
    }
    if (g_entry_name) view_show_name(g_entry_name);
    g_entry_name = nullptr;
    g_bar_shown_at = GetTickCount();
}
}  // namespace

void begin_entry_progress(uint32_t stored_size) {
    g_bar_position = 0;
    g_entry_total = static_cast<int32_t>(stored_size);
    g_bar_shown_at = GetTickCount();
}

void advance_progress(uint32_t consumed) {
    g_bar_position = scaled(g_entry_total, static_cast<int32_t>(consumed));
    if ((g_entry_name || g_bar_position != g_bar_shown) &&
        GetTickCount() - g_bar_shown_at >= kBarRepaintMs)
        show_progress();
}

void end_entry_progress() { show_progress(); }

namespace {

// Not on the stack: the launcher's frames stay under a page, as it has no
// stack probes. (Gathering chunks into 256 KiB writes was measured under
// Wine: 100 MB unpacked no faster.)
uint8_t g_decoded[kChunkOutputCapacity];

// The written bytes read back, to compare with what the records decode to.
uint8_t g_read_back[kChunkOutputCapacity];

// Decodes the entry's records into output, or, when `compare`, checks that
// output holds what they decode to (without moving the bar).
bool unpack_records(HANDLE output, CarrierFile archive, uint32_t stored_size, bool compare) {
    ChunkDecoder decoder;
    if (!decoder.ok()) return false;
    uint8_t input[kChunkInputCapacity];
    uint32_t consumed = 0;
    while (consumed < stored_size) {
        uint32_t delivered = 0;
        if (!read_chunk_record(archive, input, &delivered)) return false;
        const uint32_t next = consumed + delivered + 4;
        consumed = next < consumed ? 0xFFFFFFFFu : next;  // no wrap back below the size
        if (!compare) advance_progress(consumed);
        if (delivered == 0) return true;
        const int32_t n = decoder.decode_chunk(input, static_cast<int32_t>(delivered), g_decoded,
                                               kChunkOutputCapacity);
        if (n < 0) return false;
        DWORD done = 0;
        if (!(compare ? ReadFile(output, g_read_back, DWORD(n), &done, nullptr)
                      : WriteFile(output, g_decoded, DWORD(n), &done, nullptr)) ||
            done != DWORD(n))
            return false;
        for (int32_t i = 0; compare && i < n; ++i)
            if (g_read_back[i] != g_decoded[i]) return false;
    }
    return true;
}

}  // namespace

bool extract_entry(HANDLE output, CarrierFile archive, uint32_t stored_size) {
    const bool ok = unpack_records(output, archive, stored_size, false);
    end_entry_progress();
    return ok;
}

namespace {

// What one run has come to, handed from step to step: whether a step
// failed, whether the launch name was read whole (only then may anything
// be opened), and the launch file the run holds.
struct RunResult {
    bool failed = false;
    bool launch_name_read = false;
    FileId launch;  // the launch entry's file while this run has it whole
    HANDLE held = INVALID_HANDLE_VALUE;  // and that file, held until it is opened
};

// %TEMP% into folder. Returns its length, or 0 when there is none or no
// room after it for the folder name and its NUL.
DWORD find_temp(wchar_t (&folder)[kFolderCapacity]) {
    const DWORD length = GetTempPathW(kFolderCapacity, folder);
    return length + sizeof kFolderName > DWORD(kFolderCapacity) ? 0 : length;
}

// Opens the launcher's own file, sharing reads (a scanner reading the
// carrier must not stop the run). Its entries cannot be written into it:
// the run holds it open, so it is never the launch file.
HANDLE open_carrier(wchar_t (&path)[kPathCapacity]) {
    const DWORD length = GetModuleFileNameW(nullptr, path, kPathCapacity);
    // A cut path could name another file.
    if (length == 0 || length >= DWORD(kPathCapacity)) return INVALID_HANDLE_VALUE;
    return CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// True when the carrier's integrity record says it was cut short or
// damaged. Otherwise *content_end is where its archive's trailer ends
// (before a signature).
bool carrier_damaged(CarrierFile archive, uint32_t* content_end) {
    *content_end = seek_end(archive);
    CarrierLayout layout;
    if (!read_carrier_layout(archive, &layout)) return false;
    *content_end = layout.content_end;
    IntegrityRecord record;
    const Integrity state = check_integrity(archive, layout, &record);
    return state == Integrity::kTruncated || state == Integrity::kDamaged;
}

// Lets go of the launch file: no longer the run's to open.
void release_launch(RunResult& result) {
    CloseHandle(result.held);
    result.held = INVALID_HANDLE_VALUE;
    result.launch = FileId();
}

// Holds the launch file just written at path, reading and sharing reads
// only, so that until the shell has opened it no one can write, replace or
// delete it. Someone may have written it after it was closed and before
// this: the entry's records, from `records`, are decoded once more and
// must be what it holds, to its end.
// Kept apart: folded into its caller, it had that frame realigned to 16
// bytes, and every access to it grow.
__attribute__((noinline)) void hold_launch_file(const wchar_t* path, CarrierFile archive,
                                                uint32_t records, uint32_t stored_size,
                                                RunResult& result) {
    result.held = open_itself(path, GENERIC_READ, FILE_SHARE_READ);
    DWORD extra;  // set when the read succeeds, looked at only then
    if (!seek_to(archive, records) || !unpack_records(result.held, archive, stored_size, true) ||
        !ReadFile(result.held, g_read_back, 1, &extra, nullptr) || extra != 0)
        release_launch(result);
    else
        file_id(result.held, result.launch);
}

// The entry's file at path, made anew. Whatever had the name goes first:
// a link's own file, never the one it leads to, so nothing outside the
// folder changes through a link planted there. A name taken again in
// between fails the create.
HANDLE create_output(const wchar_t* path) {
    DeleteFileW(path);
    return CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writes one entry, its name and stored size read, to the file at path and
// closes it. False when the file cannot be created or written whole.
bool unpack_entry(HANDLE carrier, CarrierFile archive, const char* name, uint32_t stored_size,
                  const char* launch_name, const wchar_t* path, RunResult& result) {
    HANDLE output = create_output(path);
    // Refused by the run's own hold: an entry Windows writes into the
    // launch file (any spelling of its name). Let go; the rule decides.
    const bool rewrote = output == INVALID_HANDLE_VALUE && names_file(path, result.launch);
    if (rewrote) {
        release_launch(result);
        output = create_output(path);
    }
    const bool is_launch = same_name(name, launch_name);
    bool whole = false;
    // Where the records start, to read them again.
    const uint32_t records = SetFilePointer(carrier, 0, nullptr, FILE_CURRENT);
    if (output != INVALID_HANDLE_VALUE) {
        show_entry_name(name);
        begin_entry_progress(stored_size);
        whole = extract_entry(output, archive, stored_size);
        CloseHandle(output);
    }
    const LaunchStep step = launch_step(is_launch, rewrote, whole);
    if (step == LaunchStep::kKeep) return whole;
    release_launch(result);
    if (step == LaunchStep::kDrop) return whole;
    hold_launch_file(path, archive, records, stored_size, result);
    return is_known(result.launch);
}

// Every entry in turn, until the end marker or the first failure.
void unpack_entries(HANDLE carrier, const wchar_t* folder, const char* launch_name,
                    wchar_t (&path)[kPathCapacity], RunResult& result) {
    Win32Carrier reader(carrier);
    const CarrierFile archive = reader.file();
    char name[kNameCapacity];
    g_bar_range = g_bar_shown = 0;  // the bar as the window was made: empty
    while (read_name(archive, name)) {
        if (name[0] == '\0') return;  // the end marker
        uint32_t stored_size = 0;
        if (!read_u32(archive, &stored_size) || !is_safe_name(name) ||
            !join_path(path, folder, name) ||
            !unpack_entry(carrier, archive, name, stored_size, launch_name, path, result))
            break;
        Sleep(kEntryPauseMs);
    }
    result.failed = true;
}

// After a failure too, but only the file this run wrote whole and holds:
// never a name outside the folder, a file another carrier left there, or
// one cut short. An empty name opens the folder.
void open_launch_file(const wchar_t* folder, const char* launch_name,
                      wchar_t (&path)[kPathCapacity], RunResult& result) {
    if (!is_safe_name(launch_name) || !join_path(path, folder, launch_name)) {
        result.failed = true;
    } else if (launch_name[0] == '\0' || names_file(path, result.launch)) {
        ShellExecuteW(nullptr, L"Open", path, nullptr, nullptr, SW_SHOWNORMAL);
    }
    Sleep(kLaunchPauseMs);
    release_launch(result);
}

}  // namespace

int extract_archive() {
    RunResult result;
    wchar_t folder[kFolderCapacity];
    wchar_t path[kPathCapacity];
    char launch_name[kNameCapacity];
    const DWORD temp_length = find_temp(folder);
    const HANDLE handle = temp_length ? open_carrier(path) : INVALID_HANDLE_VALUE;
    Win32Carrier carrier(handle);
    const CarrierFile archive = carrier.file();
    uint32_t content_end = 0;
    // A carrier that says how it was made must still be that: otherwise
    // nothing is written and nothing opened, not even a stale launch file.
    if (handle != INVALID_HANDLE_VALUE && !carrier_damaged(archive, &content_end)) {
        MultiByteToWideChar(CP_ACP, 0, kFolderName, -1, folder + temp_length,
                            kFolderCapacity - int(temp_length));
        CreateDirectoryW(folder, nullptr);  // an existing folder is used as it is
        // Held while the run writes, not shared for deletion, so that no
        // link can take its place meanwhile; one that is a link already
        // fails the run.
        const HANDLE held_folder =
            open_itself(folder, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
        FileId folder_id;
        file_id(held_folder, folder_id);
        result.launch_name_read = is_known(folder_id) &&
                                  locate_archive_before(archive, content_end) &&
                                  read_name(archive, launch_name);
        if (result.launch_name_read) unpack_entries(handle, folder, launch_name, path, result);
        CloseHandle(held_folder);
    }
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    if (!result.launch_name_read) return 0;  // nothing to open
    open_launch_file(folder, launch_name, path, result);
    return result.failed ? 0 : 1;
}
