#include "tools/reading/commands.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "tools/reading/carrier_walk.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/report/json_report.h"
#include "tools/system/output_file.h"
#include "tools/carrier/pe_image.h"
#include "tools/resources/resource_report.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

std::string ratio(uint64_t stored, uint64_t decoded) {
    if (decoded == 0) return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * double(stored) / double(decoded));
    return text;
}

using Row = std::array<std::string, 4>;

// Name left-aligned, numbers right-aligned, two spaces between.
void print_table(const std::vector<Row>& rows, std::ostream& out) {
    std::array<size_t, 4> width{};
    for (const Row& row : rows)
        for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const Row& row : rows) {
        std::string line = row[0] + std::string(width[0] - row[0].size(), ' ');
        for (size_t c = 1; c < width.size(); ++c)
            line += "  " + std::string(width[c] - row[c].size(), ' ') + row[c];
        out << line << '\n';
    }
}

// What the carrier says of itself: notes always, the record with -v.
void print_notes(const WalkResult& result, std::ostream& out) {
    for (const std::string& note : result.notes) out << note << '\n';
    const IntegrityRecord& record = result.record;
    if (verbosity() != Verbosity::kVerbose || record.carrier_length == 0) return;
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08X", record.archive_crc);
    out << "integrity record: carrier of " << record.carrier_length << " bytes, archive at offset "
        << record.archive_offset << ", " << record.archive_length << " bytes, CRC-32 " << crc
        << '\n';
}

// Warnings, and the failure when there is one; with strict, warnings are
// failures too. Returns the exit code.
int report_walk(const std::string& carrier, const WalkResult& result, bool strict = false) {
    for (const WalkWarning& warning : result.warnings) {
        const std::string line = carrier + ": " + warning.text();
        if (strict) report_error(line);
        else report_warning(line);
    }
    if (!result.ok) report_error(carrier + ": " + result.failure.text());
    return result.ok && !(strict && !result.warnings.empty()) ? 0 : 1;
}

uint64_t decoded_total(const WalkResult& result) {
    uint64_t decoded = 0;
    for (const WalkEntry& entry : result.entries) decoded += entry.decoded_size;
    return decoded;
}

// Each entry is written beside its final name and renamed into place when
// whole, so a failure leaves an earlier file of that name as it was. A
// regular file of the name is replaced, as tar does; anything else there (a
// link, a folder, a FIFO, the carrier being read) is left alone, and the
// extraction stops.
class ExtractSink : public WalkSink {
public:
    ExtractSink(const fs::path& folder, const fs::path& carrier)
        : folder_(folder), carrier_(carrier) {}

    std::string begin_entry(const WalkEntry& entry) override {
        target_ = folder_ / entry.name;
        if (same_file(target_, carrier_))
            return target_.u8string() + ": is the carrier being read: extract into another folder";
        const std::string why = not_replaceable(target_);
        if (!why.empty()) return target_.u8string() + ": " + why + ", left as it is";
        out_ = std::make_unique<OutputFile>(target_);
        return trouble();
    }
    std::string write(const uint8_t* data, size_t size) override {
        out_->write(data, size);
        return trouble();
    }
    std::string end_entry(const WalkEntry& entry) override {
        out_->commit();
        const std::string stop = trouble();
        out_.reset();
        if (stop.empty() && verbosity() == Verbosity::kVerbose)
            print(target_.u8string() + " (" + count(entry.decoded_size, "byte", "bytes") + ")\n");
        return stop;
    }

private:
    std::string trouble() const {
        return out_->error().empty() ? "" : target_.u8string() + ": " + out_->error();
    }

    fs::path folder_;
    fs::path carrier_;
    fs::path target_;
    std::unique_ptr<OutputFile> out_;  // discarded unless committed
};

}  // namespace

