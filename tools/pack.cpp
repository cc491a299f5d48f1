#include "tools/pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <random>

#include "archive/chunk_encoder.h"
#include "tools/console.h"
#include "tools/names.h"
#include "tools/pe_check.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kLargestStored = 0xFFFFFFFFull;  // sizes are 32-bit
constexpr uint64_t kLargestStub = 0x7FFFFFFFull;    // the trailer is a signed offset
// The launcher finds its trailer with SetFilePointer and no high part.
constexpr uint64_t kLargestTrailerAt = 0xFFFFFFFEull;
constexpr size_t kReadBlock = size_t(1) << 20;

struct Input {
    fs::path path;
    std::string name;
    uint64_t size = 0;
};

std::string shown(const fs::path& path) { return path.u8string(); }

std::string system_reason() { return errno ? std::strerror(errno) : "unknown error"; }

void add_file(const fs::path& path, std::vector<Input>& inputs) {
    inputs.push_back({path, path.filename().u8string(), 0});
}

// A folder gives its regular files, by name so that packs repeat exactly.
bool add_folder(const fs::path& folder, std::vector<Input>& inputs,
                std::vector<std::string>& problems) {
    std::vector<fs::path> files;
    bool ok = true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        std::error_code status_ec;
        const fs::file_status status = fs::status(path, status_ec);
        if (fs::is_directory(status)) {
            problems.push_back(shown(path) + ": sub-folder: the launcher creates no sub-folders");
            ok = false;
        } else if (fs::is_regular_file(status)) {
            files.push_back(path);
        } else {
            problems.push_back(shown(path) + ": not a regular file");
            ok = false;
        }
    }
    if (ec) {
        problems.push_back(shown(folder) + ": " + ec.message());
        return false;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().u8string() < b.filename().u8string();
    });
    for (const fs::path& path : files) add_file(path, inputs);
    return ok;
}

bool gather(const std::vector<std::string>& args, std::vector<Input>& inputs,
            std::vector<std::string>& problems) {
    bool ok = true;
    for (const std::string& arg : args) {
        std::error_code ec;
        const fs::file_status status = fs::status(arg, ec);
        if (fs::is_directory(status)) {
            ok = add_folder(arg, inputs, problems) && ok;
        } else if (fs::is_regular_file(status)) {
            add_file(arg, inputs);
        } else {
            problems.push_back(arg + ": " +
                               (status.type() == fs::file_type::not_found ? "no such file or folder"
                                : ec                                      ? ec.message()
                                                                          : "not a regular file or folder"));
            ok = false;
        }
    }
    return ok;
}

void check_inputs(std::vector<Input>& inputs, std::vector<std::string>& problems) {
    std::map<std::string, const Input*> seen;  // by lower-case name
    const int longest = longest_joinable_name(kAssumedTempLength);
    for (Input& input : inputs) {
        const std::string where = shown(input.path);
        const std::string problem = name_problem(input.name);
        if (!problem.empty()) {
            problems.push_back(where + ": entry name '" + printable(input.name) + "': " + problem);
        } else if (input.name.size() > size_t(longest)) {
            report_warning(where + ": entry name of " + std::to_string(input.name.size()) +
                           " characters: with a " + std::to_string(kAssumedTempLength) +
                           "-character %TEMP% the launcher's 255-character path takes at most " +
                           std::to_string(longest) + ", so it may fail to unpack");
        }
        const auto [other, fresh] = seen.emplace(lower_ascii(input.name), &input);
        if (!fresh) {
            const Input& first = *other->second;
            problems.push_back(where + ": entry name '" + printable(input.name) +
                               (first.name == input.name ? "' is also the name of "
                                                         : "' differs only in letter case from ") +
                               shown(first.path) + " (Windows ignores case)");
        }
        std::error_code ec;
        input.size = fs::file_size(input.path, ec);
        if (ec) {
            problems.push_back(where + ": " + ec.message());
        } else if (input.size > kLargestStored) {
            problems.push_back(where + ": " + std::to_string(input.size) +
                               " bytes: files of 4 GiB or more cannot be stored");
        } else {
            errno = 0;
            std::ifstream probe(input.path, std::ios::binary);
            if (!probe) problems.push_back(where + ": cannot open for reading: " + system_reason());
        }
    }
}

