#include "tools/packing/pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "archive/format_rules.h"
#include "tools/carrier/names.h"
#include "tools/packing/carrier_writer.h"
#include "tools/packing/depfile.h"
#include "tools/identity/launcher_identity.h"
#include "tools/packing/pack_inputs.h"
#include "tools/packing/pack_launch_dlls.h"
#include "tools/packing/stub.h"
#include "tools/report/text_report.h"
#include "tools/resources/installer_detection.h"
#include "tools/resources/resource_request.h"
#include "tools/system/console.h"
#include "tools/system/output_file.h"
#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <io.h>
#include <wchar.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// A file the pack reads, and what messages call it.
struct SourceFile {
    fs::path path;
    const char* role;
};

// Everything the pack reads, in the dependency file's order: the stub, the
// icon and manifest, the list of --files-from, each folder given (its
// listing is what a new or removed file changes) and each input.
std::vector<SourceFile> files_read(const PackRequest& request, const fs::path& stub,
                                 const std::vector<std::string>& args,
                                 const std::vector<PackInput>& inputs) {
    std::vector<SourceFile> read;
    if (!stub.empty()) read.push_back({stub, "the stub"});
    if (!request.resources.icon.empty()) read.push_back({path_from_utf8(request.resources.icon), "the icon"});
    if (!request.resources.manifest.empty())
        read.push_back({path_from_utf8(request.resources.manifest), "the manifest"});
    if (!request.files_from.empty() && request.files_from != "-")
        read.push_back({path_from_utf8(request.files_from), "the list of inputs"});
    for (const std::string& arg : args) {
        std::error_code ec;
        if (fs::is_directory(path_from_utf8(arg), ec)) read.push_back({path_from_utf8(arg), "the folder"});
    }
    for (const PackInput& input : inputs) read.push_back({input.path, "the input"});
    return read;
}

#ifdef _WIN32
// Windows reads a name's device in its wide form, where the superscript
// port numbers are U+00B9, U+00B2 and U+00B3; the check reads those as
// code page 1252 has them, B9, B2 and B3 (the same below U+0100).
bool names_a_device(const fs::path& path) {
    std::string name;
    for (const wchar_t c : path.filename().wstring()) name += c < 0x100 ? char(c) : '?';
    return is_device_name(name.c_str());
}
#endif

// True when `a` and `b` (links followed) are one file, or would be once
// written: the same existing file, or the same name in the same folder.
bool same_target(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    if (same_file(a, b)) return true;
    if (fs::exists(a, ec) || fs::exists(b, ec)) return false;
    const auto folder = [](const fs::path& p) { return p.has_parent_path() ? p.parent_path() : fs::path("."); };
    return same_path_name(a, b) && same_file(folder(a), folder(b));
}

// What a file the pack writes, `given` as `option` (-o or --depfile) has
// it, must not be, once links are followed to the file they lead to
// (`file`): in a folder that does not exist, a folder, device or anything
// but a regular file, any file the pack reads, or `other`, the other file
// it writes. A rename over those would destroy them.
bool check_output(const char* option, const std::string& given, const char* what,
                  const std::vector<SourceFile>& read, const fs::path& other, const char* other_role,
                  fs::path& file, std::vector<std::string>& problems) {
    std::string reason;
#ifdef _WIN32
    // Windows opens the device, whatever the folder: no file would be written.
    if (names_a_device(path_from_utf8(given))) {
        problems.push_back(given + ": a reserved Windows device name, not a file: name " + what +
                           " otherwise");
        return false;
    }
#endif
    if (!follow_links(path_from_utf8(given), file, reason)) {
        problems.push_back(given + ": " + reason);
        return false;
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        problems.push_back(path_to_utf8(folder) + ": " +
                           (fs::exists(folder, ec) ? "not a folder" : "no such folder") + ", so " +
                           option + " " + given + " cannot be written");
        return false;
    }
    reason = not_replaceable(file);
    if (!reason.empty()) {
        problems.push_back(given + ": " + reason + ", not replaced by " + what);
        return false;
    }
    bool ok = true;
    for (const SourceFile& input : read) {
        if (same_file(file, input.path)) {
            problems.push_back(given + ": is " + input.role + " " + path_to_utf8(input.path) +
                               ": write " + what + " elsewhere");
            ok = false;
        }
    }
    if (!other.empty() && same_target(file, other)) {
        problems.push_back(given + ": is " + other_role + ": write " + what + " elsewhere");
        ok = false;
    }
    return ok;
}

// -o -: the carrier's record is filled in once the rest is written, which a
// pipe cannot take, so the carrier is written whole to a file of its own in
// the temporary folder, one no other process can name, and copied to stdout
// after: a failed pack sends nothing. A terminal gets no carrier, and
// results go to stderr.
bool stdout_target(const std::vector<SourceFile>& read, fs::path& folder, bool& direct,
                   std::vector<std::string>& problems) {
    if (standard_output_was_closed()) {
        problems.push_back("-o -: standard output is closed: there is nowhere to send the carrier");
        return false;
    }
    if (isatty(fileno(stdout))) {
        problems.push_back("-o -: standard output is a terminal: send the carrier to a file or "
                           "a pipe");
        return false;
    }
    // A regular file is written where it stands: no temporary folder needed.
    std::vector<fs::path> paths;
    for (const SourceFile& file : read) paths.push_back(file.path);
    direct = stdout_writable_in_place(paths);
    std::error_code ec;
    if (!direct) folder = fs::temp_directory_path(ec);
    if (ec) {
        problems.push_back("-o -: no temporary folder to write the carrier in: " + ec.message());
        return false;
    }
    print_to_stderr();
    return true;
}

