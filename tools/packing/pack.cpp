#include "tools/packing/pack.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>

#include "archive/format_rules.h"
#include "tools/packing/carrier_writer.h"
#include "tools/packing/pack_inputs.h"
#include "tools/packing/stub.h"
#include "tools/report/text_report.h"
#include "tools/resources/resource_request.h"
#include "tools/system/console.h"
#include "tools/system/output_file.h"
#include "tools/system/text_encoding.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace {

// The launcher pauses 100 ms after each file; past this many files the
// pauses alone add more than a few seconds.
constexpr size_t kPausesWorthAWarning = 50;

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

}  // namespace

int pack(const PackRequest& request, const fs::path& program) {
    std::vector<std::string> problems;
    std::vector<uint8_t> stub;
    fs::path stub_path;
    const bool stub_loaded = load_stub(request.stub, program, request.any_stub, stub, stub_path, problems);
    add_resources(request.resources, stub_loaded ? &stub : nullptr, problems);
    std::vector<PackInput> inputs;
    const bool all_found = gather_inputs(request.inputs, inputs, problems);
    check_inputs(inputs, request.temp_length, problems);
    if (all_found) check_launch_name(request.launch_name, inputs, problems);
    if (inputs.size() > kPausesWorthAWarning) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", double(inputs.size()) / 10);
        report_warning(std::to_string(inputs.size()) +
                       " files: the launcher pauses 0.1 s after each, about " + seconds +
                       " s in all");
    }
    fs::path target;
    Carrier carrier;
    if (check_output(request.output, stub_path, inputs, target, problems) && problems.empty() &&
        write_carrier(request, target, stub, inputs, carrier, problems) &&
        verbosity() != Verbosity::kQuiet)
        print(packed_text(request.output, carrier));
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
