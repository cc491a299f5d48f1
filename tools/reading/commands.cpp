#include "tools/reading/commands.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <unordered_map>
#include <vector>

#include "tools/reading/carrier_walk.h"
#include "tools/reading/verify_launch_dlls.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/report/json_report.h"
#include "tools/report/text_report.h"
#include "tools/system/output_file.h"
#include "tools/carrier/pe_image.h"
#include "tools/identity/launcher_identity.h"
#include "tools/resources/installer_detection.h"
#include "tools/resources/resource_report.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// Warnings, and the failure when there is one; with strict, warnings are
// failures too. Returns the exit code.
int report_walk(const std::string& carrier, const WalkResult& result, bool strict = false) {
    std::vector<std::string> lines;
    for (const WalkWarning& warning : result.warnings) lines.push_back(carrier + ": " + warning.line());
    for (const auto& [doubt, count] : result.unlisted_warnings)
        lines.push_back(carrier + ": " + std::to_string(count) + " more warnings of the kind " +
                        doubt_kind(doubt) + ", each of another entry, not listed");
    for (const std::string& line : lines) {
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
// extraction stops. Entries that Windows takes for one file make one file
// here too, as the launcher leaves it, which makes each file anew: the
// last one's name (as Windows makes it) and bytes. The folder is made for the first file: a carrier that fails
// before, or holds none of the entries named, leaves no folder behind.
class ExtractSink : public WalkSink {
public:
    ExtractSink(const fs::path& folder, const fs::path& carrier)
        : folder_(folder), carrier_(carrier) {}

    std::string begin_entry(const CarrierEntry& entry) override {
        if (files_.empty()) {
            std::error_code ec;
            fs::create_directories(folder_, ec);
            if (ec) return escaped(path_to_utf8(folder_)) + ": " + ec.message();
        }
        const std::string name = trailing_trimmed(entry.name);
        const auto [file, added] = files_.emplace(windows_file_key(entry.name), name);
        if (!added && file->second != name) {  // this run's file, under its earlier name
            std::error_code ignored;
            fs::remove(folder_ / file->second, ignored);
            file->second = name;
        }
        target_ = folder_ / file->second;
        shown_ = escaped(path_to_utf8(folder_ / "")) + printable(file->second);
        if (same_file(target_, carrier_))
            return shown_ + ": is the carrier being read: extract into another folder";
        const std::string why = not_replaceable(target_);
        if (!why.empty()) return shown_ + ": " + why + ", left as it is";
        out_ = std::make_unique<OutputFile>(target_);
        return trouble();
    }
    std::string write(const uint8_t* data, size_t size) override {
        out_->write(data, size);
        return trouble();
    }
    std::string end_entry(const CarrierEntry& entry) override {
        out_->commit();
        const std::string stop = trouble();
        out_.reset();
        if (stop.empty() && verbosity() == Verbosity::kVerbose)
            print(shown_ + " (" + count(entry.decoded_size, "byte", "bytes") + ")\n");
        return stop;
    }
    size_t files() const { return files_.size(); }

private:
    std::string trouble() const {
        return out_->error().empty() ? "" : shown_ + ": " + out_->error();
    }

    fs::path folder_;
    fs::path carrier_;
    fs::path target_;
    std::string shown_;  // target_ as messages show it
    std::unordered_map<std::string, std::string> files_;  // Windows' key: the last name
    std::unique_ptr<OutputFile> out_;  // discarded unless committed
};

// extract NAME...: only the files named reach the writer, each as the
// launcher leaves it: every entry Windows writes into that file (letter
// case, trailing dots and spaces aside), so the last one's bytes. The walk
// still decodes and checks the others, as the launcher would.
class ChosenEntries : public WalkSink {
public:
    ChosenEntries(WalkSink& writer, const std::vector<std::string>& names)
        : writer_(writer), names_(names), found_(names.size(), false) {
        for (const std::string& name : names) keys_.push_back(windows_file_key(name));
    }

    std::string begin_entry(const CarrierEntry& entry) override {
        chosen_ = names_.empty();
        const std::string key = chosen_ ? "" : windows_file_key(entry.name);
        for (size_t i = 0; i < names_.size(); ++i)
            if (keys_[i] == key) chosen_ = found_[i] = true;
        return chosen_ ? writer_.begin_entry(entry) : "";
    }
    std::string write(const uint8_t* data, size_t size) override {
        return chosen_ ? writer_.write(data, size) : "";
    }
    std::string end_entry(const CarrierEntry& entry) override {
        if (!chosen_) return "";
        ++entries_;
        bytes_ += entry.decoded_size;
        return writer_.end_entry(entry);
    }

    uint64_t entries() const { return entries_; }
    uint64_t bytes() const { return bytes_; }
    // The names no entry had.
    std::vector<std::string> missing() const {
        std::vector<std::string> names;
        for (size_t i = 0; i < names_.size(); ++i)
            if (!found_[i]) names.push_back(names_[i]);
        return names;
    }

private:
    WalkSink& writer_;
    const std::vector<std::string>& names_;
    std::vector<std::string> keys_;  // windows_file_key of each name
    std::vector<bool> found_;
    bool chosen_ = false;
    uint64_t entries_ = 0, bytes_ = 0;
};

// What fails a carrier the walk passed: a stub Windows would not start, or
// whose manifest it would refuse, or no Brisk Courier launcher; with
// strict, one modified. The reason is empty when nothing does.
WalkFinding stub_failure(ProgramFile& file, const Carrier& carrier, bool strict) {
    const ResourceReport& resources = carrier.resources;
    WalkFinding failure;
    // The stub is what comes before the archive.
    const size_t head = size_t(std::min<uint64_t>(kPeHeaderRead, carrier.archive_start));
    const std::string problem = file.head_size() >= head ? stub_problem(file.head(), head, carrier.archive_start)
                                                         : "cannot read its headers: " + system_reason();
    if (!problem.empty()) {
        failure.reason = "stub is not an i386 Windows program: " + problem;
    } else if (carrier.launcher.kind == LauncherKind::kOther) {
        failure.reason = std::string("stub is ") + kNotALauncher;
    } else if (!resources.problems.empty()) {
        // What list cannot read, Windows may not either: no icon, no
        // version, or no start at all.
        failure.where = "resources";
        failure.reason = resources.problems.front();
    } else if (!resources.manifest_problem.empty()) {
        failure.where = "manifest";
        failure.reason = resources.manifest_problem + ": Windows would refuse to start it";
    } else if (!resources.manifest_changes.empty()) {
        // Part of what the launcher is, which the identity check of its
        // code leaves out.
        failure.where = "manifest";
        failure.reason = resources.manifest_changes +
                         ": a launcher's manifest may not change what it loads or how it runs";
    } else if (strict && carrier.launcher.kind == LauncherKind::kModified) {
        failure.reason = "stub is a " + carrier.launcher.text() +
                         ": --strict passes only the launcher of Brisk Courier " COURIER_PACK_VERSION;
    }
    return failure;
}

}  // namespace

int list_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    WalkSink counter;
    const WalkResult result = walk_carrier(carrier, counter);
    if (request.json) {
        print_json_report("list", carrier, result, result.ok, result.failure);
        return report_walk(carrier, result);
    }
    print(list_text(result));
    return report_walk(carrier, result);
}

