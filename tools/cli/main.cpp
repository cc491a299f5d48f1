// courier-pack: makes carriers (the launcher with an archive appended) and
// lists, verifies and unpacks them on any platform.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <exception>
#include <string>

#include "tools/reading/commands.h"
#include "tools/system/console.h"
#include "tools/report/json_report.h"
#include "tools/carrier/names.h"
#include "tools/packing/pack.h"
#include "tools/resources/resource_request.h"
#include "tools/system/text_encoding.h"

#include "source_commit.h"  // generated: COURIER_PACK_COMMIT

namespace {

constexpr int kBadUsage = 2;

const char kExitCodes[] = "Exit codes: 0 done, 1 failed, 2 bad usage.";

std::string pack_notes() {
    return "Folders give their regular files, sorted by name; sub-folders are refused, as the "
           "launcher creates none.\n"
           "PATH=NAME packs the file PATH as the entry NAME. An input that names a file as it "
           "stands is taken whole; otherwise its last '=' splits it, so a path may hold '=' and "
           "a new name may not. --files-from takes the same, one a line. -- ends the options: "
           "every word after it is an input, even one that starts with '-'.\n"
           "Without --stub, the carrier starts with the launcher this courier-pack was built "
           "with, which it holds; no folder is searched. A --stub that is not that launcher "
           "draws a warning, -q or not.\n"
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
           "be a file the pack reads (an input, the stub, the icon, the manifest, the list), a "
           "folder or a device; through a symbolic link, the file the link leads to is "
           "replaced (on Windows, a link or junction is refused). The --depfile FILE has the "
           "same rules, and may not be OUT; a path it cannot write so that make and Ninja both "
           "read it back (';', '=', '%', '|', '&', ...) fails the pack. With -o - the carrier "
           "goes to standard output: into a regular file where it stands (not one appended "
           "to, nor one the pack reads), else written whole to a file of no name in the "
           "temporary folder, then sent; the summary goes to standard error.\n"
           "The launch file opens in the launcher's working folder, not the folder it was "
           "unpacked into, and the launcher exits with code 1 without waiting for it: a setup "
           "program finds its files from its own path, never from the current folder.\n"
           "The carrier records its length and a checksum of its archive, which the launcher "
           "checks before it writes anything. Sign the carrier, not the stub, after packing "
           "(osslsigncode or signtool): the signature goes after the checked bytes.\n"
           "When the launch file is a program, the DLLs it imports that Windows would look "
           "for first in the folder it starts in, which every carrier shares, draw one warning; "
           "inputs that are DLLs it loads are packed before it.\n"
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
        // %TEMP%\BriskCourierTmp\ and its NUL in the launcher's folder buffer
        ->check(CLI::Range(kShortestTempLength, kFolderCapacity - 1 - kFolderNameLength))
        ->capture_default_str();
}

// --min-windows and --accept-dll, as pack and verify take them: the same
// verdicts from both.
void add_dll_options(CLI::App* command, DllOptions& options) {
    command
        ->add_option_function<std::string>(
            "--min-windows",
            [&options](const std::string& name) { windows_range_from_name(name, options.range); },
            "Oldest Windows the carrier is for: 7sp1 (the default) or 10.1607; DependentLoadFlags "
            "clear the DLL warning only from 10.1607")
        ->check(CLI::IsMember({windows_range_name(WindowsRange::kFrom7Sp1),
                               windows_range_name(WindowsRange::kFrom10v1607)}));
    command
        ->add_option("--accept-dll", options.accepted,
                     "A DLL the launch program loads from the shared folder whose warning was "
                     "reviewed: noted, not warned of (--strict still fails on any other); once per DLL")
        ->allow_extra_args(false);
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
    std::vector<CLI::Option*> carriers;  // list's, verify's and extract's
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
    command
        ->add_option("-o,--output", request.output,
                     "Carrier to write (OUT.exe; - for standard output, not a terminal)")
        ->required();
    command
        ->add_option("--launch", request.launch_name,
                     "Entry the launcher opens after unpacking (letter case ignored); '' "
                     "opens the folder")
        ->required();
    command->add_option("--stub", request.stub, "Launcher image to put in front (i386 PE)");
    command
        ->add_option("-j,--jobs", request.threads,
                     "Encode on N threads (0, the default: one per processor); the carrier is "
                     "the same for any N")
        ->check(CLI::Range(0, 64));
    command->add_flag("--any-stub", request.any_stub,
                      "Take a --stub that is no Brisk Courier launcher (verify fails its carrier)");
    command->add_flag("--greedy", request.greedy,
                      "Fast mode: plain greedy encoding in 1024-byte chunks, about 2.5 "
                      "times as fast, for an archive about 11% larger");
    command->add_option("inputs", request.inputs,
                        "Files and folders to pack; PATH=NAME packs the file PATH as the entry NAME");
    command->add_option("--files-from", request.files_from,
                        "Also pack the inputs this file lists, one a line (PATH or PATH=NAME); - "
                        "reads them from standard input");
    command
        ->add_option("--exclude", request.excludes,
                     "Leave out the files and sub-folders whose name, or path as given, matches "
                     "this shell pattern (as tar's --exclude: '*', '?', [...]); repeatable. A PATH=NAME is "
                     "never left out")
        ->allow_extra_args(false);
    command->add_option("--depfile", request.depfile,
                        "Also write a make rule naming OUT and every file the pack read, for "
                        "build tools to re-pack when one changes");
    add_temp_length(command, request.temp_length);
    add_dll_options(command, request.dlls);
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
    line.carriers.push_back(line.list->add_option("carrier", request.carrier, "Carrier to read"));
    line.list->add_flag("--json", request.json, kJsonHelp);
    add_verbosity(line.list, line.quiet, line.verbose, "Also the integrity record");

    CLI::App* verify = line.app.add_subcommand(
        "verify", "Check the integrity record, then walk and decode the archive as the "
                  "launcher would; exit 0 exactly when its run would succeed. What it gets "
                  "through but may not do as meant is a warning. Names the launcher in "
                  "front: the one courier-pack was built with, or a modified one.");
    line.carriers.push_back(verify->add_option("carrier", request.carrier, "Carrier to check"));
    add_temp_length(verify, request.temp_length);
    add_dll_options(verify, request.dlls);
    verify->add_flag("--json", request.json, kJsonHelp);
    add_verbosity(verify, line.quiet, line.verbose, "Also the integrity record and each entry checked");
    verify->add_flag("--strict", request.strict,
                     "Fail on warnings too, of every kind: a launch name that names no "
                     "entry, a launch file a later entry rewrites, a name too long for "
                     "--temp-length, a name outside ASCII or with a trailing dot or space, "
                     "entries Windows takes for one file, an entry named as another's "
                     "short (8.3) name may be, a launch program that loads a DLL from the "
                     "shared folder, a carrier Windows takes for an installer; and on a modified Brisk Courier launcher, not the one "
                     "courier-pack was built with");
    line.verify = verify;

    CLI::App* extract = line.app.add_subcommand(
        "extract", "Unpack the entries into a folder, refusing unsafe names. Each file is "
                   "renamed into place once whole: a regular file of its name is replaced (as "
                   "tar does), a link, folder or other file of its name stops the extraction "
                   "and is left as it is.");
    line.carriers.push_back(extract->add_option("carrier", request.carrier, "Carrier to unpack"));
    extract->add_option("names", request.names,
                        "Entries to unpack (letter case ignored); every entry when none is named");
    extract->add_option("-C,--directory", request.folder, "Folder to unpack into")
        ->capture_default_str();
    add_verbosity(extract, line.quiet, line.verbose, "Also each file as it is written");
    line.extract = extract;
}

// The words after "--", whatever they look like, as the verb's operands:
// pack's inputs, a carrier, extract's names. "" when all found a place,
// else the usage error.
std::string add_operands(CommandLine& line, const std::vector<std::string>& operands) {
    CarrierRequest& reading = line.reading;
    for (const std::string& word : operands) {
        if (*line.pack) line.packing.inputs.push_back(word);
        else if (reading.carrier.empty() && !line.app.get_subcommands().empty()) reading.carrier = word;
        else if (*line.extract) reading.names.push_back(word);
        else return "unexpected argument '" + word + "'";
    }
    if ((*line.list || *line.verify || *line.extract) && reading.carrier.empty())
        return "carrier is required";
    const PackRequest& packing = line.packing;
    if (*line.pack && packing.inputs.empty() && packing.files_from.empty())
        return "inputs is required: files and folders, or --files-from LIST";
    if (*line.pack && !packing.depfile.empty() && packing.output == "-")
        return "--depfile needs -o FILE: the rule's target is the carrier's file";
    return "";
}

// Parses the command line: -1 when a verb is to run, else the exit code
// (help, version, or bad usage, reported).
int parse(CommandLine& line, int argc, char** argv) {
    CLI::App& app = line.app;
    std::vector<std::string> args = utf8_arguments(argc, argv);
    // CLI11 honours "--" only while a positional still wants a value, so
    // the words after it are set aside and given to the verb after.
    std::vector<std::string> operands;
    if (const auto dashes = std::find(args.begin() + 1, args.end(), "--"); dashes != args.end()) {
        operands.assign(dashes + 1, args.end());
        args.erase(dashes, args.end());
    }
    // The carrier may come after "--"; add_operands checks it then.
    for (CLI::Option* carrier : line.carriers) carrier->required(operands.empty());
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
    if (const std::string problem = add_operands(line, operands); !problem.empty())
        return bad_usage(problem, app);
    return -1;
}

int run(const CommandLine& line) {
    const CarrierRequest& reading = line.reading;
    try {
        if (*line.pack) return pack(line.packing);
        if (*line.list) return list_carrier(reading);
        if (*line.verify) return verify_carrier(reading);
        return extract_carrier(reading);
    } catch (const std::exception& e) {
        report_error(e.what());
        if (reading.json) {  // the document carries the failure too
            WalkFinding failure;
            failure.reason = e.what();
            print_json_report(*line.list ? "list" : "verify", reading.carrier, WalkResult(), false, failure);
        }
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    open_closed_standard_streams();
    CommandLine line;
    // The commit too: a release is checked by rebuilding that commit.
    line.app.set_version_flag("-V,--version", std::string("courier-pack ") + COURIER_PACK_VERSION +
                                                  "\nbuilt from commit " + COURIER_PACK_COMMIT);
    line.app.footer(kExitCodes);
    // Words and options no command knows are named in the error, below.
    line.app.allow_extras();
    add_pack_command(line);
    add_reading_commands(line);
    if (const int code = parse(line, argc, argv); code >= 0) return code;
    set_verbosity(line.quiet ? Verbosity::kQuiet
                  : line.verbose ? Verbosity::kVerbose : Verbosity::kNormal);
    return run(line);
}
