#include "tools/reading/carrier_walk.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "archive/archive_reader.h"
#include "archive/chunk_decoder.h"
#include "archive/format_rules.h"
#include "tools/identity/launcher_identity.h"
#include "tools/model/launch_rule.h"
#include "tools/reading/archive_start.h"
#include "tools/reading/entry_checks.h"
#include "tools/system/text_encoding.h"

namespace {

// Why a chunk record at `at` could not be read whole.
std::string record_problem(InputFile& file, uint64_t at, uint64_t size) {
    uint32_t length = 0;
    if (!file.seek(at) || !read_u32(file.carrier(), &length)) return "file ends inside a chunk record's length";
    if (length > uint32_t(kChunkInputCapacity))
        return "chunk body length " + std::to_string(length) + " is above " + std::to_string(kChunkInputCapacity);
    if (at + 4 + length > size)
        return "file ends inside a chunk body (" + std::to_string(size - at - 4) + " of " +
               std::to_string(length) + " bytes)";
    return "file ends after this chunk record, before the end marker";
}

// Why the name at `at` could not be read: read again to tell an end of
// file from an overlong name.
std::string unread_name(InputFile& file, uint64_t at) {
    char again[kNameCapacity];
    size_t got = 0;
    if (!file.seek(at) || !file.read(again, sizeof again, &got)) got = 0;
    if (got == sizeof again && !std::memchr(again, 0, sizeof again))
        return "name longer than " + std::to_string(kNameCapacity - 1) + " characters";
    return "file ends inside the name";
}

// The launcher's verdict on a name it joins to its folder: false where its
// run fails; what it gets through but may not mean is a warning.
bool check_name(WalkFindings& findings, const std::string& where, const std::string& name, uint64_t at,
                int temp_length) {
    if (!is_contained_name(name.c_str()))
        return findings.fail(where, at, "name reaches outside the extraction folder");
    const std::string problem = length_problem(name.size());
    if (!problem.empty()) return findings.fail(where, at, problem);
    const std::string doubt = length_doubt(name.size(), temp_length);
    if (!doubt.empty()) findings.warn(Doubt::kNeedsShortTemp, where, at, doubt);
    return true;
}

// The archive read as the launcher reads it: the launch name, then each
// entry's name, stored size and chunk records, decoded.
class EntryReader {
public:
    EntryReader(InputFile& file, WalkSink& sink, int temp_length, WalkFindings& findings)
        : file_(file), sink_(sink), temp_length_(temp_length), findings_(findings),
          size_(file.size()), pos_(findings.archive_start()) {}

    bool read_name_at(const std::string& where, char (&name)[kNameCapacity]) {
        const uint64_t at = pos_;
        if (!read_name(file_.carrier(), name)) return findings_.fail(where, at, unread_name(file_, at));
        pos_ += std::strlen(name) + 1;
        return true;
    }

    // The entry whose name was read at `at`.
    bool read_entry(CarrierEntry& entry, uint64_t at) {
        const std::string where = "entry '" + printable(entry.name) + "'";
        if (!read_u32(file_.carrier(), &entry.stored_size))
            return findings_.fail(where, pos_, "file ends inside the stored size");
        pos_ += 4;
        if (!check_name(findings_, where, entry.name, at, temp_length_)) return false;
        const std::string problem = name_problem(entry.name);
        if (!problem.empty()) return findings_.fail(where, at, problem);
        const std::string doubt = name_doubt(entry.name);
        if (!doubt.empty()) findings_.warn(Doubt::kNameMayChange, where, at, doubt);
        std::string stop = sink_.begin_entry(entry);
        if (!stop.empty()) return findings_.fail(where, at, stop);
        if (!read_records(entry, where)) return false;
        stop = sink_.end_entry(entry);
        if (!stop.empty()) return findings_.fail(where, at, stop);
        return true;
    }

    uint64_t position() const { return pos_; }

private:
    // The launcher's extract_entry, counting instead of showing progress.
    bool read_records(CarrierEntry& entry, const std::string& where) {
        ChunkDecoder decoder;
        if (!decoder.ok()) return findings_.fail(where, pos_, "no memory for the decoder");
        uint8_t input[kChunkInputCapacity];
        uint8_t decoded[kChunkOutputCapacity];
        uint32_t consumed = 0;
        while (consumed < entry.stored_size) {
            const uint64_t at = pos_;
            uint32_t delivered = 0;
            if (!read_chunk_record(file_.carrier(), input, &delivered))
                return findings_.fail(where, at, record_problem(file_, at, size_));
            pos_ += 4 + delivered;
            const uint32_t next = consumed + delivered + 4;
            consumed = next < consumed ? 0xFFFFFFFFu : next;
            // Every read from here on fails: the end marker is missing.
            if (pos_ >= size_) return findings_.fail(where, at, record_problem(file_, at, size_));
            if (delivered == 0) return true;  // a zero-length record ends the entry
            const int32_t n = decoder.decode_chunk(input, int32_t(delivered), decoded, kChunkOutputCapacity);
            if (n < 0)
                return findings_.fail(where, at,
                                      "chunk decodes to more than " + std::to_string(kChunkOutputCapacity) + " bytes");
            entry.decoded_size += uint32_t(n);
            const std::string stop = n > 0 ? sink_.write(decoded, size_t(n)) : "";
            if (!stop.empty()) return findings_.fail(where, at, stop);
        }
        return true;
    }