namespace {

// A carrier Windows takes for an installer asks for elevation first.
void check_installer_detection(const std::string& carrier, WalkResult& result) {
    const ResourceReport& resources = result.carrier.resources;
    if (!result.ok || !resources.execution_level.empty()) return;
    const std::string found = installer_word(path_to_utf8(path_from_utf8(carrier).filename()),
                                             resources.version.strings);
    if (found.empty()) return;
    WalkWarning warning;
    warning.reason = installer_detection_warning(found);
    warning.doubt = Doubt::kInstallerDetection;
    result.add_warning(warning);
}

}  // namespace

int verify_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    WalkSink decoder_only;
    errno = 0;
    ProgramFile file(path_from_utf8(carrier));  // the one open: the walk and every check below read it
    WalkResult result = walk_carrier(carrier, file, decoder_only, request.temp_length);
    check_launch_dlls(file.file(), request.dlls, result);
    check_installer_detection(carrier, result);
    // The verdict: the walk's, then whether Windows would start the stub
    // and accept its manifest at all.
    WalkFinding failure = result.failure;
    bool ok = result.ok;
    if (ok && request.strict && !result.warnings.empty()) {
        failure = result.warnings.front();
        ok = false;
    }
    if (ok && !result.carrier.launch_dlls.cannot_start.empty()) {
        failure = WalkFinding();
        failure.reason = result.carrier.launch_dlls.cannot_start;
        ok = false;
    }
    if (ok) {
        failure = stub_failure(file, result.carrier, request.strict);
        ok = failure.reason.empty();
    }

    const bool quiet = request.json || verbosity() == Verbosity::kQuiet;
    if (!quiet) print(notes_text(result));
    if (report_walk(carrier, result, request.strict) == 0 && !ok)
        report_error(carrier + ": " + failure.text());
    if (request.json) {
        print_json_report("verify", carrier, result, ok, failure);
        return ok ? 0 : 1;
    }
    if (!ok || quiet) return ok ? 0 : 1;
    print(verified_text(carrier, result));
    return 0;
}

int extract_carrier(const CarrierRequest& request) {
    const std::string& carrier = request.carrier;
    ExtractSink writer(path_from_utf8(request.folder), path_from_utf8(carrier));
    ChosenEntries chosen(writer, request.names);
    const WalkResult result = walk_carrier(carrier, chosen);
    if (report_walk(carrier, result) != 0) return 1;
    if (verbosity() != Verbosity::kQuiet) {
        const uint64_t entries = chosen.entries();
        print(escaped(carrier) + ": " + count(entries, "entry", "entries") + " (" +
              count(chosen.bytes(), "byte", "bytes") + ") unpacked into " +
              escaped(request.folder) +
              (writer.files() == entries ? "" : " as " + count(writer.files(), "file", "files") +
                                                    ": entries Windows takes for one file keep "
                                                    "the last one's name and bytes") +
              "\n");
    }
    // As tar does: what was found is unpacked, what was not fails the run.
    for (const std::string& name : chosen.missing())
        report_error(carrier + ": no entry named '" + name + "'");
    return chosen.missing().empty() ? 0 : 1;
}
