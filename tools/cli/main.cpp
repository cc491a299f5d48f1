// courier-pack: makes carriers (the launcher with an archive appended) and
// lists, verifies and unpacks them on any platform.
#include <CLI/CLI.hpp>

#include <exception>
#include <string>

#include "tools/reading/commands.h"
#include "tools/system/console.h"
#include "tools/report/json_report.h"
#include "tools/carrier/names.h"
#include "tools/packing/pack.h"
#include "tools/resources/resource_request.h"
#include "tools/system/text_encoding.h"

namespace {

constexpr int kBadUsage = 2;

const char kExitCodes[] = "Exit codes: 0 done, 1 failed, 2 bad usage.";

std::string pack_notes() {
    return "Folders give their regular files, sorted by name; sub-folders are refused, as the "
           "launcher creates none.\n"
           "Without --stub, the launcher is taken from launcher.exe beside courier-pack, else "
           "from ../share/brisk-courier/launcher.exe relative to courier-pack's folder (an "
           "installed tree), else from ../windows/launcher.exe (the Windows build tree next to "
           "the host one).\n"
           "Entry names must be printable ASCII Windows file names, with no trailing dot or "
           "space. A name too long for the "
           "launcher's 255-character path under the --temp-length assumed (by default a " +
           std::to_string(kAssumedTempLength) +
           "-character %TEMP% such as C:\\Users\\<11-character user>\\AppData\\Local\\Temp\\: "
           "more than " +
           std::to_string(longest_joinable_name(kAssumedTempLength)) +
           " characters) draws a warning; one over " +
           std::to_string(longest_joinable_name(kShortestTempLength)) +
           ", too long even under C:\\, is refused.\n"
           "OUT is written whole or not at all: an interrupted pack leaves nothing. It may not "
           "be an input or the stub; through a symbolic link, the file the link leads to is "
           "replaced (on Windows, a link or junction is refused).\n"
           "The carrier records its length and a checksum of its archive, which the launcher "
           "checks before it writes anything. Sign the carrier, not the stub, after packing "
           "(osslsigncode or signtool): the signature goes after the checked bytes.\n"
           "Windows asks for administrator rights before starting a program named like an "
           "installer (setup, install, update) unless its manifest names an execution level: "
           "--execution-level asInvoker runs the carrier as the user who starts it.\n" +
           kExitCodes;
}

// The %TEMP% length names are held against, as pack and verify take it.
void add_temp_length(CLI::App* command, int& temp_length) {
    command
        ->add_option("--temp-length", temp_length,
                     "Length of %TEMP%, trailing '\\' included, to check name lengths against")
        ->check(CLI::Range(kShortestTempLength, 243))  // %TEMP%\BriskCourierTmp\ in 260 bytes
        ->capture_default_str();
}

// -q and -v, which every verb takes.
void add_verbosity(CLI::App* command, bool& quiet, bool& verbose, const char* detail) {
    // Not CLI11's excludes(): it would show in --help, where the man page
    // and the bash completion read options and their values.
    command->add_flag("-q,--quiet", quiet, "Errors only: no warnings, summary or progress");
    command->add_flag("-v,--verbose", verbose, detail);
}

// What the parse left over, named: the first unknown word or option.
std::string leftover(const CLI::App& command, bool top) {
    const std::vector<std::string> extras = command.remaining();
    if (extras.empty()) return "";
    const std::string& first = extras.front();
    if (first.size() > 1 && first[0] == '-') return "unknown option '" + first + "'";
    return (top ? "unknown command '" : "unexpected argument '") + first + "'";
}

std::string leftovers(const CLI::App& app) {
    std::string unknown = leftover(app, true);
    for (const CLI::App* command : app.get_subcommands())
        if (unknown.empty()) unknown = leftover(*command, false);
    return unknown;
}

// A usage error, and where to read the usage: the verb's own help.
int bad_usage(const std::string& message, const CLI::App& app) {
    const auto verbs = app.get_subcommands();
    const std::string help = verbs.empty() ? "courier-pack --help"
                                           : "courier-pack " + verbs.front()->get_name() + " --help";
    report_error(message);
    report_error("see " + help);
    return kBadUsage;
}

// The verbs, their requests, and the options every verb shares.
struct CommandLine {
    CLI::App app{"Packs files into a self-extracting 32-bit Windows program (a carrier), and "
                 "lists, verifies and unpacks carriers.",
                 "courier-pack"};
    PackRequest packing;
    CarrierRequest reading;
    bool quiet = false, verbose = false;
    CLI::App* pack = nullptr;
    CLI::App* list = nullptr;
    CLI::App* verify = nullptr;
    CLI::App* extract = nullptr;
};

// Resources: each option adds to the stub's image; without them it is left as it is.
void add_resource_options(CLI::App* command, ResourceRequest& resources) {
    auto checked_by = [](std::string (*problem)(const std::string&), const char* shape) {
        return CLI::Validator([problem](std::string& value) { return problem(value); }, shape);
    };
    command->add_option("--icon", resources.icon,
                        "Icon of the carrier: an .ico of BMP or PNG images, 1 to 256 pixels");
    command->add_option("--file-version", resources.file_version, "File version")
        ->check(checked_by(version_number_problem, "A.B.C.D"));
    command->add_option("--product-version", resources.product_version, "Product version")
        ->check(checked_by(version_number_problem, "A.B.C.D"));
    command
        ->add_option("--version-string", resources.version_strings,
                     "A string of the version information (CompanyName, FileDescription, "
                     "ProductName, LegalCopyright, OriginalFilename, InternalName, Comments, "
                     "LegalTrademarks or any other key); repeatable")
        ->allow_extra_args(false)
        ->check(checked_by(version_string_problem, "KEY=VALUE"));
    CLI::Option* level =
        command
            ->add_option("--execution-level", resources.execution_level,
                         "Add a manifest that asks Windows for this level (asInvoker: no "
                         "elevation prompt, whatever the carrier is called)")
            ->check(CLI::IsMember(std::vector<std::string>(std::begin(kExecutionLevels),
                                                           std::end(kExecutionLevels))));
    command
        ->add_option("--manifest", resources.manifest,
                     "Add this manifest (UTF-8 XML) instead of one made for --execution-level")
        ->excludes(level);
}

void add_pack_command(CommandLine& line) {
    PackRequest& request = line.packing;
    CLI::App* command =
        line.app.add_subcommand("pack", "Write the launcher and an archive of INPUT... to OUT.");
    command->add_option("-o,--output", request.output, "Carrier to write (OUT.exe)")->required();
    command
        ->add_option("--launch", request.launch_name,
                     "Entry the launcher opens after unpacking (letter case ignored)")
        ->required();
    command->add_option("--stub", request.stub, "Launcher image to put in front (i386 PE)");
    command->add_flag("--any-stub", request.any_stub,
                      "Take a --stub that is no Brisk Courier launcher (verify fails its carrier)");
    command->add_flag("--greedy", request.greedy,
                      "Fast mode: plain greedy encoding in 1024-byte chunks, about 3.5 "
                      "times as fast, for an archive about 11% larger");
    command->add_option("inputs", request.inputs, "Files and folders to pack")->required();
    add_temp_length(command, request.temp_length);
    add_verbosity(command, line.quiet, line.verbose, "Also a line for each entry as it is packed");
    add_resource_options(command, request.resources);
    command->footer(pack_notes());
    line.pack = command;
}

const char kJsonHelp[] = "Print one JSON document on stdout and nothing else (its shape is in "
                         "json.md beside the README); the exit code is the same";

void add_reading_commands(CommandLine& line) {
    CarrierRequest& request = line.reading;
    line.list = line.app.add_subcommand("list", "Show the launch name and each entry's sizes and ratio.");
    line.list->add_option("carrier", request.carrier, "Carrier to read")->required();
    line.list->add_flag("--json", request.json, kJsonHelp);
    add_verbosity(line.list, line.quiet, line.verbose, "Also the integrity record");

    CLI::App* verify = line.app.add_subcommand(
        "verify", "Check the integrity record, then walk and decode the archive as the "
                  "launcher would; exit 0 exactly when its run would succeed. What it gets "
                  "through but may not do as meant is a warning.");
    verify->add_option("carrier", request.carrier, "Carrier to check")->required();
    add_temp_length(verify, request.temp_length);
    verify->add_flag("--json", request.json, kJsonHelp);
    add_verbosity(verify, line.quiet, line.verbose, "Also the integrity record and each entry checked");
    verify->add_flag("--strict", request.strict,
                     "Fail on warnings too: a launch name that names no entry, a name "
                     "outside ASCII or with a trailing dot, a name too long for "
                     "--temp-length");
    line.verify = verify;

    CLI::App* extract = line.app.add_subcommand(
        "extract", "Unpack the entries into a folder, refusing unsafe names. Each file is "
                   "renamed into place once whole: a regular file of its name is replaced (as "
                   "tar does), a link, folder or other file of its name stops the extraction "
                   "and is left as it is.");
    extract->add_option("carrier", request.carrier, "Carrier to unpack")->required();
    extract->add_option("-C,--directory", request.folder, "Folder to unpack into")
        ->capture_default_str();
    add_verbosity(extract, line.quiet, line.verbose, "Also each file as it is written");
    line.extract = extract;
}

// Parses the command line: -1 when a verb is to run, else the exit code
// (help, version, or bad usage, reported).
int parse(CommandLine& line, int argc, char** argv) {
    CLI::App& app = line.app;
    const std::vector<std::string> args = utf8_arguments(argc, argv);
    std::vector<const char*> arg_pointers;
    for (const std::string& arg : args) arg_pointers.push_back(arg.c_str());
    try {
        app.parse(int(arg_pointers.size()), arg_pointers.data());
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        // "--launch is required" is no help when --lanch was typed.
        const std::string unknown = leftovers(app);
        return bad_usage(unknown.empty() ? e.what() : unknown, app);
    }
    if (const std::string unknown = leftovers(app); !unknown.empty()) return bad_usage(unknown, app);
    if (app.get_subcommands().empty())
        return bad_usage("no command given: pack, list, verify or extract", app);
    if (line.quiet && line.verbose) return bad_usage("-q excludes -v", app);
    return -1;
}

int run(const CommandLine& line, const char* argv0) {
    const CarrierRequest& reading = line.reading;
    try {
        if (*line.pack) return pack(line.packing, running_program(argv0));
        if (*line.list) return list_carrier(reading);
        if (*line.verify) return verify_carrier(reading);
        return extract_carrier(reading);
    } catch (const std::exception& e) {
        report_error(e.what());
        if (reading.json) {  // the document carries the failure too
            WalkFinding failure;
            failure.reason = e.what();
            print(json_report(*line.list ? "list" : "verify", reading.carrier, WalkResult(),
                              false, failure));
        }
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    CommandLine line;
    line.app.set_version_flag("--version", std::string("courier-pack ") + COURIER_PACK_VERSION);
    line.app.footer(kExitCodes);
    // Words and options no command knows are named in the error, below.
    line.app.allow_extras();
    add_pack_command(line);
    add_reading_commands(line);
    if (const int code = parse(line, argc, argv); code >= 0) return code;
    set_verbosity(line.quiet ? Verbosity::kQuiet
                  : line.verbose ? Verbosity::kVerbose : Verbosity::kNormal);
    return run(line, argv[0]);
}