    InputFile& file_;
    WalkSink& sink_;
    int temp_length_;
    WalkFindings& findings_;
    uint64_t size_;
    uint64_t pos_;  // file offset of the next read
};

// The launch name once every entry is read: the run fails on a name it
// cannot join or a device, and opens nothing when the launch rule left it
// no file.
void check_launch_name(WalkFindings& findings, const LaunchRule& rule, int temp_length) {
    Carrier& carrier = findings.carrier();
    const std::string& launch = carrier.launch_name;
    const std::string where = "launch name '" + printable(launch) + "'";
    const uint64_t start = findings.archive_start();
    findings.about(0, &launch);
    if (!check_name(findings, where, launch, start, temp_length)) return;
    // The launcher refuses to open a device, and its run fails there.
    if (is_device_name(launch.c_str())) {
        findings.fail(where, start, "reserved Windows device name: the launcher fails rather than open it");
        return;
    }
    // An empty launch name opens the folder itself.
    const bool found = launch.empty() || rule.held();
    carrier.launch_opens = found;
    if (!found && !rule.dropped_by().empty())
        findings.warn(Doubt::kLaunchFileRewritten, where, start,
                      "its file is written again by the later entry '" + printable(rule.dropped_by()) +
                          "', which Windows takes for the same file, so the launcher opens nothing");
    else if (!found)
        findings.warn(Doubt::kLaunchNamesNoEntry, where, start, "names no entry, so the launcher opens nothing");
    findings.result().ok = true;
}

// The entries up to the end marker, each put through the launch rule.
void walk_entries(EntryReader& reader, WalkFindings& findings, int temp_length) {
    Carrier& carrier = findings.carrier();
    char name[kNameCapacity];
    if (!reader.read_name_at("launch name", name)) return;
    carrier.launch_name = name;
    carrier.launch_read = true;
    LaunchRule rule(carrier.launch_name);
    for (;;) {
        const size_t number = carrier.entry_count() + 1;
        findings.about(number, nullptr);
        const uint64_t at = reader.position();
        if (!reader.read_name_at("entry " + std::to_string(number), name)) return;
        if (name[0] == '\0') break;  // end marker
        CarrierEntry entry;
        entry.name = name;
        findings.about(number, &entry.name);
        entry.offset = at - findings.archive_start();
        if (!reader.read_entry(entry, at)) return;
        rule.follow(entry.name, carrier.keeps(entry) ? carrier.entries.size() : kNoEntry);
        carrier.add_entry(entry);
    }
    carrier.launch_first = rule.first();
    carrier.launch_entry = rule.last();
    if (carrier.unlisted.count != 0)
        findings.result().notes.push_back("entries after the first " + std::to_string(carrier.entries.size()) +
                                          " are checked and counted, not listed or compared by name");
    check_same_files(findings);
    check_short_names(findings);
    check_launch_name(findings, rule, temp_length);
}

}  // namespace

WalkResult walk_carrier(const std::string& path, ProgramFile& file, WalkSink& sink, int temp_length) {
    WalkResult result;
    if (!file.is_open()) {
        std::error_code ec;
        result.failure.reason = std::filesystem::is_directory(path_from_utf8(path), ec)
                                    ? "a folder, not a carrier"
                                    : "cannot open: " + file.error();
        return result;
    }
    WalkFindings findings(result);
    if (find_archive_start(file, findings)) {
        EntryReader reader(file.file(), sink, temp_length, findings);
        walk_entries(reader, findings, temp_length);
    }
    result.carrier.resources = read_resource_report(file);
    const uint64_t image_end = result.carrier.image_end() ? result.carrier.image_end() : file.file().size();
    result.carrier.launcher =
        identify_carrier_launcher(file, image_end, carrier_image_is_launcher(file, image_end));
    return result;
}

WalkResult walk_carrier(const std::string& path, WalkSink& sink, int temp_length) {
    errno = 0;
    ProgramFile file(path_from_utf8(path));
    return walk_carrier(path, file, sink, temp_length);
}