void check_launch_name(const std::string& launch, const std::vector<Input>& inputs,
                       std::vector<std::string>& problems) {
    std::string names;
    for (const Input& input : inputs) {
        if (same_name(input.name, launch)) return;
        names += (names.empty() ? "" : ", ") + printable(input.name);
    }
    problems.push_back("--launch '" + printable(launch) + "': no entry has that name (entries: " +
                       names + ")");
}

bool load_stub(const PackRequest& request, const fs::path& program, std::vector<uint8_t>& stub,
               std::vector<std::string>& problems) {
    fs::path path = request.stub;
    if (request.stub.empty()) {
        const std::vector<fs::path> candidates = default_stub_paths(program);
        for (const fs::path& candidate : candidates) {
            std::error_code ec;
            if (fs::is_regular_file(candidate, ec)) {
                path = candidate;
                break;
            }
        }
        if (path.empty()) {
            problems.push_back("no --stub given and no launcher at " + shown(candidates[0]) +
                               " or " + shown(candidates[1]));
            return false;
        }
    }
    const std::string where = shown(path);
    std::error_code ec;
    const uint64_t size = fs::file_size(path, ec);
    if (ec) {
        problems.push_back(where + ": stub: " + ec.message());
        return false;
    }
    if (size > kLargestStub) {
        problems.push_back(where + ": stub of " + std::to_string(size) +
                           " bytes: the archive must start below 2 GiB");
        return false;
    }
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    stub.resize(size_t(size));
    if (!in || !in.read(reinterpret_cast<char*>(stub.data()), std::streamsize(size))) {
        problems.push_back(where + ": cannot read the stub: " + system_reason());
        return false;
    }
    const std::string problem =
        stub_problem(size, [&stub](uint64_t offset, uint8_t* out, size_t n) {
            if (offset > stub.size() || n > stub.size() - offset) return false;
            std::memcpy(out, stub.data() + offset, n);
            return true;
        });
    if (!problem.empty()) {
        problems.push_back(where + ": stub is not an i386 Windows program: " + problem);
        return false;
    }
    return true;
}

// The carrier under construction, removed unless committed.
class TempFile {
public:
    explicit TempFile(const fs::path& target) {
        std::random_device random;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".tmp-%06x", unsigned(random() & 0xFFFFFF));
            path_ = target;
            path_ += suffix;
            std::error_code ec;
            if (!fs::exists(fs::symlink_status(path_, ec))) return;
        }
    }
    ~TempFile() {
        std::error_code ignored;
        if (!committed_) fs::remove(path_, ignored);
    }
    const fs::path& path() const { return path_; }
    void commit() { committed_ = true; }

private:
    fs::path path_;
    bool committed_ = false;
};

class CarrierWriter {
public:
    explicit CarrierWriter(const fs::path& path)
        : out_(path, std::ios::binary | std::ios::trunc) {}
    bool good() const { return bool(out_); }
    uint64_t size() const { return size_; }

    void put(const void* data, size_t size) {
        out_.write(static_cast<const char*>(data), std::streamsize(size));
        size_ += size;
    }
    void put_u32(uint32_t value) {
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                  uint8_t(value >> 24)};
        put(bytes, 4);
    }
    void put_name(const std::string& name) { put(name.c_str(), name.size() + 1); }
    // The stored size is known only once the entry is encoded.
    void patch_u32(uint64_t at, uint32_t value) {
        out_.seekp(std::streamoff(at));
        put_u32(value);
        size_ -= 4;
        out_.seekp(0, std::ios::end);
    }
    bool close() {
        out_.close();
        return bool(out_);
    }

private:
    std::ofstream out_;
    uint64_t size_ = 0;
};

