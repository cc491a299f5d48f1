#include "tools/reading/carrier_walk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>
#include <unordered_map>

#include "archive/archive_reader.h"
#include "archive/chunk_decoder.h"
#include "archive/format_rules.h"
#include "tools/carrier/pe_image.h"
#include "tools/carrier/short_names.h"
#include "tools/identity/launcher_identity.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/system/text_encoding.h"

namespace {

// Pairs of names compared for short names at most: a real carrier needs a
// few thousand; a crafted one of a million of each would take hours. This
// many let 6,000 names of each kind be compared whole, in 2.4 s on a
// shared 2-core Xeon.
constexpr uint64_t kMostShortNameChecks = uint64_t(1) << 25;
// Entries of a group that Windows takes for one file named in its warning,
// besides the last.
constexpr size_t kGroupMembersNamed = 3;

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t k = 0; k < parts.size(); ++k)
        text += (k == 0 ? "" : k + 1 < parts.size() ? ", " : " and ") + parts[k];
    return text;
}

class Walk {
public:
    Walk(InputFile& file, WalkSink& sink, int temp_length, WalkResult& result)
        : file_(file), sink_(sink), temp_length_(temp_length), result_(result) {}

    void run() {
        size_ = file_.size();
        // Without a high part, Windows' SetFilePointer cannot report a
        // trailer at 4 GiB or beyond, so the launcher finds no archive there.
        if (size_ >= 0xFFFFFFFFull + 4) {
            fail_trailer("4 GiB or more: the launcher cannot seek to the trailer");
            return;
        }
        if (!is_program()) return;
        if (!check_record() || !locate()) return;
        char name[kNameCapacity];
        if (!read_name_at("launch name", name)) return;
        result_.carrier.launch_name = name;
        result_.carrier.launch_read = true;
        launch_key_ = windows_file_key(name);
        for (;;) {
            entry_ = result_.carrier.entry_count() + 1;
            named_ = false;
            const std::string where = "entry " + std::to_string(entry_);
            const uint64_t at = pos_;
            if (!read_name_at(where, name)) return;
            if (name[0] == '\0') break;  // end marker
            named_ = true;
            name_ = name;
            CarrierEntry entry;
            entry.name = name;
            entry.offset = at - start_;
            if (!read_entry(entry, at)) return;
            follow_launch_rule(entry);
            result_.carrier.add_entry(entry);
        }
        if (result_.carrier.unlisted.count != 0)
            result_.notes.push_back("entries after the first " + std::to_string(kMostListedEntries) +
                                    " are checked and counted, not listed or compared by name");
        check_same_files();
        check_short_names();
        check_launch_name();
    }

private:
    WalkFinding finding(const std::string& where, uint64_t offset, const std::string& reason) const {
        WalkFinding found;
        found.where = where;
        found.entry = entry_;
        found.named = named_;
        if (named_) found.name = name_;
        found.has_offset = true;
        found.offset = offset;
        found.reason = reason;
        return found;
    }

    bool fail(const std::string& where, uint64_t at, const std::string& reason) {
        result_.failure = finding(where, at - start_, reason);
        return false;
    }

    void warn(Doubt doubt, const std::string& where, uint64_t at, const std::string& reason) {
        result_.add_warning(WalkWarning{finding(where, at - start_, reason), doubt});
    }

    bool fail_carrier(const std::string& reason) {
        result_.failure.reason = reason;
        return false;
    }

    // Windows starts nothing that does not begin with MZ, so such a file is
    // no carrier, whatever its last bytes say.
    bool is_program() {
        char mz[2] = {};
        if (file_.read_at(0, mz, 2) && mz[0] == 'M' && mz[1] == 'Z')
            return true;
        return fail_carrier("not a carrier: not a Windows program (it does not start with MZ)");
    }

