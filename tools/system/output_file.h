// The files courier-pack writes, carriers and extracted entries alike: each
// is built out of sight beside its final name and put in place by a rename
// once whole. Until then a file of that name stays as it was, and a run that
// fails or is interrupted leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// True when both paths name one existing file, however they are spelled or
// linked: the same device and inode (on Windows, volume and file index).
bool same_file(const std::filesystem::path& a, const std::filesystem::path& b);

// Why a rename must not replace `path`: it exists and is not a plain regular
// file (a symbolic link, a folder, a FIFO, a device). "" when it is absent
// or a regular file.
std::string not_replaceable(const std::filesystem::path& path);

// The file `path` leads to once its symbolic links are followed; it need not
// exist yet. False, with the reason, when the links cannot be followed (on
// Windows, whenever `path` is a link or junction).
bool follow_links(const std::filesystem::path& path, std::filesystem::path& file,
                  std::string& reason);

// True when standard output is a regular file a carrier can be written
// straight into, from where it stands: not opened to append (a write could
// not go back), and none of `read`, which is still being read meanwhile.
bool stdout_writable_in_place(const std::vector<std::filesystem::path>& read);

// A file on its way to `target`. On Linux it has no name (O_TMPFILE) until
// commit() links it in; where the file system cannot do that, it is a
// temporary file beside the target, removed on SIGINT, SIGTERM and SIGHUP.
// On Windows it is marked for deletion until commit() renames it. One
// process keeps at most one named temporary file at a time.
class OutputFile {
public:
    explicit OutputFile(const std::filesystem::path& target);
    // Instead, straight into standard output where it stands, when
    // stdout_writable_in_place(): no temporary file, and what was written
    // is cut off again unless send_to_stdout() is reached.
    struct IntoStandardOutput {};
    explicit OutputFile(IntoStandardOutput);
    ~OutputFile();  // discards the file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // "" while all is well; else what failed, after which nothing is kept.
    const std::string& error() const { return error_; }
    void write(const void* data, size_t size);
    // Replaces bytes written before.
    void write_at(uint64_t offset, const void* data, size_t size);
    // Puts the file in place, replacing a file of the target's name.
    bool commit();
    // Nothing written yet.
    bool empty() const { return written_ == 0; }
    // Another name in the target's folder to put it in place under.
    void retarget(const std::filesystem::path& target) { target_ = target; }
    // Whether no other file may be on its way meanwhile: the one named
    // temporary file the signal handler removes.
    bool alone() const;
    // Instead of a name (pack -o -): the file goes whole to standard output,
    // any temporary name it had removed first; it is gone once closed.
    bool send_to_stdout();

private:
    bool flush();
    bool fail(const std::string& what);
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temp_;  // "" while the file has no name
    std::vector<uint8_t> buffer_;
#ifdef _WIN32
    void* handle_;
#else
    int fd_ = -1;
#endif
    std::string error_;
    bool done_ = false;
    bool direct_ = false;  // standard output itself, written from base_
    uint64_t base_ = 0;
    uint64_t written_ = 0;
};
