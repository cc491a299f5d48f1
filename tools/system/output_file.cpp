#include "tools/system/output_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>

#include "tools/system/console.h"
#include "tools/system/test_seams.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr size_t kFlushAt = size_t(1) << 18;
constexpr int kNameAttempts = 100;

// A name beside `target` that nothing has yet.
fs::path temp_name(const fs::path& target, std::random_device& random) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".tmp-%06x", unsigned(random() & 0xFFFFFF));
    fs::path name = target;
    name += suffix;
    return name;
}

fs::path folder_of(const fs::path& target) {
    return target.has_parent_path() ? target.parent_path() : fs::path(".");
}

}  // namespace

#ifdef _WIN32

namespace {

std::string windows_error(DWORD code = GetLastError()) {
    SetLastError(code);
    return system_reason();
}

// Opens `path`, a folder too, to read its attributes only; with
// FILE_FLAG_OPEN_REPARSE_POINT, a link itself rather than its target.
HANDLE open_for_query(const fs::path& path, DWORD flags) {
    return CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr);
}

bool file_info(const fs::path& path, BY_HANDLE_FILE_INFORMATION* info) {
    const HANDLE handle = open_for_query(path, 0);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(handle, info);
    CloseHandle(handle);
    return ok;
}

bool mark_for_deletion(HANDLE handle, bool deleted) {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = deleted;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                      sizeof disposition);
}

}  // namespace

bool same_file(const fs::path& a, const fs::path& b) {
    BY_HANDLE_FILE_INFORMATION x, y;
    return file_info(a, &x) && file_info(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

std::string not_replaceable(const fs::path& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return "";
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return "a symbolic link or junction";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a folder";
    const HANDLE handle = open_for_query(path, FILE_FLAG_OPEN_REPARSE_POINT);
    const DWORD type = handle == INVALID_HANDLE_VALUE ? FILE_TYPE_DISK : GetFileType(handle);
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    return type == FILE_TYPE_DISK ? "" : "not a regular file";
}

bool follow_links(const fs::path& path, fs::path& file, std::string& reason) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        reason = "a symbolic link or junction: give the file it leads to";
        return false;
    }
    file = path;
    return true;
}

OutputFile::OutputFile(const fs::path& target) : target_(target), handle_(INVALID_HANDLE_VALUE) {
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts && handle_ == INVALID_HANDLE_VALUE; ++attempt) {
        temp_ = temp_name(target, random);
        handle_ = CreateFileW(temp_.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle_ == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (handle_ == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        temp_.clear();
        fail("cannot create a file in " + folder_of(target).u8string() + ": " + windows_error(code));
        return;
    }
    // Gone with the last handle, however the process ends, until commit().
    if (!mark_for_deletion(handle_, true)) fail("cannot mark it temporary: " + windows_error());
}

bool stdout_writable_in_place(const std::vector<fs::path>& read) {
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION o, i;
    if (out == INVALID_HANDLE_VALUE || out == nullptr || GetFileType(out) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(out, &o))
        return false;
    for (const fs::path& file : read)
        if (file_info(file, &i) && i.dwVolumeSerialNumber == o.dwVolumeSerialNumber &&
            i.nFileIndexHigh == o.nFileIndexHigh && i.nFileIndexLow == o.nFileIndexLow)
            return false;
    return true;
}

OutputFile::OutputFile(IntoStandardOutput) : handle_(INVALID_HANDLE_VALUE), direct_(true) {
    LARGE_INTEGER at;
    if (!DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_OUTPUT_HANDLE), GetCurrentProcess(),
                         &handle_, 0, FALSE, DUPLICATE_SAME_ACCESS) ||
        !SetFilePointerEx(handle_, {}, &at, FILE_CURRENT)) {
        fail("cannot write to it: " + windows_error());
        return;
    }
    base_ = uint64_t(at.QuadPart);
}