    // The launcher's own check, before anything else it does, and its idea
    // of where the carrier's content ends (before a signature).
    bool check_record() {
        CarrierLayout layout;
        if (!read_carrier_layout(file_.carrier(), &layout)) {
            result_.notes.push_back("no integrity record");
            return true;  // headers the launcher cannot read: it takes the plain layout
        }
        end_ = layout.content_end;
        result_.carrier.image_size = layout.image_end;
        result_.carrier.cert_offset = layout.cert_offset;
        result_.carrier.cert_size = layout.cert_size;
        if (layout.cert_size != 0)
            result_.notes.push_back("signed: certificate table at offset " +
                                    std::to_string(layout.cert_offset));
        IntegrityRecord& record = result_.carrier.record;
        result_.carrier.integrity = check_integrity(file_.carrier(), layout, &record);
        switch (result_.carrier.integrity) {
        case Integrity::kNoRecord:
            result_.notes.push_back("no integrity record");
            return true;
        case Integrity::kIntact:
            record_offset_ = record.archive_offset;
            // Cut right at its certificate table, a signed carrier still runs,
            // but it is no longer what was signed.
            if (uint64_t expected = 0; layout.cert_size == 0 && signed_length(record, &expected)) {
                result_.carrier.integrity = Integrity::kTruncated;
                return fail_carrier(length_mismatch(expected, size_));
            }
            return true;
        case Integrity::kTruncated:
            // A plain program, the bare launcher or any setup.exe, ends where
            // its image does: nothing was cut from it.
            if (layout.content_end == layout.image_end) {
                result_.carrier.integrity = Integrity::kNoRecord;
                return fail_carrier("not a carrier: nothing is appended to this program");
            }
            return fail_carrier(length_problem(layout, record));
        case Integrity::kDamaged:
            return fail_carrier(damage(layout));
        }
        return true;
    }

    // Why check_integrity found the carrier's length wrong; `record` is
    // decoded whenever the file holds one whole.
    std::string length_problem(const CarrierLayout& layout, const IntegrityRecord& record) {
        if (layout.content_end < layout.image_end)
            return "truncated: file of " + std::to_string(layout.content_end) +
                   " bytes ends inside the launcher's image of " +
                   std::to_string(layout.image_end);
        if (layout.content_end - layout.image_end < kRecordSize)
            return "truncated: file ends inside the integrity record";
        if (record.carrier_length != layout.content_end) {
            uint64_t expected = record.carrier_length, found = layout.content_end;
            if (signed_length(record, &expected)) found = size_;
            return length_mismatch(expected, found);
        }
        return "integrity record does not match the carrier: archive at offset " +
               std::to_string(record.archive_offset) + ", " +
               std::to_string(record.archive_length) + " bytes; expected at offset " +
               std::to_string(uint64_t(layout.image_end) + kRecordSize) +
               ", running up to the trailer";
    }

    static std::string length_mismatch(uint64_t expected, uint64_t found) {
        const std::string counts = "expected " + std::to_string(expected) + " bytes, found " +
                                   std::to_string(found);
        return found < expected ? "truncated: " + counts : counts + ": data was added after packing";
    }

    // The length of a carrier signed after packing. Cut short, its table no
    // longer ends the file, but its headers still say where the table
    // starts (where the record says the carrier ended) and how long it is.
    bool signed_length(const IntegrityRecord& record, uint64_t* length) {
        uint32_t at = 0, size = 0;
        if (!certificate_directory(&at, &size) || at != record.carrier_length) return false;
        *length = uint64_t(at) + size;
        return true;
    }

    std::string damage(const CarrierLayout& layout) {
        uint8_t bytes[kRecordSize];
        IntegrityRecord ignored;
        if (file_.read_at(layout.image_end, bytes, kRecordSize) &&
            decode_record(bytes, &ignored) == RecordState::kCorrupt)
            return "integrity record damaged: its own checksum does not match";
        return "archive checksum mismatch";
    }

    // The certificate table entry of the PE headers, whether or not the table
    // is there. Called only once read_carrier_layout has accepted them.
    bool certificate_directory(uint32_t* at, uint32_t* length) {
        uint8_t head[kPeHeaderRead];
        size_t got = 0;
        PeHeaders headers;
        if (!file_.seek(0) || !file_.read(head, sizeof head, &got) ||
            !read_pe_headers(head, got, headers).empty())
            return false;
        std::tie(*at, *length) = headers.directory(kCertificateDirectory, head);
        return *length != 0;
    }

