#include "tools/packing/pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "archive/format_rules.h"
#include "tools/packing/carrier_writer.h"
#include "tools/packing/depfile.h"
#include "tools/packing/launcher_identity.h"
#include "tools/packing/pack_inputs.h"
#include "tools/packing/pack_launch_dlls.h"
#include "tools/packing/stub.h"
#include "tools/report/text_report.h"
#include "tools/resources/resource_request.h"
#include "tools/system/console.h"
#include "tools/system/output_file.h"
#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// The output's own checks, once links are followed to the file they lead
// to: its folder must exist, and it must be neither an input nor the stub,
// which a rename over them would destroy.
bool check_output(const std::string& output, const fs::path& stub_path,
                  const std::vector<PackInput>& inputs, fs::path& file,
                  std::vector<std::string>& problems) {
    std::string reason;
#ifdef _WIN32
    // Windows opens the device, whatever the folder: no file would be written.
    if (is_device_name(path_to_utf8(path_from_utf8(output).filename()).c_str())) {
        problems.push_back(output + ": a reserved Windows device name, not a file: name the carrier otherwise");
        return false;
    }
#endif
    if (!follow_links(path_from_utf8(output), file, reason)) {
        problems.push_back(output + ": " + reason);
        return false;
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        problems.push_back(path_to_utf8(folder) + ": " +
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
        problems.push_back(output + ": is the stub " + path_to_utf8(stub_path) +
                           ": write the carrier elsewhere");
        ok = false;
    }
    for (const PackInput& input : inputs) {
        if (same_file(file, input.path)) {
            problems.push_back(output + ": is the input " + path_to_utf8(input.path) +
                               ": write the carrier elsewhere");
            ok = false;
        }
    }
    return ok;
}

// -o -: the carrier's record is filled in once the rest is written, which a
// pipe cannot take, so the carrier is written whole to a file of its own in
// the temporary folder and copied to stdout after: a failed pack sends
// nothing. A terminal gets no carrier, and results go to stderr.
bool stdout_target(fs::path& file, std::vector<std::string>& problems) {
    if (isatty(fileno(stdout))) {
        problems.push_back("-o -: standard output is a terminal: send the carrier to a file or "
                           "a pipe");
        return false;
    }
    std::error_code ec;
    const fs::path folder = fs::temp_directory_path(ec);
    if (ec) {
        problems.push_back("-o -: no temporary folder to write the carrier in: " + ec.message());
        return false;
    }
#ifdef _WIN32
    const unsigned long id = GetCurrentProcessId();
#else
    const unsigned long id = static_cast<unsigned long>(getpid());
#endif
    file = folder / ("courier-pack-" + std::to_string(id) + ".exe");
    print_to_stderr();
    return true;
}

bool copy_to_stdout(const fs::path& file, std::vector<std::string>& problems) {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#else
    fs::remove(file, ec);  // the stream keeps it open: nothing stays behind
#endif
    std::vector<char> block(size_t(1) << 20);
    errno = 0;
    bool ok = bool(in);
    while (ok && in) {
        in.read(block.data(), std::streamsize(block.size()));
        const size_t n = size_t(in.gcount());
        ok = std::fwrite(block.data(), 1, n, stdout) == n;
    }
    ok = ok && in.eof() && std::fflush(stdout) == 0;
    in.close();
    fs::remove(file, ec);
    if (!ok) problems.push_back("-o -: cannot copy the carrier to standard output: " + system_reason());
    return ok;
}

// Said of a stub that is not the launcher this tool was built with, since
// verify will say it too.
std::string stub_note(const fs::path& stub, const LauncherIdentity& launcher) {
    const std::string said = "stub " + escaped(path_to_utf8(stub)) + ": ";
    if (launcher.kind == LauncherKind::kModified)
        return said + "a " + launcher.text() + ": verify says so, and verify --strict fails the carrier\n";
    if (launcher.kind == LauncherKind::kOther) return said + launcher.text() + "; verify fails the carrier\n";
    return "";
}

}  // namespace

int pack(const PackRequest& request, const fs::path& program) {
    std::vector<std::string> problems;
    std::vector<uint8_t> stub;
    fs::path stub_path;
    const bool stub_loaded = load_stub(request.stub, program, request.any_stub, stub, stub_path, problems);
    const LauncherIdentity launcher =
        stub_loaded ? identify_launcher(stub.data(), stub.size(), is_launcher_image(stub.data(), stub.size()))
                    : LauncherIdentity();
    add_resources(request.resources, stub_loaded ? &stub : nullptr, problems);
    std::vector<std::string> args = request.inputs;
    const bool listed =
        request.files_from.empty() || read_input_list(request.files_from, args, problems);
    if (listed && args.empty()) problems.push_back("no files to pack: " + request.files_from + " lists none");
    std::vector<PackInput> inputs;
    const bool all_found = gather_inputs(args, inputs, problems) && listed && !args.empty();
    check_inputs(inputs, request.temp_length, problems);
    if (all_found) check_launch_name(request.launch_name, inputs, problems);
    if (all_found && problems.empty()) order_launch_dlls(request.launch_name, inputs);
    if (inputs.size() > kPausesWorthSaying) report_warning(pauses_text(inputs.size()));
    fs::path target;
    Carrier carrier;
    const bool to_stdout = request.output == "-";
    if ((to_stdout ? stdout_target(target, problems)
                   : check_output(request.output, stub_path, inputs, target, problems)) &&
        problems.empty() && write_carrier(request, target, stub, inputs, carrier, problems) &&
        (!to_stdout || copy_to_stdout(target, problems)) &&
        (request.depfile.empty() || write_depfile(request, stub_path, args, inputs, problems)) &&
        verbosity() != Verbosity::kQuiet) {
        print(packed_text(to_stdout ? "standard output" : request.output, carrier));
        print(stub_note(stub_path, launcher));
    }
    for (const std::string& problem : problems) report_error(problem);
    return problems.empty() ? 0 : 1;
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
