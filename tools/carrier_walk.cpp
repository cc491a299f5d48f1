#include "tools/carrier_walk.h"

#include <cstring>

#include "archive/archive_reader.h"
#include "archive/chunk_decoder.h"
#include "platform/platform.h"
#include "run/extract_run.h"

namespace {

// The carrier's handle, closed on every way out of the walk.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

uint64_t seek(HANDLE file, int64_t distance, DWORD method) {
    LONG high = LONG(distance >> 32);
    const DWORD low = SetFilePointer(file, LONG(uint32_t(distance)), &high, method);
    return uint64_t(uint32_t(high)) << 32 | low;
}

class Walk {
public:
    Walk(HANDLE file, WalkSink& sink, int temp_length, WalkResult& result)
        : file_(file), sink_(sink), temp_length_(temp_length), result_(result) {}

    void run() {
        size_ = seek(file_, 0, FILE_END);
        if (!locate()) return;
        char name[kNameCapacity];
        if (!read_name_at("launch name", name)) return;
        result_.launch_name = name;
        result_.launch_read = true;
        for (;;) {
            const std::string where = "entry " + std::to_string(result_.entries.size() + 1);
            const uint64_t at = pos_;
            if (!read_name_at(where, name)) return;
            if (name[0] == '\0') break;  // end marker
            WalkEntry entry;
            entry.name = name;
            entry.offset = at - start_;
            if (!read_entry(entry, at)) return;
            result_.entries.push_back(entry);
        }
        check_launch_name();
    }

private:
    bool fail(const std::string& where, uint64_t at, const std::string& reason) {
        result_.where = where;
        result_.has_offset = true;
        result_.offset = at - start_;
        result_.reason = reason;
        return false;
    }

    bool locate() {
        // Without a high part, Windows' SetFilePointer cannot report a
        // trailer at 4 GiB or beyond, so the launcher finds no archive there.
        if (size_ >= 0xFFFFFFFFull + 4) return fail_trailer("4 GiB or more: the launcher cannot seek to the trailer");
        if (!locate_archive(file_)) {
            uint32_t offset = 0;
            if (size_ < 4 || seek(file_, int64_t(size_) - 4, FILE_BEGIN) != size_ - 4 ||
                !read_u32(file_, &offset))
                return fail_trailer("file of " + std::to_string(size_) + " bytes has no trailer");
            return fail_trailer("offset " + std::to_string(offset) +
                                " does not point into the file before the trailer, below 2 GiB");
        }
        start_ = pos_ = result_.archive_start = seek(file_, 0, FILE_CURRENT);
        return true;
    }

    bool fail_trailer(const std::string& reason) {
        result_.where = "trailer";
        result_.reason = reason;
        return false;
    }

    bool read_name_at(const std::string& where, char (&name)[kNameCapacity]) {
        const uint64_t at = pos_;
        if (read_name(file_, name)) {
            pos_ += std::strlen(name) + 1;
            return true;
        }
        // Read again to tell an end of file from an overlong name.
        char again[kNameCapacity];
        DWORD got = 0;
        seek(file_, int64_t(at), FILE_BEGIN);
        ReadFile(file_, again, sizeof again, &got, nullptr);
        if (got == sizeof again && !std::memchr(again, 0, sizeof again))
            return fail(where, at, "name longer than 259 characters");
        return fail(where, at, "file ends inside the name");
    }

    bool name_fits(const std::string& where, const std::string& name, uint64_t at) {
        const int longest = longest_joinable_name(temp_length_);
        if (name.size() <= size_t(longest)) return true;
        return fail(where, at,
                    std::to_string(name.size()) + " characters: with a " +
                        std::to_string(temp_length_) +
                        "-character %TEMP% the launcher's 255-character path takes at most " +
                        std::to_string(longest));
    }