bool OutputFile::flush() {
    const uint8_t* at = buffer_.data();
    for (size_t left = buffer_.size(); left > 0 && error_.empty();) {
        DWORD written = 0;
        const DWORD chunk = DWORD(std::min<size_t>(left, size_t(1) << 30));
        if (!WriteFile(handle_, at, chunk, &written, nullptr) || written == 0)
            return fail("write failed: " + windows_error());
        at += written;
        left -= written;
    }
    buffer_.clear();
    return error_.empty();
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size) {
    if (!flush()) return;
    LARGE_INTEGER at, end;
    at.QuadPart = LONGLONG(base_ + offset);
    if (!SetFilePointerEx(handle_, {}, &end, FILE_CURRENT) ||
        !SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) {
        fail("seek failed: " + windows_error());
        return;
    }
    write(data, size);
    if (flush() && !SetFilePointerEx(handle_, end, nullptr, FILE_BEGIN))
        fail("seek failed: " + windows_error());
}

bool OutputFile::commit() {
    if (!error_.empty() || !flush()) return false;
    if (!mark_for_deletion(handle_, false)) return fail("cannot keep it: " + windows_error());
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!MoveFileExW(temp_.c_str(), target_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD code = GetLastError();
        DeleteFileW(temp_.c_str());
        return fail("cannot put it in place (" + windows_error(code) + ")");
    }
    done_ = true;
    return true;
}

bool OutputFile::send_to_stdout() {
    if (!error_.empty() || !flush()) return false;
    if (direct_) {  // there already
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return done_ = true;
    }
    const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    LARGE_INTEGER start = {};
    if (!SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN)) return fail("seek failed: " + windows_error());
    std::vector<uint8_t> block(size_t(1) << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle_, block.data(), DWORD(block.size()), &got, nullptr))
            return fail("cannot read it back: " + windows_error());
        if (got == 0) return true;
        for (DWORD done = 0; done < got;) {
            DWORD written = 0;
            if (!WriteFile(out, block.data() + done, got - done, &written, nullptr) || written == 0)
                return fail(windows_error());
            done += written;
        }
    }
}

bool OutputFile::alone() const { return false; }  // deleted with its handle, however the process ends

void OutputFile::discard() {
    if (handle_ == INVALID_HANDLE_VALUE) return;
    if (direct_) {  // standard output as it was
        LARGE_INTEGER at;
        at.QuadPart = LONGLONG(base_);
        if (SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN)) SetEndOfFile(handle_);
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
        return;
    }
    const bool marked = mark_for_deletion(handle_, true);
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    if (!marked) DeleteFileW(temp_.c_str());
}

#else  // POSIX

namespace {

// The one named temporary file, for the signal handler to remove.
char g_named[4096];
volatile sig_atomic_t g_have_named = 0;

void remove_named_and_end(int signal_number) {
    if (g_have_named) unlink(g_named);
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Set before the file gets its name, cleared once it has lost it.
void watch_named(const fs::path& path) {
    static bool installed = false;
    if (!installed) {
        installed = true;
        for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
            struct sigaction old = {};
            sigaction(signal_number, nullptr, &old);
            if (old.sa_handler == SIG_IGN) continue;  // as nohup asked
            struct sigaction action = {};
            action.sa_handler = remove_named_and_end;
            sigemptyset(&action.sa_mask);
            sigaction(signal_number, &action, nullptr);
        }
    }
    g_have_named = 0;
    std::snprintf(g_named, sizeof g_named, "%s", path.c_str());
    g_have_named = path.native().size() < sizeof g_named;
}

void forget_named() { g_have_named = 0; }

// A file of ours holds a lock for as long as the process writing it lives,
// so another run can tell one that kill -9 left from one being written.
// Where the file system has no locks, no file is ever taken for stale.
bool lock(int fd) { return flock(fd, LOCK_EX | LOCK_NB) == 0; }

// True when `path` still names the open file `fd`: a run that took it for
// stale in the moment before our lock may have removed it.
bool still_named(int fd, const fs::path& path) {
    struct stat by_name, open;
    return stat(path.c_str(), &by_name) == 0 && fstat(fd, &open) == 0 &&
           by_name.st_dev == open.st_dev && by_name.st_ino == open.st_ino;
}

// The target a name temp_name made is for: the name less ".tmp-" and six
// hex digits; "" when it is no such name.
std::string temp_target(const std::string& name) {
    const size_t base = name.size() < 11 ? std::string::npos : name.size() - 11;
    if (base == std::string::npos || base == 0 || name.compare(base, 5, ".tmp-") != 0 ||
        name.find_first_not_of("0123456789abcdef", base + 5) != std::string::npos)
        return "";
    return name.substr(0, base);
}

// Removes the named temporary files that an earlier run, killed outright,
// left for `target`: ours by their name and owner, and locked by no one.
// Each folder is read once a run, so an extract of many entries does not
// read it again for each.
void remove_stale(const fs::path& target) {
    static std::map<fs::path, std::multimap<std::string, fs::path>> candidates;
    const fs::path folder = folder_of(target);
    auto [found, first] = candidates.emplace(folder, std::multimap<std::string, fs::path>());
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; first && !ec && it != end; it.increment(ec)) {
        const std::string owner = temp_target(it->path().filename().native());
        if (!owner.empty()) found->second.emplace(owner, it->path());
    }
    const auto [from, to] = found->second.equal_range(target.filename().native());
    for (auto it = from; it != to; ++it) {
        const fs::path& path = it->second;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid())
            continue;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        if (lock(fd) && still_named(fd, path)) unlink(path.c_str());
        close(fd);
    }
    found->second.erase(from, to);
}

