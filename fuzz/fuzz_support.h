// Shared by the fuzz targets: a check that stops the fuzzer, and the scratch
// tree an extraction runs in.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"

// Reported as a crash by libFuzzer and by the standalone runner alike.
#define FUZZ_CHECK(condition, ...)                                                 \
    do {                                                                           \
        if (!(condition)) {                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s: ", __FILE__, __LINE__, \
                         #condition);                                              \
            std::fprintf(stderr, __VA_ARGS__);                                     \
            std::fprintf(stderr, "\n");                                            \
            std::abort();                                                          \
        }                                                                          \
    } while (0)

// A scratch root holding the carrier and a %TEMP% nested so deep that no
// name the launcher can join (255 characters in all) climbs out of the root
// with "..": whatever a run writes, a walk of the root sees it.
//
//   root/carrier.exe
//   root/d/d/.../d/               %TEMP%
//   root/d/d/.../d/BriskCourierTmp/
class RunScratch {
public:
    RunScratch() {
        const char* base = std::getenv("TMPDIR");
        std::string parent = base && *base ? base : "";
        if (parent.empty()) {
            struct stat info;
            parent = stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) ? "/dev/shm" : "/tmp";
        }
        remove_orphans(parent);
        std::string pattern = parent + "/brisk-fuzz-" + std::to_string(getpid()) + "-XXXXXX";
        FUZZ_CHECK(mkdtemp(&pattern[0]) != nullptr, "no scratch folder under %s", parent.c_str());
        root_ = pattern;
        carrier_ = root_ + "/carrier.exe";

        // Depth d: the folder path is root\ + d\ * d + BriskCourierTmp\; the
        // longest escape "..\..\...\x" must not get past d + 1 levels up.
        int depth = 1;
        for (;; ++depth) {
            const int folder_length = int(root_.size()) + 1 + 2 * depth + 16;
            const int longest_name = 255 - folder_length;
            if ((longest_name - 1) / 3 <= depth + 1) break;
        }
        temp_ = root_;
        for (int i = 0; i < depth; ++i) {
            temp_ += "/d";
            levels_.push_back(temp_);
            FUZZ_CHECK(mkdir(temp_.c_str(), 0755) == 0, "mkdir %s", temp_.c_str());
        }
        folder_ = temp_ + "/BriskCourierTmp";
        // Kept open: a run's check lists them without walking the deep path.
        level_fds_.push_back(open_dir(root_));
        for (const std::string& dir : levels_) level_fds_.push_back(open_dir(dir));
    }

    ~RunScratch() {
        for (int fd : level_fds_) close(fd);
        remove_tree(root_);
    }

    const std::string& root() const { return root_; }
    const std::string& temp() const { return temp_; }
    const std::string& folder() const { return folder_; }
    const std::string& carrier() const { return carrier_; }

    // %TEMP% as GetTempPathW reports it: backslashes, one at the end.
    std::string windows_temp() const { return windows(temp_) + "\\"; }
    std::string windows_folder() const { return windows(folder_) + "\\"; }

    void write_carrier(const uint8_t* data, size_t size) {
        FILE* f = std::fopen(carrier_.c_str(), "wb");
        FUZZ_CHECK(f != nullptr, "cannot write %s", carrier_.c_str());
        FUZZ_CHECK(size == 0 || std::fwrite(data, 1, size, f) == size, "short write");
        std::fclose(f);
    }

    // Empties the extraction folder; keeps it, so the next run reuses it.
    void clear_folder() {
        DIR* dir = opendir(folder_.c_str());
        if (!dir) return;
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") remove_tree(folder_ + "/" + name);
        }
        closedir(dir);
    }

    // Every level holds exactly what this layout put there, the carrier is
    // as written, and only the extraction folder may hold anything else.
    void check_tree(const uint8_t* data, size_t size) const {
        for (size_t i = 0; i < level_fds_.size(); ++i) {
            const bool is_root = i == 0, is_temp = i == levels_.size();
            for (const std::string& name : list(level_fds_[i])) {
                const bool ok = is_temp ? name == "BriskCourierTmp"
                                        : name == "d" || (is_root && name == "carrier.exe");
                FUZZ_CHECK(ok, "written outside the extraction folder: %s/%s",
                           is_root ? root_.c_str() : levels_[i - 1].c_str(), name.c_str());
            }
        }
        std::ifstream in(carrier_, std::ios::binary);
        const std::vector<uint8_t> now((std::istreambuf_iterator<char>(in)), {});
        FUZZ_CHECK(now == std::vector<uint8_t>(data, data + size), "the carrier was changed");
    }

    // Read an extracted file, or report it missing.
    bool read_extracted(const std::string& name, std::vector<uint8_t>* bytes) const {
        std::ifstream in(folder_ + "/" + name, std::ios::binary);
        if (!in) return false;
        bytes->assign(std::istreambuf_iterator<char>(in), {});
        return true;
    }

private:
    static std::string windows(std::string path) {
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }

    // A crashed run leaves its root behind: remove those whose process is gone.
    static void remove_orphans(const std::string& parent) {
        DIR* dir = opendir(parent.c_str());
        if (!dir) return;
        std::vector<std::string> orphans;
        while (const dirent* e = readdir(dir)) {
            int pid = 0;
            if (std::sscanf(e->d_name, "brisk-fuzz-%d-", &pid) == 1 && pid > 0 &&
                kill(pid, 0) != 0 && errno == ESRCH)
                orphans.push_back(parent + "/" + e->d_name);
        }
        closedir(dir);
        for (const std::string& path : orphans) remove_tree(path);
    }

    static int open_dir(const std::string& path) {
        const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        FUZZ_CHECK(fd >= 0, "cannot open %s", path.c_str());
        return fd;
    }

    // The folder's names but "." and "..", read straight from the kernel:
    // opendir would allocate and the path walk would cost 40-odd lookups.
    static std::vector<std::string> list(int fd) {
        std::vector<std::string> names;
        FUZZ_CHECK(lseek(fd, 0, SEEK_SET) == 0, "cannot rewind a folder");
        alignas(8) char buffer[4096];
        for (;;) {
            const long n = syscall(SYS_getdents64, fd, buffer, sizeof buffer);
            FUZZ_CHECK(n >= 0, "cannot list a folder");
            if (n == 0) return names;
            for (long at = 0; at < n;) {
                struct Entry {
                    uint64_t inode;
                    int64_t next;
                    unsigned short length;
                    unsigned char type;
                    char name[1];
                };
                const Entry* e = reinterpret_cast<const Entry*>(buffer + at);
                const std::string name = e->name;
                if (name != "." && name != "..") names.push_back(name);
                at += e->length;
            }
        }
    }

    static void remove_tree(const std::string& path) {
        struct stat info;
        if (lstat(path.c_str(), &info) != 0) return;
        if (S_ISDIR(info.st_mode)) {
            if (DIR* dir = opendir(path.c_str())) {
                while (const dirent* e = readdir(dir)) {
                    const std::string name = e->d_name;
                    if (name != "." && name != "..") remove_tree(path + "/" + name);
                }
                closedir(dir);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }

    std::string root_, temp_, folder_, carrier_;
    std::vector<std::string> levels_;
    std::vector<int> level_fds_;  // root, then each level down to %TEMP%
};

// The process's one scratch tree, with the stand-in's %TEMP% and own file
// pointed into it on first use.
inline RunScratch& scratch() {
    static RunScratch s;
    static const bool pointed = [] {
        host::set_temp_path(s.temp());
        host::set_module_path(s.carrier());
        return true;
    }();
    (void)pointed;
    return s;
}
