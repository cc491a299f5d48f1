#include "tools/reading/commands.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "tools/reading/carrier_walk.h"
#include "tools/reading/extraction.h"
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
    const std::string unplaced = writer.finish();
    const int code = report_walk(carrier, result);
    if (!unplaced.empty()) report_error(carrier + ": " + unplaced);
    if (code != 0 || !unplaced.empty()) return 1;
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
