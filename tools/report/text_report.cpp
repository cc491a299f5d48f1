#include "tools/report/text_report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <functional>
#include <sstream>

#include "archive/format_rules.h"
#include "tools/carrier/names.h"
#include "tools/system/console.h"

namespace {

std::string ratio(uint64_t stored, uint64_t decoded) {
    if (decoded == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(stored) / double(decoded));
    return text;
}

using Row = std::array<std::string, 4>;

// Name left-aligned, numbers right-aligned, two spaces between. Each row is
// made twice, to measure and to write, rather than held: a carrier may list
// a million entries.
void append_table(size_t rows, const std::function<Row(size_t)>& row, std::string& text) {
    std::array<size_t, 4> width{};
    for (size_t r = 0; r < rows; ++r) {
        const Row cells = row(r);
        for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], cells[c].size());
    }
    text.reserve(text.size() + rows * (width[0] + width[1] + width[2] + width[3] + 7));
    for (size_t r = 0; r < rows; ++r) {
        const Row cells = row(r);
        text += cells[0] + std::string(width[0] - cells[0].size(), ' ');
        for (size_t c = 1; c < width.size(); ++c)
            text += "  " + std::string(width[c] - cells[c].size(), ' ') + cells[c];
        text += '\n';
    }
}

// What the carrier says of itself: notes and its launcher always, the
// record with -v.
void print_notes(const WalkResult& result, std::ostream& out) {
    for (const std::string& note : result.notes) out << note << '\n';
    if (result.carrier.launcher.read) out << "launcher: " << result.carrier.launcher.text() << '\n';
    const IntegrityRecord& record = result.carrier.record;
    if (verbosity() != Verbosity::kVerbose || record.carrier_length == 0) return;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", record.archive_crc);
    out << "integrity record: carrier of " << record.carrier_length << " bytes, archive at offset "
        << record.archive_offset << ", " << record.archive_length << " bytes, CRC-32 " << crc
        << '\n';
}

// A few lines, nothing when the carrier has no resources.
void print_resources(const ResourceReport& report, std::ostream& out) {
    if (!report.any) return;
    if (!report.icon.empty()) {
        out << "icon:";
        for (size_t i = 0; i < report.icon.size(); ++i) {
            const IconReport& icon = report.icon[i];
            out << (i ? ", " : " ") << icon.width << "x" << icon.height << " " << icon.bit_count
                << "-bit" << (icon.png ? " PNG" : "");
        }
        if (report.icon_groups > 1) out << " (first of " << report.icon_groups << " icons)";
        out << '\n';
    }
    if (report.has_version) {
        out << "version: file " << report.version.file.text() << ", product "
            << report.version.product.text() << '\n';
        for (const auto& [key, value] : report.version.strings)
            out << "version string: " << escaped(key) << " = " << escaped(value) << '\n';
    }
    if (report.has_manifest) {
        if (!report.manifest_problem.empty())
            out << "manifest: " << escaped(report.manifest_problem) << '\n';
        else if (report.execution_level.empty())
            out << "execution level: none in the manifest\n";
        else
            out << "execution level: " << report.execution_level << '\n';
    }
    for (const std::string& problem : report.problems) out << "resources: " << escaped(problem) << '\n';
}

}  // namespace

std::string notes_text(const WalkResult& result) {
    std::ostringstream out;
    print_notes(result, out);
    return out.str();
}

std::string list_text(const WalkResult& result) {
    const Carrier& carrier = result.carrier;
    std::ostringstream out;
    print_notes(result, out);
    print_resources(carrier.resources, out);
    if (!carrier.launch_read) return out.str();
    out << "launch: " << printable(carrier.launch_name) << "\n";
    const std::vector<CarrierEntry>& entries = carrier.entries;
    const uint64_t stored = carrier.stored_total(), decoded = carrier.decoded_total();
    // The heading, the entries, the total.
    std::string text = out.str();
    append_table(entries.size() + 2, [&](size_t r) -> Row {
        if (r == 0) return {"name", "stored", "decoded", "ratio"};
        if (r > entries.size())
            return {"total (" + count(carrier.entry_count(), "entry", "entries") + ")",
                    std::to_string(stored), std::to_string(decoded), ratio(stored, decoded)};
        const CarrierEntry& entry = entries[r - 1];
        return {printable(entry.name), std::to_string(entry.stored_size),
                std::to_string(entry.decoded_size), ratio(entry.stored_size, entry.decoded_size)};
    }, text);
    return text;
}

std::string pauses_text(uint64_t files) {
    auto seconds = [](uint64_t ms) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f s", double(ms) / 1000);
        return std::string(text);
    };
    return std::to_string(files) + " files: the launcher pauses " + seconds(kEntryPauseMs) +
           " after each and " + seconds(kLaunchPauseMs) + " after the launch, " +
           seconds(run_pauses_ms(files)) + " in all";
}

std::string verified_text(const std::string& path, const WalkResult& result) {
    const Carrier& carrier = result.carrier;
    std::ostringstream out;
    print_resources(carrier.resources, out);
    if (verbosity() == Verbosity::kVerbose)
        for (const CarrierEntry& entry : carrier.entries)
            out << "ok: " << printable(entry.name) << " ("
                << count(entry.decoded_size, "byte", "bytes") << ")\n";
    if (carrier.entry_count() > kPausesWorthSaying) out << pauses_text(carrier.entry_count()) << "\n";
    out << escaped(path) << ": ok, " << count(carrier.entry_count(), "entry", "entries") << ", "
        << count(carrier.decoded_total(), "byte", "bytes") << " unpacked, "
        << (!carrier.launch_opens         ? std::string("opens nothing")
            : carrier.launch_name.empty() ? std::string("opens the folder")
                                          : "launches '" + printable(carrier.launch_name) + "'")
        << "\n";
    return out.str();
}

std::string packed_entry_text(const CarrierEntry& entry) {
    return entry.name + ": " + count(entry.decoded_size, "byte", "bytes") + ", " +
           std::to_string(entry.stored_size) + " stored\n";
}

std::string packed_text(const std::string& output, const Carrier& carrier) {
    return output + ": " + count(carrier.entry_count(), "entry", "entries") + ", " +
           std::to_string(carrier.record.carrier_length) + " bytes (stub " +
           std::to_string(carrier.image_size) + ", archive " +
           std::to_string(carrier.record.archive_length) + ", integrity record and trailer " +
           std::to_string(kRecordSize + kTrailerSize) + ")\n";
}