int list_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    WalkSink counter;
    const WalkResult result = walk_carrier(carrier, counter);
    const ResourceReport resources = read_resource_report(carrier);
    if (request.json) {
        print(json_report("list", carrier, result, resources, result.ok, result.failure));
        return report_walk(carrier, result);
    }
    std::ostringstream out;
    print_notes(result, out);
    print_resource_report(resources, out);
    if (result.launch_read) {
        out << "launch: " << printable(result.launch_name) << "\n";
        std::vector<Row> rows = {{"name", "stored", "decoded", "ratio"}};
        uint64_t stored = 0;
        for (const WalkEntry& entry : result.entries) {
            rows.push_back({printable(entry.name), std::to_string(entry.stored_size),
                            std::to_string(entry.decoded_size),
                            ratio(entry.stored_size, entry.decoded_size)});
            stored += entry.stored_size;
        }
        const uint64_t decoded = decoded_total(result);
        rows.push_back({"total (" + count(result.entries.size(), "entry", "entries") + ")",
                        std::to_string(stored), std::to_string(decoded), ratio(stored, decoded)});
        print_table(rows, out);
    }
    print(out.str());
    return report_walk(carrier, result);
}

int verify_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    WalkSink decoder_only;
    const WalkResult result = walk_carrier(carrier, decoder_only, request.temp_length);
    const ResourceReport resources = read_resource_report(carrier);
    // The verdict: the walk's, then whether Windows would start the stub
    // and accept its manifest at all.
    WalkFinding failure = result.failure;
    bool ok = result.ok;
    if (ok && request.strict && !result.warnings.empty()) {
        failure = result.warnings.front();
        ok = false;
    }
    if (ok) {
        // The stub is what comes before the archive.
        std::vector<uint8_t> head(size_t(std::min<uint64_t>(kPeHeaderRead, result.archive_start)));
        InputFile file(path_from_utf8(carrier));
        const std::string problem =
            file.read_at(0, head.data(), head.size())
                ? stub_problem(head.data(), head.size(), result.archive_start)
                : "cannot read its headers: " + system_reason();
        if (!problem.empty()) {
            failure = WalkFinding();
            failure.reason = "stub is not an i386 Windows program: " + problem;
            ok = false;
        } else if (!resources.manifest_problem.empty()) {
            failure = WalkFinding();
            failure.where = "manifest";
            failure.reason = resources.manifest_problem + ": Windows would refuse to start it";
            ok = false;
        }
    }

    const bool quiet = request.json || verbosity() == Verbosity::kQuiet;
    std::ostringstream out;
    if (!quiet) print_notes(result, out);
    print(out.str());
    if (report_walk(carrier, result, request.strict) == 0 && !ok)
        report_error(carrier + ": " + failure.text());
    if (request.json) {
        print(json_report("verify", carrier, result, resources, ok, failure));
        return ok ? 0 : 1;
    }
    if (!ok || quiet) return ok ? 0 : 1;
    out.str("");
    print_resource_report(resources, out);
    if (verbosity() == Verbosity::kVerbose)
        for (const WalkEntry& entry : result.entries)
            out << "ok: " << printable(entry.name) << " ("
                << count(entry.decoded_size, "byte", "bytes") << ")\n";
    out << carrier << ": ok, " << count(result.entries.size(), "entry", "entries") << ", "
        << count(decoded_total(result), "byte", "bytes") << " unpacked, "
        << (result.launch_opens ? "launches '" + printable(result.launch_name) + "'"
                                : std::string("opens nothing"))
        << "\n";
    print(out.str());
    return 0;
}

int extract_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    const fs::path folder = path_from_utf8(request.folder);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        report_error(request.folder + ": " + ec.message());
        return 1;
    }
    ExtractSink writer(folder, path_from_utf8(carrier));
    const WalkResult result = walk_carrier(carrier, writer);
    if (report_walk(carrier, result) != 0) return 1;
    if (verbosity() != Verbosity::kQuiet)
        print(carrier + ": " + count(result.entries.size(), "entry", "entries") + " (" +
              count(decoded_total(result), "byte", "bytes") + ") unpacked into " + request.folder +
              "\n");
    return 0;
}
