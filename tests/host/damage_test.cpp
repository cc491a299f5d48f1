// Damaged carriers, exhaustively: every cut of the archive and trailer,
// every cut followed by a sound trailer, and every bit of every name, stored
// size and body length flipped. Whatever the damage, the run ends, closes
// every handle, writes only inside its folder and launches only from there;
// and no damage costs an entry that lies wholly before it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "archive/chunk_decoder.h"
#include "platform/platform.h"
#include "run/extract_run.h"
#include "test_support.h"
#include "ui/progress_window.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

// The stub's size is the sound trailer: bytes 01 01 01 00. No name, size or
// length can end inside those nonzero bytes and leave a valid archive, so a
// cut carrier with this trailer fails, but for one blind spot: a last chunk
// body cut three bytes short is filled up by them, and the zero after reads
// as the end marker.
constexpr size_t kStubSize = 0x010101;

// Offsets within the archive, for each field a damage sweep aims at.
struct EntryLayout {
    std::string name;
    Bytes data;
    size_t name_at = 0, size_at = 0, end = 0;
    std::vector<size_t> length_at;  // each chunk record's body length field
};

struct Carrier {
    Bytes bytes;  // stub, archive, trailer
    Bytes archive;
    size_t launch_end = 0;  // one past the launch name's NUL
    std::vector<EntryLayout> entries;
    size_t end_marker = 0;

    // Every archive byte holding a name (NUL included), a stored size, a body
    // length or the end marker.
    std::vector<size_t> header_offsets() const {
        std::vector<size_t> out;
        for (size_t i = 0; i < launch_end; ++i) out.push_back(i);
        for (const EntryLayout& e : entries) {
            for (size_t i = e.name_at; i < e.size_at + 4; ++i) out.push_back(i);
            for (size_t at : e.length_at)
                for (size_t i = at; i < at + 4; ++i) out.push_back(i);
        }
        out.push_back(end_marker);
        return out;
    }

    // Header offsets, plus body offsets at `stride` and the first and last
    // three bytes of every body (stride 1: every offset).
    std::vector<size_t> cut_offsets(size_t stride) const {
        std::vector<size_t> out = header_offsets();
        for (const EntryLayout& e : entries) {
            for (size_t r = 0; r < e.length_at.size(); ++r) {
                const size_t body = e.length_at[r] + 4;
                const size_t body_end = r + 1 < e.length_at.size() ? e.length_at[r + 1] : e.end;
                for (size_t i = body; i < body_end; i += stride) out.push_back(i);
                for (size_t i = 0; i < 3 && body + i < body_end; ++i) {
                    out.push_back(body + i);
                    out.push_back(body_end - 1 - i);
                }
            }
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }
};

uint32_t u32_at(const Bytes& b, size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

Carrier make_carrier(const std::vector<ArchiveEntry>& entries, const EncoderOptions& options) {
    Carrier c;
    append_name(c.archive, "setup.exe");
    c.launch_end = c.archive.size();
    for (const ArchiveEntry& entry : entries) {
        EntryLayout e;
        e.name = entry.name;
        e.data = entry.data;
        e.name_at = c.archive.size();
        append_entry(c.archive, entry.name, entry.data.data(), entry.data.size(), options);
        e.size_at = e.name_at + entry.name.size() + 1;
        e.end = c.archive.size();
        for (size_t at = e.size_at + 4; at < e.end; at += 4 + u32_at(c.archive, at))
            e.length_at.push_back(at);
        c.entries.push_back(e);
    }
    c.end_marker = c.archive.size();
    c.archive.push_back(0);
    c.bytes = carrier_around(c.archive, kStubSize);
    return c;
}

Bytes mixed(size_t size, uint32_t seed) {
    Bytes out = text_like(size / 2, seed);
    const Bytes noise = random_bytes(size / 4, seed + 1);
    out.insert(out.end(), noise.begin(), noise.end());
    out.resize(size, 0);
    return out;
}

// A dozen entries of every shape. Names one bit away from trouble: '.' and
// '-' become '/', 'L' becomes '\', ';' becomes ':'.
std::vector<ArchiveEntry> dozen(size_t scale) {
    return {{"setup.exe", random_bytes(15 * scale, 1)},
            {"readme.txt", text_like(8 * scale, 2)},
            {"zeros.bin", Bytes(30 * scale, 0)},
            {"empty.dat", {}},
            {"one.bin", {0x42}},
            {"Lib.dll", random_bytes(12 * scale, 3)},
            {"..old.txt", text_like(2 * scale, 4)},
            {"data-01.bin", mixed(10 * scale, 5)},
            {"c;d.ini", text_like(300, 6)},
            {"sparse.bin", [&] {
                 Bytes b(20 * scale, 0);
                 for (size_t i = 0; i < b.size(); i += 997) b[i] = uint8_t(i * 31);
                 return b;
             }()},
            {"notes.txt", text_like(4 * scale, 7)},
            {"tiny.txt", {'h', 'i', '\r', '\n'}}};
}

// A carrier of a dozen entries, 1 MB of data in all.
const Carrier& realistic() {
    static const Carrier c = make_carrier(dozen(10000), EncoderOptions());
    return c;
}

// The same dozen at 1/40 the size in 1024-byte blocks: many short chunk
// records, small enough to cut at every byte.
const Carrier& small() {
    static const Carrier c = make_carrier(dozen(250), greedy_encoder_options());
    return c;
}

// True when no ".." component of `path` climbs above where it starts.
bool stays_below(const std::string& path) {
    int depth = 0;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '\\' && path[i] != '/') continue;
        const std::string component = path.substr(start, i - start);
        if (component == "..") --depth;
        else if (!component.empty() && component != ".") ++depth;
        if (depth < 0) return false;
        start = i + 1;
    }
    return true;
}