// The carrier under its name, or sent whole to standard output.
bool put_in_place(OutputFile& file, bool to_stdout, const std::string& output,
                  std::vector<std::string>& problems) {
    if (to_stdout ? file.send_to_stdout() : file.commit()) return true;
    problems.push_back((to_stdout ? "-o -: cannot send the carrier to standard output: "
                                  : output + ": ") +
                       file.error());
    return false;
}

// Written once the carrier is, so a failed pack leaves the last one as it was.
bool write_rule(const fs::path& file, const std::string& rule, const std::string& given,
                std::vector<std::string>& problems) {
    OutputFile out(file);
    out.write(rule.data(), rule.size());
    if (out.commit()) return true;
    problems.push_back(given + ": " + out.error());
    return false;
}

// Said of a stub that is not the launcher this tool was built with, since
// verify will say it too; -q does not hide it.
void warn_of_stub(const fs::path& stub, const LauncherIdentity& launcher) {
    const std::string said = "stub " + path_to_utf8(stub) + ": ";
    if (launcher.kind == LauncherKind::kModified)
        report_warning_even_if_quiet(said + "a " + launcher.text() +
                                     ": verify says so, and verify --strict fails the carrier");
    if (launcher.kind == LauncherKind::kOther)
        report_warning_even_if_quiet(said + launcher.text() + "; verify fails the carrier");
}

// Windows asks for administrator rights before it starts a carrier named
// like an installer whose manifest names no execution level.
void warn_of_installer_detection(const PackRequest& request) {
    std::vector<std::pair<std::string, std::string>> strings;
    for (const std::string& pair : request.resources.version_strings) {
        const size_t equals = pair.find('=');
        strings.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
    }
    const std::string name = request.output == "-" ? "" : path_to_utf8(path_from_utf8(request.output).filename());
    const std::string found = installer_word(name, strings);
    if (!found.empty()) report_warning(request.output + ": " + installer_detection_warning(found));
}

}  // namespace

int pack(const PackRequest& request) {
    std::vector<std::string> problems;
    std::vector<uint8_t> stub;
    fs::path stub_path;
    const bool stub_loaded = load_stub(request.stub, request.any_stub, stub, stub_path, problems);
    const LauncherIdentity launcher =
        stub_loaded ? identify_launcher(stub.data(), stub.size(), is_launcher_image(stub.data(), stub.size()))
                    : LauncherIdentity();
    const std::string level = add_resources(request.resources, stub_loaded ? &stub : nullptr, problems);
    std::vector<std::string> args = request.inputs;
    const bool listed =
        request.files_from.empty() || read_input_list(request.files_from, args, problems);
    if (listed && args.empty()) problems.push_back("no files to pack: " + request.files_from + " lists none");
    std::vector<PackInput> inputs;
    const bool all_found = gather_inputs(args, request.excludes, inputs, problems) && listed && !args.empty();
    const size_t launch = find_launch_input(request.launch_name, inputs);
    check_inputs(inputs, launch, request.temp_length, problems);
    if (all_found) check_launch_name(request.launch_name, launch, inputs, problems);
    if (all_found && problems.empty()) order_launch_dlls(request.launch_name, launch, request.dlls, inputs, problems);
    if (inputs.size() > kPausesWorthSaying) report_warning(pauses_text(inputs.size()));
    if (level.empty()) warn_of_installer_detection(request);
    // Both files it writes are checked before either is: -o's, and the
    // dependency file's, which must not be the carrier either.
    const std::vector<SourceFile> read = files_read(request, stub_path, args, inputs);
    const bool to_stdout = request.output == "-";
    fs::path target, depfile;
    bool direct = false;
    if (to_stdout) stdout_target(read, target, direct, problems);
    else check_output("-o", request.output, "the carrier", read, {}, nullptr, target, problems);
    std::string rule;
    if (!request.depfile.empty()) {
        check_output("--depfile", request.depfile, "the dependency file", read,
                     to_stdout ? fs::path() : target, "the carrier", depfile, problems);
        std::vector<fs::path> paths;
        for (const SourceFile& file : read) paths.push_back(file.path);
        std::string problem;
        if (!dependency_rule(request.output, paths, rule, problem))
            problems.push_back(request.depfile + ": " + problem);
    }
    Carrier carrier;
    if (problems.empty()) {
        // -o -: standard output itself, or a file of no name in the
        // temporary folder `target`.
        const std::unique_ptr<OutputFile> file =
            direct ? std::make_unique<OutputFile>(OutputFile::IntoStandardOutput())
                   : std::make_unique<OutputFile>(to_stdout ? target / "courier-pack.exe" : target);
        const bool packed = write_carrier(request, *file, stub, inputs, carrier, problems) &&
                            put_in_place(*file, to_stdout, request.output, problems) &&
                            (rule.empty() || write_rule(depfile, rule, request.depfile, problems));
        if (packed && verbosity() != Verbosity::kQuiet)
            print(packed_text(to_stdout ? "standard output" : request.output, carrier));
        if (packed) warn_of_stub(stub_path, launcher);
    }
    for (const std::string& problem : problems) report_error(problem);
    return problems.empty() ? 0 : 1;
}
