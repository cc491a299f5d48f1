#include "tools/commands.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <vector>

#include "tools/carrier_walk.h"
#include "tools/console.h"
#include "tools/output_file.h"
#include "tools/pe_check.h"
#include "tools/resource_report.h"

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
void print_table(const std::vector<Row>& rows) {
    std::array<size_t, 4> width{};
    for (const Row& row : rows)
        for (size_t c = 0; c < width.size(); ++c) width[c] = std::max(width[c], row[c].size());
    for (const Row& row : rows) {
        std::string line = row[0] + std::string(width[0] - row[0].size(), ' ');
        for (size_t c = 1; c < width.size(); ++c)
            line += "  " + std::string(width[c] - row[c].size(), ' ') + row[c];
        std::cout << line << '\n';
    }
}

void print_notes(const WalkResult& result) {
    for (const std::string& note : result.notes) std::cout << note << '\n';
}

// Warnings, and the failure when there is one; with strict, warnings are
// failures too. Returns the exit code.
int report_walk(const std::string& carrier, const WalkResult& result, bool strict = false) {
    std::cout.flush();
    for (const WalkWarning& warning : result.warnings) {
        const std::string line = carrier + ": " + warning.text();
        if (strict) report_error(line);
        else report_warning(line);
    }
    if (!result.ok) report_error(carrier + ": " + result.failure.text());
    return result.ok && !(strict && !result.warnings.empty()) ? 0 : 1;
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
    std::string end_entry(const WalkEntry&) override {
        out_->commit();
        const std::string stop = trouble();
        out_.reset();
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

int list_carrier(const std::string& carrier) {
    WalkSink counter;
    const WalkResult result = walk_carrier(carrier, counter);
    print_notes(result);
    print_resource_report(read_resource_report(carrier), std::cout);
    if (result.launch_read) {
        std::cout << "launch: " << printable(result.launch_name) << "\n";
        std::vector<Row> rows = {{"name", "stored", "decoded", "ratio"}};
        uint64_t stored = 0, decoded = 0;
        for (const WalkEntry& entry : result.entries) {
            rows.push_back({printable(entry.name), std::to_string(entry.stored_size),
                            std::to_string(entry.decoded_size),
                            ratio(entry.stored_size, entry.decoded_size)});
            stored += entry.stored_size;
            decoded += entry.decoded_size;
        }
        rows.push_back({"total (" + std::to_string(result.entries.size()) + " entries)",
                        std::to_string(stored), std::to_string(decoded), ratio(stored, decoded)});
        print_table(rows);
    }
    return report_walk(carrier, result);
}

int verify_carrier(const std::string& carrier, int temp_length, bool strict) {
    WalkSink decoder_only;
    const WalkResult result = walk_carrier(carrier, decoder_only, temp_length);
    print_notes(result);
    if (report_walk(carrier, result, strict) != 0) return 1;

    // Windows must start the stub before any of the above matters.
    std::ifstream file(carrier, std::ios::binary);
    const std::string problem =
        stub_problem(result.archive_start, [&file](uint64_t offset, uint8_t* out, size_t size) {
            file.seekg(std::streamoff(offset));
            return bool(file.read(reinterpret_cast<char*>(out), std::streamsize(size)));
        });
    if (!problem.empty()) {
        report_error(carrier + ": stub is not an i386 Windows program: " + problem);
        return 1;
    }
    // Windows refuses to start a program whose manifest it cannot read.
    const ResourceReport resources = read_resource_report(carrier);
    print_resource_report(resources, std::cout);
    if (!resources.manifest_problem.empty()) {
        report_error(carrier + ": manifest: " + resources.manifest_problem +
                     ": Windows would refuse to start it");
        return 1;
    }
    uint64_t decoded = 0;
    for (const WalkEntry& entry : result.entries) decoded += entry.decoded_size;
    std::cout << carrier << ": ok, " << result.entries.size() << " entries, " << decoded
              << " bytes unpacked, "
              << (result.launch_opens ? "launches '" + printable(result.launch_name) + "'"
                                      : std::string("opens nothing"))
              << "\n";
    return 0;
}

int extract_carrier(const std::string& carrier, const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        report_error(folder + ": " + ec.message());
        return 1;
    }
    ExtractSink writer(folder, carrier);
    const WalkResult result = walk_carrier(carrier, writer);
    if (report_walk(carrier, result) != 0) return 1;
    std::cout << carrier << ": " << result.entries.size() << " entries unpacked into " << folder
              << "\n";
    return 0;
}