    bool read_entry(WalkEntry& entry, uint64_t at) {
        const std::string where = "entry '" + printable(entry.name) + "'";
        if (!read_u32(file_, &entry.stored_size))
            return fail(where, pos_, "file ends inside the stored size");
        pos_ += 4;
        if (!is_contained_name(entry.name.c_str()))
            return fail(where, at, "name reaches outside the extraction folder");
        if (!name_fits(where, entry.name, at)) return false;
        const std::string problem = name_problem(entry.name);
        if (!problem.empty()) return fail(where, at, problem);
        std::string stop = sink_.begin_entry(entry);
        if (!stop.empty()) return fail(where, at, stop);
        if (!read_records(entry, where)) return false;
        stop = sink_.end_entry(entry);
        if (!stop.empty()) return fail(where, at, stop);
        return true;
    }

    // The launcher's extract_entry, counting instead of showing progress.
    bool read_records(WalkEntry& entry, const std::string& where) {
        ChunkDecoder decoder;
        if (!decoder.ok()) return fail(where, pos_, "no memory for the decoder");
        uint8_t input[kChunkInputCapacity];
        uint8_t decoded[kChunkOutputCapacity];
        uint32_t consumed = 0;
        while (consumed < entry.stored_size) {
            const uint64_t at = pos_;
            uint32_t delivered = 0;
            if (!read_chunk_record(file_, input, &delivered)) return fail(where, at, record_problem(at));
            pos_ += 4 + delivered;
            const uint32_t next = consumed + delivered + 4;
            consumed = next < consumed ? 0xFFFFFFFFu : next;
            // Every read from here on fails: the end marker is missing.
            if (pos_ >= size_) return fail(where, at, record_problem(at));
            if (delivered == 0) return true;  // a zero-length record ends the entry
            const int32_t n = decoder.decode_chunk(input, int32_t(delivered), decoded,
                                                   kChunkOutputCapacity);
            if (n < 0) return fail(where, at, "chunk decodes to more than 8192 bytes");
            entry.decoded_size += uint32_t(n);
            const std::string stop = n > 0 ? sink_.write(decoded, size_t(n)) : "";
            if (!stop.empty()) return fail(where, at, stop);
        }
        return true;
    }

    std::string record_problem(uint64_t at) {
        uint32_t length = 0;
        if (seek(file_, int64_t(at), FILE_BEGIN) != at || !read_u32(file_, &length))
            return "file ends inside a chunk record's length";
        if (length > uint32_t(kChunkInputCapacity))
            return "chunk body length " + std::to_string(length) + " is above 2048";
        if (at + 4 + length > size_)
            return "file ends inside a chunk body (" + std::to_string(size_ - at - 4) + " of " +
                   std::to_string(length) + " bytes)";
        return "file ends after this chunk record, before the end marker";
    }

    void check_launch_name() {
        const std::string& launch = result_.launch_name;
        const std::string where = "launch name '" + printable(launch) + "'";
        if (!is_contained_name(launch.c_str())) {
            fail(where, start_, "name reaches outside the extraction folder");
            return;
        }
        if (!name_fits(where, launch, start_)) return;
        // An empty launch name opens the folder itself.
        bool found = launch.empty();
        for (const WalkEntry& entry : result_.entries) found = found || same_name(entry.name, launch);
        if (!found) {
            fail(where, start_, "names no entry, so the launcher would open nothing");
            return;
        }
        result_.ok = true;
    }

    HANDLE file_;
    WalkSink& sink_;
    int temp_length_;
    WalkResult& result_;
    uint64_t size_ = 0;
    uint64_t start_ = 0;  // file offset of the archive
    uint64_t pos_ = 0;    // file offset of the next read
};

}  // namespace

std::string WalkResult::problem() const {
    std::string text = where;
    if (has_offset) text += " at archive offset " + std::to_string(offset);
    return text + ": " + reason;
}

WalkResult walk_carrier(const std::string& path, WalkSink& sink, int temp_length) {
    WalkResult result;
    Handle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) {
        result.where = "carrier";
        result.reason = "cannot open";
        return result;
    }
    Walk(file.get(), sink, temp_length, result).run();
    return result;
}