    bool locate() {
        // As the launcher: before the signature when it read its headers.
        if (!(end_ ? locate_archive_before(file_.carrier(), uint32_t(end_))
                    : locate_archive(file_.carrier()))) {
            const uint64_t end = end_ ? end_ : size_;
            uint32_t offset = 0;
            std::string reason;
            if (end < 4 || !file_.seek(end - 4) || !read_u32(file_.carrier(), &offset))
                reason = "file of " + std::to_string(end) + " bytes has no trailer";
            else
                reason = "offset " + std::to_string(offset) +
                         " does not point into the file before the trailer, below 2 GiB";
            // With no record to say it was packed, nothing says it is a carrier.
            if (result_.carrier.integrity == Integrity::kNoRecord)
                return fail_carrier("not a carrier: no integrity record, and trailer: " + reason);
            return fail_trailer(reason);
        }
        start_ = pos_ = result_.carrier.archive_start = file_.position();
        // The checksum covers the archive, not the trailer that leads to it.
        if (record_offset_ != 0 && start_ != record_offset_)
            return fail_trailer("offset " + std::to_string(start_) +
                                ", but the integrity record puts the archive at " +
                                std::to_string(record_offset_));
        return true;
    }

    bool fail_trailer(const std::string& reason) {
        result_.failure.where = "trailer";
        result_.failure.reason = reason;
        return false;
    }

    bool read_name_at(const std::string& where, char (&name)[kNameCapacity]) {
        const uint64_t at = pos_;
        if (read_name(file_.carrier(), name)) {
            pos_ += std::strlen(name) + 1;
            return true;
        }
        // Read again to tell an end of file from an overlong name.
        char again[kNameCapacity];
        size_t got = 0;
        if (!file_.seek(at) || !file_.read(again, sizeof again, &got)) got = 0;
        if (got == sizeof again && !std::memchr(again, 0, sizeof again))
            return fail(where, at, "name longer than " + std::to_string(kNameCapacity - 1) + " characters");
        return fail(where, at, "file ends inside the name");
    }

    // The launcher's verdict on a name it joins to its folder: false where
    // its run fails; what it gets through but may not mean is a warning.
    bool check_name(const std::string& where, const std::string& name, uint64_t at) {
        if (!is_contained_name(name.c_str()))
            return fail(where, at, "name reaches outside the extraction folder");
        const std::string problem = ::length_problem(name.size());
        if (!problem.empty()) return fail(where, at, problem);
        const std::string doubt = length_doubt(name.size(), temp_length_);
        if (!doubt.empty()) warn(Doubt::kNeedsShortTemp, where, at, doubt);
        return true;
    }

    bool read_entry(CarrierEntry& entry, uint64_t at) {
        const std::string where = "entry '" + printable(entry.name) + "'";
        if (!read_u32(file_.carrier(), &entry.stored_size))
            return fail(where, pos_, "file ends inside the stored size");
        pos_ += 4;
        if (!check_name(where, entry.name, at)) return false;
        const std::string problem = name_problem(entry.name);
        if (!problem.empty()) return fail(where, at, problem);
        const std::string doubt = name_doubt(entry.name);
        if (!doubt.empty()) warn(Doubt::kNameMayChange, where, at, doubt);
        std::string stop = sink_.begin_entry(entry);
        if (!stop.empty()) return fail(where, at, stop);
        if (!read_records(entry, where)) return false;
        stop = sink_.end_entry(entry);
        if (!stop.empty()) return fail(where, at, stop);
        return true;
    }