// Streams one file through the encoder. Each chunk sees at least a full
// block when the file has one, so the records equal append_chunk_records'.
bool put_entry(const Input& input, const EncoderOptions& options, CarrierWriter& out,
               Progress& progress, uint64_t& done, std::vector<std::string>& problems) {
    const std::string where = shown(input.path);
    errno = 0;
    std::ifstream file(input.path, std::ios::binary);
    if (!file) {
        problems.push_back(where + ": cannot open for reading: " + system_reason());
        return false;
    }
    out.put_name(input.name);
    const uint64_t size_at = out.size();
    out.put_u32(0);
    ChunkEncoder encoder(options);
    std::vector<uint8_t> buffer(kReadBlock);
    std::vector<uint8_t> body;
    size_t begin = 0, end = 0;
    bool at_end = false;
    uint64_t stored = 0;
    for (;;) {
        if (!at_end && end - begin < size_t(kChunkOutputCapacity)) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            file.read(reinterpret_cast<char*>(buffer.data() + end), std::streamsize(buffer.size() - end));
            end += size_t(file.gcount());
            if (file.bad()) {
                problems.push_back(where + ": read failed: " + system_reason());
                return false;
            }
            at_end = file.eof();
        }
        if (begin == end) break;
        body.clear();
        const size_t used = encoder.encode_next(buffer.data() + begin, end - begin, body);
        out.put_u32(uint32_t(body.size()));
        out.put(body.data(), body.size());
        stored += 4 + body.size();
        if (stored > kLargestStored) {
            problems.push_back(where + ": its chunk records pass 4 GiB, more than a stored size holds");
            return false;
        }
        begin += used;
        done += used;
        progress.show(input.name, done);
    }
    out.patch_u32(size_at, uint32_t(stored));
    return true;
}

bool replace_file(const fs::path& from, const fs::path& to, std::string& reason) {
#ifdef _WIN32
    if (MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    reason = "cannot replace it (Windows error " + std::to_string(GetLastError()) + ")";
    return false;
#else
    std::error_code ec;
    fs::rename(from, to, ec);
    reason = ec.message();
    return !ec;
#endif
}

bool write_carrier(const PackRequest& request, const std::vector<uint8_t>& stub,
                   const std::vector<Input>& inputs, std::vector<std::string>& problems) {
    const fs::path target = request.output;
    TempFile temp(target);
    errno = 0;
    CarrierWriter out(temp.path());
    if (!out.good()) {
        problems.push_back(shown(temp.path()) + ": cannot create: " + system_reason());
        return false;
    }
    const EncoderOptions options = request.greedy ? greedy_encoder_options() : EncoderOptions();
    uint64_t total = 0, done = 0;
    for (const Input& input : inputs) total += input.size;
    {
        Progress progress(total);
        out.put(stub.data(), stub.size());
        out.put_name(request.launch_name);
        for (const Input& input : inputs) {
            if (!put_entry(input, options, out, progress, done, problems)) return false;
            if (!out.good()) break;
        }
    }
    out.put("", 1);  // end marker
    if (out.size() > kLargestTrailerAt) {
        problems.push_back(request.output + ": carrier would pass 4 GiB, where the launcher "
                                            "cannot find its trailer");
        return false;
    }
    out.put_u32(uint32_t(stub.size()));
    errno = 0;
    if (!out.good() || !out.close()) {
        problems.push_back(shown(temp.path()) + ": write failed: " + system_reason());
        return false;
    }
    std::string reason;
    if (!replace_file(temp.path(), target, reason)) {
        problems.push_back(request.output + ": " + reason);
        return false;
    }
    temp.commit();
    std::cout << request.output << ": " << inputs.size() << " entries, " << out.size()
              << " bytes (stub " << stub.size() << ", archive " << out.size() - stub.size() - 4
              << ")\n";
    return true;
}

}  // namespace

int pack(const PackRequest& request, const fs::path& program) {
    std::vector<std::string> problems;
    std::vector<uint8_t> stub;
    load_stub(request, program, stub, problems);
    std::vector<Input> inputs;
    const bool all_found = gather(request.inputs, inputs, problems);
    check_inputs(inputs, problems);
    if (all_found) check_launch_name(request.launch_name, inputs, problems);
    if (problems.empty()) write_carrier(request, stub, inputs, problems);
    for (const std::string& problem : problems) report_error(problem);
    return problems.empty() ? 0 : 1;
}

std::vector<fs::path> default_stub_paths(const fs::path& program) {
    const fs::path folder = program.parent_path();
    return {folder / "launcher.exe", (folder / ".." / "windows" / "launcher.exe").lexically_normal()};
}

fs::path running_program(const char* argv0) {
#ifdef _WIN32
    std::wstring buffer(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, &buffer[0], DWORD(buffer.size()));
    if (n > 0 && n < buffer.size()) return fs::path(buffer.substr(0, n));
#else
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self;
#endif
    std::error_code ignored;
    return fs::absolute(argv0, ignored);
}