bool unnamed_allowed() { return !test_seam("COURIER_PACK_NAMED_TEMP"); }

std::string system_error(int code = errno) { return std::strerror(code); }

}  // namespace

bool same_file(const fs::path& a, const fs::path& b) {
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev &&
           x.st_ino == y.st_ino;
}

std::string not_replaceable(const fs::path& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return "";
    if (S_ISLNK(info.st_mode)) return "a symbolic link";
    if (S_ISDIR(info.st_mode)) return "a folder";
    return "not a regular file (a FIFO, socket or device)";
}

bool follow_links(const fs::path& path, fs::path& file, std::string& reason) {
    file = path;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(file, ec))) return true;
        const fs::path link = fs::read_symlink(file, ec);
        if (ec) {
            reason = ec.message();
            return false;
        }
        file = link.is_absolute() ? link : file.parent_path() / link;
    }
    reason = "too many levels of symbolic links";
    return false;
}

OutputFile::OutputFile(const fs::path& target) : target_(target) {
#ifdef O_TMPFILE
    // Linking it in later goes through /proc, so both must be there.
    if (access("/proc/self/fd", X_OK) == 0 && unnamed_allowed())
        fd_ = open(folder_of(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
    if (fd_ >= 0) lock(fd_);  // it may get a temporary name in commit()
#endif
    if (fd_ < 0) remove_stale(target);
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts && fd_ < 0; ++attempt) {
        temp_ = temp_name(target, random);
        watch_named(temp_);
        fd_ = open(temp_.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            forget_named();
            if (errno != EEXIST) break;
            continue;
        }
        if (test_seam("COURIER_PACK_STOP_BEFORE_LOCK")) raise(SIGSTOP);
        // Another run may have taken it for stale in the instant before our
        // lock: it holds the lock, or has removed the name.
        const bool locked_elsewhere = !lock(fd_) && errno == EWOULDBLOCK;
        if (locked_elsewhere || !still_named(fd_, temp_)) {
            forget_named();
            close(fd_);
            fd_ = -1;
            errno = EEXIST;
        }
    }
    if (fd_ < 0) {
        const int code = errno;
        temp_.clear();
        fail("cannot create a file in " + folder_of(target).u8string() + ": " + system_error(code));
    }
}

bool stdout_writable_in_place(const std::vector<fs::path>& read) {
    struct stat out, in;
    const int flags = fcntl(STDOUT_FILENO, F_GETFL);
    if (flags < 0 || (flags & O_APPEND) || fstat(STDOUT_FILENO, &out) != 0 || !S_ISREG(out.st_mode))
        return false;
    for (const fs::path& file : read)
        if (stat(file.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino)
            return false;
    return true;
}

OutputFile::OutputFile(IntoStandardOutput) : direct_(true) {
    fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    const off_t at = fd_ < 0 ? off_t(-1) : lseek(fd_, 0, SEEK_CUR);
    if (at < 0) {
        fail("cannot write to it: " + system_error());
        return;
    }
    base_ = uint64_t(at);
}

bool OutputFile::flush() {
    const uint8_t* at = buffer_.data();
    for (size_t left = buffer_.size(); left > 0 && error_.empty();) {
        const ssize_t n = ::write(fd_, at, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail("write failed: " + system_error(n < 0 ? errno : ENOSPC));
        at += n;
        left -= size_t(n);
    }
    buffer_.clear();
    return error_.empty();
}

void OutputFile::write_at(uint64_t offset, const void* data, size_t size) {
    if (!flush()) return;
    const uint8_t* at = static_cast<const uint8_t*>(data);
    for (size_t left = size; left > 0;) {
        const ssize_t n = pwrite(fd_, at, left, off_t(base_ + offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            fail("write failed: " + system_error(n < 0 ? errno : ENOSPC));
            return;
        }
        at += n;
        offset += uint64_t(n);
        left -= size_t(n);
    }
}

bool OutputFile::commit() {
    if (!error_.empty() || !flush()) return false;
    if (temp_.empty()) {
        // Straight to its name when nothing has it; else through a named
        // temporary file, as rename is what replaces a file in one step.
        char self[64];
        std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd_);
        if (linkat(AT_FDCWD, self, AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            done_ = true;
            return true;
        }
        if (errno != EEXIST) return fail("cannot put it in place: " + system_error());
        std::random_device random;
        for (int attempt = 0; attempt < kNameAttempts && temp_.empty(); ++attempt) {
            temp_ = temp_name(target_, random);
            watch_named(temp_);
            if (linkat(AT_FDCWD, self, AT_FDCWD, temp_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
            const int code = errno;
            forget_named();
            temp_.clear();
            if (code != EEXIST) return fail("cannot put it in place: " + system_error(code));
        }
        if (temp_.empty()) return fail("cannot put it in place: no free temporary name");
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0) return fail("cannot put it in place: " + system_error());
    forget_named();
    done_ = true;
    return true;
}

bool OutputFile::send_to_stdout() {
    if (!error_.empty() || !flush()) return false;
    if (direct_) return done_ = true;  // there already
    if (!temp_.empty()) {  // the descriptor is all it needs
        forget_named();
        unlink(temp_.c_str());
        temp_.clear();
    }
    std::vector<uint8_t> block(size_t(1) << 20);
    for (off_t at = 0;;) {
        const ssize_t got = pread(fd_, block.data(), block.size(), at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail("cannot read it back: " + system_error());
        if (got == 0) return true;
        at += got;
        for (ssize_t done = 0; done < got;) {
            const ssize_t n = ::write(STDOUT_FILENO, block.data() + done, size_t(got - done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return fail(system_error(n < 0 ? errno : ENOSPC));
            done += n;
        }
    }
}

bool OutputFile::alone() const { return !temp_.empty(); }

void OutputFile::discard() {
    if (!temp_.empty()) {
        forget_named();
        unlink(temp_.c_str());
    }
    // Standard output as it was, its position too, which it shares.
    if (direct_ && fd_ >= 0 && ftruncate(fd_, off_t(base_)) == 0) lseek(fd_, off_t(base_), SEEK_SET);
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

#endif

void OutputFile::write(const void* data, size_t size) {
    if (!error_.empty()) return;
    written_ += size;
    buffer_.insert(buffer_.end(), static_cast<const uint8_t*>(data),
                   static_cast<const uint8_t*>(data) + size);
    if (buffer_.size() >= kFlushAt) flush();
}

OutputFile::~OutputFile() {
    if (!done_) discard();
#ifndef _WIN32
    if (fd_ >= 0) close(fd_);
#endif
}

bool OutputFile::fail(const std::string& what) {
    if (error_.empty()) error_ = what;
    return false;
}