    // The launcher's extract_entry, counting instead of showing progress.
    bool read_records(CarrierEntry& entry, const std::string& where) {
        ChunkDecoder decoder;
        if (!decoder.ok()) return fail(where, pos_, "no memory for the decoder");
        uint8_t input[kChunkInputCapacity];
        uint8_t decoded[kChunkOutputCapacity];
        uint32_t consumed = 0;
        while (consumed < entry.stored_size) {
            const uint64_t at = pos_;
            uint32_t delivered = 0;
            if (!read_chunk_record(file_.carrier(), input, &delivered)) return fail(where, at, record_problem(at));
            pos_ += 4 + delivered;
            const uint32_t next = consumed + delivered + 4;
            consumed = next < consumed ? 0xFFFFFFFFu : next;
            // Every read from here on fails: the end marker is missing.
            if (pos_ >= size_) return fail(where, at, record_problem(at));
            if (delivered == 0) return true;  // a zero-length record ends the entry
            const int32_t n = decoder.decode_chunk(input, int32_t(delivered), decoded,
                                                   kChunkOutputCapacity);
            if (n < 0)
                return fail(where, at,
                            "chunk decodes to more than " + std::to_string(kChunkOutputCapacity) + " bytes");
            entry.decoded_size += uint32_t(n);
            const std::string stop = n > 0 ? sink_.write(decoded, size_t(n)) : "";
            if (!stop.empty()) return fail(where, at, stop);
        }
        return true;
    }

    std::string record_problem(uint64_t at) {
        uint32_t length = 0;
        if (!file_.seek(at) || !read_u32(file_.carrier(), &length))
            return "file ends inside a chunk record's length";
        if (length > uint32_t(kChunkInputCapacity))
            return "chunk body length " + std::to_string(length) + " is above " +
                   std::to_string(kChunkInputCapacity);
        if (at + 4 + length > size_)
            return "file ends inside a chunk body (" + std::to_string(size_ - at - 4) + " of " +
                   std::to_string(length) + " bytes)";
        return "file ends after this chunk record, before the end marker";
    }

    // Entries whose names Windows takes for one file: the launcher writes
    // each over the one before, so the last one's bytes are what runs. One
    // warning a group, at its last entry.
    void check_same_files() {
        const std::vector<CarrierEntry>& entries = result_.carrier.entries;
        std::unordered_map<std::string, std::vector<size_t>> groups;
        for (size_t i = 0; i < entries.size(); ++i)
            groups[windows_file_key(entries[i].name)].push_back(i);
        std::vector<std::vector<size_t>> shared;
        for (auto& group : groups)
            if (group.second.size() > 1) shared.push_back(std::move(group.second));
        std::sort(shared.begin(), shared.end(),
                  [](const auto& a, const auto& b) { return a.back() < b.back(); });
        for (const std::vector<size_t>& group : shared) {
            // The first few and the last, which stays; the others counted.
            std::vector<std::string> names;
            bool ansi = false;
            const std::string ascii_key = windows_file_key(entries[group[0]].name, false);
            for (size_t k = 0; k < group.size(); ++k) {
                const std::string& name = entries[group[k]].name;
                if (k < kGroupMembersNamed || k + 1 == group.size())
                    names.push_back("'" + printable(name) + "'");
                else if (k == kGroupMembersNamed)
                    names.push_back(std::to_string(group.size() - kGroupMembersNamed - 1) + " more");
                ansi = ansi || windows_file_key(name, false) != ascii_key;
            }
            const CarrierEntry& last = entries[group.back()];
            entry_ = group.back() + 1;
            named_ = true;
            name_ = last.name;
            warn(Doubt::kSameFileOnWindows, "entry '" + printable(last.name) + "'",
                 start_ + last.offset,
                 "entries " + listed(names) + " are one file on Windows" +
                     (ansi ? " (letters as code page " + std::to_string(kFoldedCodePage) + " has them)"
                           : "") +
                     "; the last one stays");
        }
    }

