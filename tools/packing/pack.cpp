#include "tools/packing/pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "archive/carrier_integrity.h"
#include "tools/packing/chunk_encoder.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/carrier/names.h"
#include "tools/system/output_file.h"
#include "tools/carrier/pe_image.h"
#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kLargestStored = 0xFFFFFFFFull;  // sizes are 32-bit
// The trailer is a signed offset to the archive, which follows the record.
constexpr uint64_t kLargestStub = 0x7FFFFFFFull - kRecordSize;
// The record holds the carrier's length in 32 bits, and the launcher learns
// its own from SetFilePointer, where 0xFFFFFFFF means failure.
constexpr uint64_t kLargestCarrier = 0xFFFFFFF8ull;
// Signing tools pad a file to 8 bytes before the certificate table; a
// carrier already that long gets no padding the record does not count.
constexpr uint64_t kCarrierAlignment = 8;
constexpr size_t kReadBlock = size_t(1) << 20;
// The launcher pauses 100 ms after each file; past this many files the
// pauses alone add more than a few seconds.
constexpr size_t kPausesWorthAWarning = 50;

struct Input {
    fs::path path;
    std::string name;
    uint64_t size = 0;
};

std::string shown(const fs::path& path) { return path.u8string(); }

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
        const fs::path path = path_from_utf8(arg);
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (fs::is_directory(status)) {
            ok = add_folder(path, inputs, problems) && ok;
        } else if (fs::is_regular_file(status)) {
            add_file(path, inputs);
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

// Names the launcher would refuse, or might unpack as another name, are
// refused; so is one too long for any %TEMP%, and one too long for the
// %TEMP% assumed draws a warning.
void check_inputs(std::vector<Input>& inputs, int temp_length, std::vector<std::string>& problems) {
    std::map<std::string, const Input*> seen;  // by lower-case name
    for (Input& input : inputs) {
        const std::string where = shown(input.path);
        std::string problem = name_problem(input.name);
        if (problem.empty()) problem = name_doubt(input.name);
        if (problem.empty()) problem = length_problem(input.name.size());
        if (!problem.empty()) {
            problems.push_back(where + ": entry name '" + printable(input.name) + "': " + problem);
        } else if (const std::string doubt = length_doubt(input.name.size(), temp_length);
                   !doubt.empty()) {
            report_warning(where + ": entry name of " + doubt);
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

// The launcher finds its integrity record where its image ends, by the same
// reading of its headers, so the stub must end there and carry no signature
// (signing comes after packing, over the whole carrier).
std::string stub_layout_problem(const fs::path& path) {
    InputFile file(path);
    if (!file.is_open()) return "cannot open to read its headers: " + file.error();
    CarrierLayout layout;
    const bool read = read_carrier_layout(file.carrier(), &layout);
    if (!read)
        return "the launcher cannot read these headers (it needs a PE32 image whose headers "
               "fit in its first 1024 bytes)";
    if (layout.cert_size != 0)
        return "signed (certificate table at offset " + std::to_string(layout.cert_offset) + ", " +
               std::to_string(layout.cert_size) +
               " bytes): pack an unsigned launcher, then sign the carrier";
    if (layout.image_end != layout.file_size)
        return std::to_string(layout.file_size) + " bytes, but its image ends at offset " +
               std::to_string(layout.image_end) +
               (layout.image_end < layout.file_size
                    ? ": data after the image would hide the integrity record"
                    : ": its sections run past the end of the file");
    return "";
}

bool load_stub(const PackRequest& request, const fs::path& program, std::vector<uint8_t>& stub,
               fs::path& path, std::vector<std::string>& problems) {
    path = path_from_utf8(request.stub);
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
            std::string tried = shown(candidates[0]);
            for (size_t i = 1; i < candidates.size(); ++i)
                tried += (i + 1 < candidates.size() ? ", " : " or ") + shown(candidates[i]);
            problems.push_back("no --stub given and no launcher at " + tried);
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
    const std::string problem = stub_problem(stub.data(), stub.size(), size);
    if (!problem.empty()) {
        problems.push_back(where + ": stub is not an i386 Windows program: " + problem);
        return false;
    }
    const std::string layout = stub_layout_problem(path);
    if (!layout.empty()) {
        problems.push_back(where + ": stub: " + layout);
        return false;
    }
    return true;
}

// The output's own checks, once links are followed to the file they lead
// to: its folder must exist, and it must be neither an input nor the stub,
// which a rename over them would destroy.
bool check_output(const std::string& output, const fs::path& stub_path,
                  const std::vector<Input>& inputs, fs::path& file,
                  std::vector<std::string>& problems) {
    std::string reason;
    if (!follow_links(path_from_utf8(output), file, reason)) {
        problems.push_back(output + ": " + reason);
        return false;
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        problems.push_back(shown(folder) + ": " +
                           (fs::exists(folder, ec) ? "not a folder" : "no such folder") +
                           ", so -o " + output + " cannot be written");
        return false;
    }
    reason = not_replaceable(file);
    if (!reason.empty()) {
        problems.push_back(output + ": " + reason + ", not replaced by a carrier");
        return false;
    }
    bool ok = true;
    if (!stub_path.empty() && same_file(file, stub_path)) {
        problems.push_back(output + ": is the stub " + shown(stub_path) +
                           ": write the carrier elsewhere");
        ok = false;
    }
    for (const Input& input : inputs) {
        if (same_file(file, input.path)) {
            problems.push_back(output + ": is the input " + shown(input.path) +
                               ": write the carrier elsewhere");
            ok = false;
        }
    }
    return ok;
}

// CRC-32 arithmetic on polynomials over GF(2), bit-reflected as the CRC
// register holds them (x^0 is the top bit).
uint32_t multiply_mod_crc(uint32_t a, uint32_t b) {
    uint32_t product = 0;
    for (uint32_t bit = 0x80000000u; bit != 0 && a != 0; bit >>= 1) {
        if (a & bit) {
            product ^= b;
            a ^= bit;
        }
        b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return product;
}

// The CRC-32 of A followed by B, from the CRC-32s of each and B's length.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b) {
    uint32_t shift = 0x80000000u;  // x^(8 * length_b), by squaring x^8
    for (uint32_t square = 0x00800000u; length_b != 0; length_b >>= 1) {
        if (length_b & 1) shift = multiply_mod_crc(square, shift);
        square = multiply_mod_crc(square, square);
    }
    return multiply_mod_crc(shift, crc_a) ^ crc_b;
}

// Writes the carrier front to back, summing the archive's bytes as they go.
class CarrierWriter {
public:
    explicit CarrierWriter(OutputFile& out) : out_(out) {}
    bool good() const { return out_.error().empty(); }
    uint64_t size() const { return size_; }

    void put(const void* data, size_t size) {
        out_.write(data, size);
        size_ += size;
        if (summing_) crc_ = crc32_update(crc_, static_cast<const uint8_t*>(data), size);
    }
    void put_u32(uint32_t value) {
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                  uint8_t(value >> 24)};
        put(bytes, 4);
    }
    void put_name(const std::string& name) { put(name.c_str(), name.size() + 1); }

    void start_sum() {
        summing_ = true;
        crc_ = 0;
    }
    uint32_t stop_sum() {
        summing_ = false;
        return crc_;
    }

    // An entry's stored size is known only once its records are written.
    // The sum restarts after the placeholder and is joined up when it is
    // filled, so the archive is still read once.
    void put_placeholder() {
        placeholder_at_ = size_;
        crc_before_ = crc_;
        const bool summing = summing_;
        summing_ = false;
        put_u32(0);
        summing_ = summing;
        crc_ = 0;
    }
    void fill_placeholder(uint32_t value) {
        const uint8_t bytes[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                                  uint8_t(value >> 24)};
        overwrite(placeholder_at_, bytes, 4);
        const uint64_t after = size_ - placeholder_at_ - 4;
        crc_ = crc32_combine(crc32_update(crc_before_, bytes, 4), crc_, after);
    }

    // Replaces bytes already written; the size and the sum stay.
    void overwrite(uint64_t at, const uint8_t* data, size_t size) { out_.write_at(at, data, size); }

private:
    OutputFile& out_;
    uint64_t size_ = 0;
    bool summing_ = false;
    uint32_t crc_ = 0;
    uint64_t placeholder_at_ = 0;
    uint32_t crc_before_ = 0;
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
    out.put_placeholder();
    ChunkEncoder encoder(options);
    std::vector<uint8_t> buffer(kReadBlock);
    std::vector<uint8_t> body;
    size_t begin = 0, end = 0;
    uint64_t left = input.size;  // to read, as the scan found it
    bool at_end = false;
    uint64_t stored = 0;
    // A file that changes size while it is read would be stored as neither.
    auto changed = [&](const std::string& now) {
        problems.push_back(where + ": " + std::to_string(input.size) + " bytes when scanned, " +
                           now + " when read: it changed while being packed");
        return false;
    };
    for (;;) {
        if (!at_end && end - begin < size_t(kChunkOutputCapacity)) {
            std::memmove(buffer.data(), buffer.data() + begin, end - begin);
            end -= begin;
            begin = 0;
            const size_t want = size_t(std::min<uint64_t>(buffer.size() - end, left));
            file.read(reinterpret_cast<char*>(buffer.data() + end), std::streamsize(want));
            const size_t got = size_t(file.gcount());
            end += got;
            left -= got;
            if (file.bad()) {
                problems.push_back(where + ": read failed: " + system_reason());
                return false;
            }
            if (got < want) return changed(std::to_string(input.size - left));
            at_end = left == 0;
            if (at_end && file.peek() != std::ifstream::traits_type::eof())
                return changed("more");
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
    out.fill_placeholder(uint32_t(stored));
    if (verbosity() == Verbosity::kVerbose)
        print(input.name + ": " + count(input.size, "byte", "bytes") + ", " + std::to_string(stored) +
              " stored\n");
    return true;
}

bool write_carrier(const PackRequest& request, const fs::path& target,
                   const std::vector<uint8_t>& stub, const std::vector<Input>& inputs,
                   std::vector<std::string>& problems) {
    OutputFile file(target);
    CarrierWriter out(file);
    if (!out.good()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    const EncoderOptions options = request.greedy ? greedy_encoder_options() : EncoderOptions();
    uint64_t total = 0, done = 0;
    for (const Input& input : inputs) total += input.size;
    {
        Progress progress(total);
        out.put(stub.data(), stub.size());
        const uint8_t blank[kRecordSize] = {};
        out.put(blank, kRecordSize);  // filled in once the archive is summed
        out.start_sum();
        out.put_name(request.launch_name);
        for (const Input& input : inputs) {
            if (!put_entry(input, options, out, progress, done, problems)) return false;
            if (!out.good()) break;
        }
    }
    out.put("", 1);  // end marker
    const uint8_t zeros[kCarrierAlignment] = {};
    out.put(zeros, size_t((kCarrierAlignment - (out.size() + 4) % kCarrierAlignment) %
                          kCarrierAlignment));
    if (out.size() + 4 > kLargestCarrier) {
        problems.push_back(request.output + ": carrier would reach 4 GiB, more than the "
                                            "launcher can check and read");
        return false;
    }
    IntegrityRecord record;
    record.archive_offset = uint32_t(stub.size() + kRecordSize);
    record.archive_length = uint32_t(out.size() - record.archive_offset);
    record.archive_crc = out.stop_sum();
    out.put_u32(record.archive_offset);  // the trailer
    record.carrier_length = uint32_t(out.size());
    uint8_t record_bytes[kRecordSize];
    encode_record(record, record_bytes);
    out.overwrite(stub.size(), record_bytes, kRecordSize);
    if (!file.commit()) {
        problems.push_back(request.output + ": " + file.error());
        return false;
    }
    if (verbosity() != Verbosity::kQuiet)
        print(request.output + ": " + count(inputs.size(), "entry", "entries") + ", " +
              std::to_string(out.size()) + " bytes (stub " + std::to_string(stub.size()) +
              ", archive " + std::to_string(record.archive_length) +
              ", integrity record and trailer " + std::to_string(kRecordSize + 4) + ")\n");
    return true;
}

}  // namespace

int pack(const PackRequest& request, const fs::path& program) {
    std::vector<std::string> problems;
    std::vector<uint8_t> stub;
    fs::path stub_path;
    const bool stub_loaded = load_stub(request, program, stub, stub_path, problems);
    add_resources(request.resources, stub_loaded ? &stub : nullptr, problems);
    std::vector<Input> inputs;
    const bool all_found = gather(request.inputs, inputs, problems);
    check_inputs(inputs, request.temp_length, problems);
    if (all_found) check_launch_name(request.launch_name, inputs, problems);
    if (inputs.size() > kPausesWorthAWarning) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", double(inputs.size()) / 10);
        report_warning(std::to_string(inputs.size()) +
                       " files: the launcher pauses 0.1 s after each, about " + seconds +
                       " s in all");
    }
    fs::path target;
    if (check_output(request.output, stub_path, inputs, target, problems) && problems.empty())
        write_carrier(request, target, stub, inputs, problems);
    for (const std::string& problem : problems) report_error(problem);
    return problems.empty() ? 0 : 1;
}

std::vector<fs::path> default_stub_paths(const fs::path& program) {
    const fs::path folder = program.parent_path();
    return {folder / "launcher.exe",
            (folder / ".." / "share" / "brisk-courier" / "launcher.exe").lexically_normal(),
            (folder / ".." / "windows" / "launcher.exe").lexically_normal()};
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
