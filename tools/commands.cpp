#include "tools/commands.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <vector>

#include "tools/carrier_walk.h"
#include "tools/console.h"
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

int report_walk_failure(const std::string& carrier, const WalkResult& result) {
    std::cout.flush();
    report_error(carrier + ": " + result.problem());
    return 1;
}

class ExtractSink : public WalkSink {
public:
    explicit ExtractSink(const fs::path& folder) : folder_(folder) {}
    ~ExtractSink() override {
        // A file cut short by a failure is not left looking complete.
        if (out_.is_open()) {
            out_.close();
            std::error_code ignored;
            fs::remove(current_, ignored);
        }
    }

    std::string begin_entry(const WalkEntry& entry) override {
        current_ = folder_ / entry.name;
        errno = 0;
        out_.open(current_, std::ios::binary | std::ios::trunc);
        if (!out_) return "cannot create " + current_.u8string() + ": " + std::strerror(errno);
        return "";
    }
    std::string write(const uint8_t* data, size_t size) override {
        out_.write(reinterpret_cast<const char*>(data), std::streamsize(size));
        if (!out_) return "cannot write " + current_.u8string();
        return "";
    }
    std::string end_entry(const WalkEntry&) override {
        out_.close();
        if (!out_) return "cannot write " + current_.u8string();
        return "";
    }

private:
    fs::path folder_;
    fs::path current_;
    std::ofstream out_;
};

}  // namespace

int list_carrier(const std::string& carrier) {
    WalkSink counter;
    const WalkResult result = walk_carrier(carrier, counter);
    print_notes(result);
    print_resource_report(read_resource_report(carrier), std::cout);
    if (result.launch_read) {
        std::cout << "launch: " << result.launch_name << "\n";
        std::vector<Row> rows = {{"name", "stored", "decoded", "ratio"}};
        uint64_t stored = 0, decoded = 0;
        for (const WalkEntry& entry : result.entries) {
            rows.push_back({entry.name, std::to_string(entry.stored_size),
                            std::to_string(entry.decoded_size),
                            ratio(entry.stored_size, entry.decoded_size)});
            stored += entry.stored_size;
            decoded += entry.decoded_size;
        }
        rows.push_back({"total (" + std::to_string(result.entries.size()) + " entries)",
                        std::to_string(stored), std::to_string(decoded), ratio(stored, decoded)});
        print_table(rows);
    }
    return result.ok ? 0 : report_walk_failure(carrier, result);
}

int verify_carrier(const std::string& carrier, int temp_length) {
    WalkSink decoder_only;
    const WalkResult result = walk_carrier(carrier, decoder_only, temp_length);
    print_notes(result);
    if (!result.ok) return report_walk_failure(carrier, result);

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
              << " bytes unpacked, launches '" << result.launch_name << "'\n";
    return 0;
}

int extract_carrier(const std::string& carrier, const std::string& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        report_error(folder + ": " + ec.message());
        return 1;
    }
    ExtractSink writer(folder);
    const WalkResult result = walk_carrier(carrier, writer);
    if (!result.ok) return report_walk_failure(carrier, result);
    std::cout << carrier << ": " << result.entries.size() << " entries unpacked into " << folder
              << "\n";
    return 0;
}