    // Entries named as Windows may have named another entry's file for
    // its short (8.3) name: the launcher would write into that file. One
    // warning each, at the short name.
    void check_short_names() {
        const std::vector<CarrierEntry>& entries = result_.carrier.entries;
        const ShortNameTwins found = find_short_name_twins(
            entries.size(), [&](size_t i) -> const std::string& { return entries[i].name; },
            kMostShortNameChecks);
        const std::string& launch = result_.carrier.launch_name;
        for (const ShortNameTwin& twin : found.twins) {
            const CarrierEntry& alias = entries[twin.short_name];
            const CarrierEntry& other = entries[twin.long_name];
            entry_ = twin.short_name + 1;
            named_ = true;
            name_ = alias.name;
            // Written after the launch file, into it: the run opens nothing.
            const bool drops_launch =
                twin.short_name > twin.long_name && same_name(other.name, launch);
            warn(Doubt::kShortNameAlias, "entry '" + printable(alias.name) + "'", start_ + alias.offset,
                 "may be the short (8.3) name Windows gives '" + printable(other.name) +
                     "' (the volume decides): then the two are one file, and the later one's "
                     "bytes stay under both names" +
                     (drops_launch ? std::string(", so the launcher opens nothing") : ""));
        }
        if (found.not_compared != 0) {
            WalkWarning warning;
            warning.doubt = Doubt::kShortNameAlias;
            warning.reason = std::to_string(found.not_compared) +
                             " entries named like short (8.3) names were not compared with every "
                             "other name: too many to compare";
            result_.add_warning(warning);
        }
    }

    // The launcher's launch rule, as it applies it after each entry: one
    // read whole with the launch name takes the launch file, and a later
    // one that Windows writes into the same file drops it.
    void follow_launch_rule(const CarrierEntry& entry) {
        const bool rewrote = launch_held_ && windows_file_key(entry.name) == launch_key_;
        switch (launch_step(same_name(entry.name, result_.carrier.launch_name), rewrote, true)) {
        case LaunchStep::kTake:
            launch_held_ = true;
            break;
        case LaunchStep::kDrop:
            launch_held_ = false;
            launch_dropped_by_ = entry.name;
            break;
        case LaunchStep::kKeep:
            break;
        }
    }

    void check_launch_name() {
        const std::string& launch = result_.carrier.launch_name;
        const std::string where = "launch name '" + printable(launch) + "'";
        entry_ = 0;
        named_ = true;
        name_ = launch;
        if (!check_name(where, launch, start_)) return;
        // The launcher refuses to open a device, and its run fails there.
        if (is_device_name(launch.c_str())) {
            fail(where, start_, "reserved Windows device name: the launcher fails rather than open it");
            return;
        }
        // An empty launch name opens the folder itself.
        const bool found = launch.empty() || launch_held_;
        result_.carrier.launch_opens = found;
        if (!found && !launch_dropped_by_.empty())
            warn(Doubt::kLaunchFileRewritten, where, start_,
                 "its file is written again by the later entry '" + printable(launch_dropped_by_) +
                     "', which Windows takes for the same file, so the launcher opens nothing");
        else if (!found)
            warn(Doubt::kLaunchNamesNoEntry, where, start_,
                 "names no entry, so the launcher opens nothing");
        result_.ok = true;
    }

    InputFile& file_;
    WalkSink& sink_;
    // The launch rule's state: whether the launch file would be opened as
    // things stand, and the entry that last took that away.
    bool launch_held_ = false;
    std::string launch_dropped_by_;
    std::string launch_key_;  // windows_file_key of the launch name
    int temp_length_;
    WalkResult& result_;
    uint64_t size_ = 0;
    uint64_t end_ = 0;    // where the launcher takes the content to end, 0 for the file's end
    uint64_t record_offset_ = 0;  // the archive's offset by an intact record
    uint64_t start_ = 0;  // file offset of the archive
    uint64_t pos_ = 0;    // file offset of the next read
    // What findings are about: the entry's number, and its name once read.
    size_t entry_ = 0;
    bool named_ = false;
    std::string name_;
};

}  // namespace

WalkResult walk_carrier(const std::string& path, WalkSink& sink, int temp_length) {
    WalkResult result;
    errno = 0;
    InputFile file(path_from_utf8(path));
    if (!file.is_open()) {
        std::error_code ec;
        result.failure.reason = std::filesystem::is_directory(path_from_utf8(path), ec)
                                    ? "a folder, not a carrier"
                                    : "cannot open: " + file.error();
        return result;
    }
    Walk(file, sink, temp_length, result).run();
    result.carrier.resources = read_resource_report(file);
    const uint64_t image_end = result.carrier.image_end() ? result.carrier.image_end() : file.size();
    result.carrier.launcher = identify_carrier_launcher(
        file, image_end, carrier_image_is_launcher(file, image_end));
    return result;
}
