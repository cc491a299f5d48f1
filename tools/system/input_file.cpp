#include "tools/system/input_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/system/console.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifdef _WIN32

InputFile::InputFile(const std::filesystem::path& path)
    : handle_(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr)) {
    if (handle_ == INVALID_HANDLE_VALUE) error_ = system_reason();
}

InputFile::~InputFile() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

bool InputFile::is_open() const { return handle_ != INVALID_HANDLE_VALUE; }

uint64_t InputFile::size() {
    LARGE_INTEGER size;
    return GetFileSizeEx(handle_, &size) ? uint64_t(size.QuadPart) : UINT64_MAX;
}

bool InputFile::stamp(FileStamp& stamp) {
    FILE_BASIC_INFO times;
    LARGE_INTEGER size;
    if (!GetFileInformationByHandleEx(handle_, FileBasicInfo, &times, sizeof times) ||
        !GetFileSizeEx(handle_, &size))
        return false;
    stamp.size = uint64_t(size.QuadPart);
    stamp.written = uint64_t(times.LastWriteTime.QuadPart);
    stamp.changed = uint64_t(times.ChangeTime.QuadPart);
    return true;
}

bool InputFile::raw_seek(uint64_t offset) {
    LARGE_INTEGER at;
    at.QuadPart = LONGLONG(offset);
    return SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) != 0;
}

bool InputFile::raw_read(void* buffer, size_t size, size_t* got) {
    *got = 0;
    // ReadFile takes 32-bit counts: large reads go in pieces.
    while (size > 0) {
        const DWORD want = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD delivered = 0;
        if (!ReadFile(handle_, static_cast<char*>(buffer) + *got, want, &delivered, nullptr))
            return false;
        *got += delivered;
        size -= delivered;
        if (delivered < want) break;
    }
    return true;
}

#else

InputFile::InputFile(const std::filesystem::path& path)
    // Not blocking: a FIFO is refused below, not waited on.
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    struct stat st;
    if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
        error_ = S_ISDIR(st.st_mode) ? system_reason() : "not a regular file";
        return;
    }
    if (fd_ >= 0) ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    if (fd_ < 0) error_ = system_reason();
}

InputFile::~InputFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool InputFile::is_open() const { return fd_ >= 0; }

uint64_t InputFile::size() {
    struct stat st;
    return ::fstat(fd_, &st) == 0 ? uint64_t(st.st_size) : UINT64_MAX;
}

bool InputFile::stamp(FileStamp& stamp) {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    stamp.size = uint64_t(st.st_size);
    stamp.written = uint64_t(st.st_mtim.tv_sec) * 1000000000u + uint64_t(st.st_mtim.tv_nsec);
    stamp.changed = uint64_t(st.st_ctim.tv_sec) * 1000000000u + uint64_t(st.st_ctim.tv_nsec);
    return true;
}

bool InputFile::raw_seek(uint64_t offset) {
    return offset <= uint64_t(INT64_MAX) && ::lseek(fd_, off_t(offset), SEEK_SET) == off_t(offset);
}

bool InputFile::raw_read(void* buffer, size_t size, size_t* got) {
    *got = 0;
    while (size > 0) {
        const ssize_t n = ::read(fd_, static_cast<char*>(buffer) + *got, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *got += size_t(n);
        size -= size_t(n);
    }
    return true;
}

#endif

namespace {
constexpr size_t kReadAhead = 64 * 1024;
}

bool InputFile::seek(uint64_t offset) {
    ahead_.clear();
    ahead_at_ = 0;
    if (offset < head_.size()) {  // the system's position is set when a read leaves the head
        position_ = offset;
        raw_behind_ = true;
        return true;
    }
    if (!raw_seek(offset)) return false;
    position_ = offset;
    raw_behind_ = false;
    return true;
}

const std::vector<uint8_t>& InputFile::head() {
    if (head_read_) return head_;
    head_read_ = true;
    const uint64_t at = position_;
    std::vector<uint8_t> bytes(kHeadSize);
    size_t got = 0;
    if (raw_seek(0) && raw_read(bytes.data(), bytes.size(), &got)) {
        bytes.resize(got);
        head_ = std::move(bytes);
    }
    seek(at);
    return head_;
}

uint64_t InputFile::position() { return position_; }

bool InputFile::read(void* buffer, size_t size, size_t* got) {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    *got = 0;
    if (position_ < head_.size() && size > 0) {  // ahead_ is empty here: seek emptied it
        const size_t n = std::min(size, size_t(head_.size() - position_));
        std::memcpy(out, &head_[size_t(position_)], n);
        out += n;
        size -= n;
        *got += n;
        position_ += n;
    }
    if (size > 0 && raw_behind_) {
        if (!raw_seek(position_)) return false;
        raw_behind_ = false;
    }
    while (size > 0) {
        if (ahead_at_ == ahead_.size()) {
            ahead_.clear();
            ahead_at_ = 0;
            size_t delivered = 0;
            if (size >= kReadAhead) {  // large reads go straight through
                const bool ok = raw_read(out, size, &delivered);
                *got += delivered;
                position_ += delivered;
                return ok;
            }
            ahead_.resize(kReadAhead);
            const bool ok = raw_read(ahead_.data(), kReadAhead, &delivered);
            ahead_.resize(delivered);
            if (!ok) return false;
            if (delivered == 0) return true;  // the end of the file
        }
        const size_t n = std::min(size, ahead_.size() - ahead_at_);
        std::memcpy(out, &ahead_[ahead_at_], n);
        ahead_at_ += n;
        out += n;
        size -= n;
        *got += n;
        position_ += n;
    }
    return true;
}

bool InputFile::read_at(uint64_t offset, void* buffer, size_t size) {
    size_t got = 0;
    return seek(offset) && read(buffer, size, &got) && got == size;
}

uint32_t InputFile::seek_end() {
    const uint64_t length = size();
    if (length >= kSeekFailed || !seek(length)) return kSeekFailed;
    return uint32_t(length);
}

bool InputFile::read_bytes(void* buffer, uint32_t size, uint32_t* got) {
    size_t delivered = 0;
    const bool ok = read(buffer, size, &delivered);
    *got = uint32_t(delivered);
    return ok;
}