std::string scratch_parent() {
    struct stat info;
    if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode) && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
    return fs::temp_directory_path().string();
}

// The run's own file and %TEMP% in a scratch dir (in memory where there is
// one: a sweep is tens of thousands of runs). The carrier is edited in
// place between runs, never rewritten whole.
class DamageRun : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = scratch_parent() + "/brisk-damage-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directory(root_ + "/tmp");
        folder_ = root_ + "/tmp/BriskCourierTmp";
        windows_folder_ = folder_ + "/";
        std::replace(windows_folder_.begin(), windows_folder_.end(), '/', '\\');
        host::set_temp_path(root_ + "/tmp");
        host::set_module_path(root_ + "/carrier.exe");
        g_popup_window = nullptr;
        g_progress_bar = nullptr;
        fd_ = open((root_ + "/carrier.exe").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(fd_, 0);
    }

    void TearDown() override {
        close(fd_);
        host::set_temp_path("/tmp/");
        host::set_module_path("");
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void write_at(size_t at, const uint8_t* data, size_t size) {
        ASSERT_EQ(pwrite(fd_, data, size, off_t(at)), ssize_t(size));
    }
    void resize(size_t size) { ASSERT_EQ(ftruncate(fd_, off_t(size)), 0); }
    void write_whole(const Bytes& bytes) {
        resize(0);
        write_at(0, bytes.data(), bytes.size());
    }

    // Runs the launcher from an empty folder. Returns its result, with a
    // failure added (and `what` in it) for anything unsafe.
    int run(const std::string& what) {
        std::error_code ignored;
        for (const auto& file : fs::directory_iterator(folder_, ignored)) fs::remove(file.path());
        const int result = extract_archive();
        EXPECT_TRUE(result == 0 || result == 1) << what;
        EXPECT_EQ(host::open_handles(), 0) << what;
        for (const auto& file : fs::directory_iterator(root_)) {
            const std::string name = file.path().filename();
            EXPECT_TRUE(name == "carrier.exe" || name == "tmp") << what << ": wrote " << name;
        }
        for (const auto& file : fs::directory_iterator(root_ + "/tmp")) {
            EXPECT_EQ(file.path().filename(), "BriskCourierTmp") << what;
        }
        const std::string head = "ShellExecuteW(0,Open," + windows_folder_, tail = ",(null),(null),1)";
        for (const std::string& call : host::calls()) {
            if (call.rfind("ShellExecuteW(", 0) != 0) continue;
            const bool framed = call.size() >= head.size() + tail.size() && call.rfind(head, 0) == 0 &&
                                call.compare(call.size() - tail.size(), tail.size(), tail) == 0;
            EXPECT_TRUE(framed && stays_below(call.substr(head.size(), call.size() - head.size() - tail.size())))
                << what << ": " << call;
        }
        host::clear_calls();
        return result;
    }

    // Entries that end at or before archive offset `intact_to` must be
    // whole, and the one it cuts must hold at least what its records before
    // that offset decode to; no file may exist but those of entries whose
    // name was read.
    void expect_entries(const Carrier& c, size_t intact_to, size_t names_to, const std::string& what) {
        std::set<std::string> allowed;
        for (const EntryLayout& e : c.entries) {
            if (e.size_at <= names_to) allowed.insert(e.name);
            if (e.end <= intact_to) {
                EXPECT_TRUE(holds(e.name, e.data)) << what << ": " << e.name;
            } else if (e.size_at + 4 <= intact_to) {
                EXPECT_TRUE(holds(e.name, decoded_before(c, e, intact_to), true)) << what << ": " << e.name;
            }
        }
        std::error_code ignored;
        for (const auto& file : fs::directory_iterator(folder_, ignored)) {
            EXPECT_EQ(allowed.count(file.path().filename()), 1u)
                << what << ": unexpected " << file.path().filename();
        }
    }

    // read_file's stream iterators cost more than the run itself under ASan.
    // With `prefix`, the file may go on after `data`.
    bool holds(const std::string& name, const Bytes& data, bool prefix = false) const {
        const int fd = open((folder_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        Bytes got(data.size() + 1);
        const ssize_t n = read(fd, got.data(), got.size());
        close(fd);
        return (n == ssize_t(data.size()) || (prefix && n > ssize_t(data.size()))) &&
               std::equal(data.begin(), data.end(), got.begin());
    }

    // What the entry's chunk records that end at or before `at` decode to.
    static Bytes decoded_before(const Carrier& c, const EntryLayout& e, size_t at) {
        ChunkDecoder decoder;
        Bytes out;
        uint8_t chunk[kChunkOutputCapacity];
        for (size_t r = 0; r < e.length_at.size(); ++r) {
            const size_t body = e.length_at[r] + 4;
            const size_t end = r + 1 < e.length_at.size() ? e.length_at[r + 1] : e.end;
            if (end > at) break;
            const int32_t n = decoder.decode_chunk(&c.archive[body], int32_t(end - body), chunk,
                                                   kChunkOutputCapacity);
            out.insert(out.end(), chunk, chunk + n);
        }
        return out;
    }

    // Gives up on a sweep after a few failing cases, so one fault does not
    // bury the log under thousands of repeats.
    bool too_many_failures() const {
        return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count() > 20;
    }

    // Each bit of each byte at `offsets` flipped in turn.
    void flip_sweep(const Carrier& c, const std::vector<size_t>& offsets) {
        write_whole(c.bytes);
        for (size_t at : offsets) {
            const size_t file_at = kStubSize + at;
            for (int bit = 0; bit < 8 && !too_many_failures(); ++bit) {
                const uint8_t flipped = uint8_t(c.bytes[file_at] ^ (1u << bit));
                write_at(file_at, &flipped, 1);
                const std::string what =
                    "bit " + std::to_string(bit) + " of archive byte " + std::to_string(at);
                run(what);
                // Entries before the flipped byte are read as they were; the
                // flip may rename its own entry, or make later names garbage.
                for (const EntryLayout& e : c.entries) {
                    if (e.end <= at) {
                        EXPECT_TRUE(holds(e.name, e.data)) << what << ": " << e.name;
                    }
                }
                write_at(file_at, &c.bytes[file_at], 1);
            }
        }
    }

    std::string root_, folder_, windows_folder_;
    int fd_ = -1;
};

TEST_F(DamageRun, EveryCutOfTheSmallCarrierIsSafe) {
    const Carrier& c = small();
    ASSERT_EQ(c.entries.size(), 12u);
    // The undamaged carrier first: the sweep's yardstick.
    write_whole(c.bytes);
    ASSERT_EQ(run("whole"), 1);
    expect_entries(c, c.archive.size(), c.archive.size(), "whole");

    // The first n bytes, for every n ending in the archive or trailer: the
    // last four read as the trailer are whatever the cut left. A garbage
    // trailer may make a valid archive of other bytes: only safety counts.
    // Growing the file a byte at a time gives every cut without a rewrite.
    resize(0);
    write_at(0, c.bytes.data(), kStubSize);
    for (size_t n = kStubSize; n < c.bytes.size() && !too_many_failures(); ++n) {
        write_at(n, &c.bytes[n], 1);
        run("cut at " + std::to_string(n + 1));
    }
}

TEST_F(DamageRun, CutsOfTheRealisticCarrierAreSafe) {
    const Carrier& c = realistic();
    size_t data = 0;
    for (const EntryLayout& e : c.entries) data += e.data.size();
    ASSERT_GT(data, 1000000u);
    write_whole(c.bytes);
    ASSERT_EQ(run("whole"), 1);
    expect_entries(c, c.archive.size(), c.archive.size(), "whole");

    // Every header byte, bodies at a stride of 61, and every trailer byte.
    std::vector<size_t> cuts = c.cut_offsets(61);
    for (size_t i = 0; i < 4; ++i) cuts.push_back(c.archive.size() + i);
    size_t written = c.bytes.size();
    for (auto it = cuts.rbegin(); it != cuts.rend() && !too_many_failures(); ++it) {
        const size_t n = kStubSize + *it + 1;  // the cut keeps archive byte *it
        if (n > written) continue;
        resize(n);
        written = n;
        run("cut at " + std::to_string(n));
    }
}

// stub + archive[0, k) + sound trailer, for every k short of the whole
// archive: the run fails, and every entry that ended before k is whole.
TEST_F(DamageRun, EveryCutWithASoundTrailerKeepsTheEntriesBeforeIt) {
    const Carrier& c = small();
    std::set<size_t> blind;  // last bodies cut three bytes short
    for (const EntryLayout& e : c.entries)
        if (!e.length_at.empty() && e.end - 3 >= e.length_at.back() + 4) blind.insert(e.end - 3);

    uint8_t trailer[4];
    for (int b = 0; b < 4; ++b) trailer[b] = uint8_t(kStubSize >> (8 * b));
    write_whole(Bytes(c.bytes.begin(), c.bytes.begin() + kStubSize));
    for (size_t k = 0; k < c.archive.size() && !too_many_failures(); ++k) {
        // The file holds archive[0, k - 1) and a trailer: extend by one byte.
        if (k > 0) write_at(kStubSize + k - 1, &c.archive[k - 1], 1);
        write_at(kStubSize + k, trailer, 4);
        const std::string what = "archive cut at " + std::to_string(k);
        const int result = run(what);
        if (!blind.count(k)) {
            EXPECT_EQ(result, 0) << what;
        }
        expect_entries(c, k, k, what);
    }
}

TEST_F(DamageRun, FlippedHeaderBitsAreSafe) {
    // The small carrier: every bit of every header field. The realistic one,
    // whose runs cost 10 to 40 times more: every bit of the fields that
    // frame its entries, the names' NULs and the stored sizes (the names'
    // own bytes are the small carrier's).
    flip_sweep(small(), small().header_offsets());
    std::vector<size_t> framing{realistic().launch_end - 1};
    for (const EntryLayout& e : realistic().entries)
        for (size_t at = e.size_at - 1; at < e.size_at + 4; ++at) framing.push_back(at);
    flip_sweep(realistic(), framing);
}

}  // namespace
