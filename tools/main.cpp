// courier-pack: makes carriers (the launcher with an archive appended) and
// lists, verifies and unpacks them on any platform.
#include <CLI/CLI.hpp>

#include <exception>
#include <string>

#include "tools/commands.h"
#include "tools/console.h"
#include "tools/names.h"
#include "tools/pack.h"
#include "tools/resource_request.h"

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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("Packs files into a self-extracting 32-bit Windows program (a carrier), and "
                 "lists, verifies and unpacks carriers.",
                 "courier-pack");
    app.set_version_flag("--version", std::string("courier-pack ") + COURIER_PACK_VERSION);
    app.require_subcommand(1);
    app.footer(kExitCodes);
    app.failure_message([](const CLI::App*, const CLI::Error& e) {
        return std::string("courier-pack: ") + e.what() + "\ncourier-pack: see --help\n";
    });

    PackRequest request;
    CLI::App* pack_command =
        app.add_subcommand("pack", "Write the launcher and an archive of INPUT... to OUT.");
    pack_command->add_option("-o,--output", request.output, "Carrier to write (OUT.exe)")
        ->required();
    pack_command->add_option("--launch", request.launch_name,
                             "Entry the launcher opens after unpacking (letter case ignored)")
        ->required();
    pack_command->add_option("--stub", request.stub, "Launcher image to put in front (i386 PE)");
    pack_command->add_flag("--greedy", request.greedy,
                           "Plain greedy encoding in 1024-byte chunks (a baseline)");
    pack_command->add_option("inputs", request.inputs, "Files and folders to pack")->required();
    add_temp_length(pack_command, request.temp_length);
    // Resources: each option adds to the stub's image; without them it is left as it is.
    ResourceRequest& resources = request.resources;
    auto checked_by = [](std::string (*problem)(const std::string&), const char* shape) {
        return CLI::Validator([problem](std::string& value) { return problem(value); }, shape);
    };
    pack_command->add_option("--icon", resources.icon,
                             "Icon of the carrier: an .ico of BMP or PNG images, 1 to 256 pixels");
    pack_command->add_option("--file-version", resources.file_version, "File version")
        ->check(checked_by(version_number_problem, "A.B.C.D"));
    pack_command->add_option("--product-version", resources.product_version, "Product version")
        ->check(checked_by(version_number_problem, "A.B.C.D"));
    pack_command
        ->add_option("--version-string", resources.version_strings,
                     "A string of the version information (CompanyName, FileDescription, "
                     "ProductName, LegalCopyright, OriginalFilename, InternalName, Comments, "
                     "LegalTrademarks or any other key); repeatable")
        ->allow_extra_args(false)
        ->check(checked_by(version_string_problem, "KEY=VALUE"));
    CLI::Option* level =
        pack_command
            ->add_option("--execution-level", resources.execution_level,
                         "Add a manifest that asks Windows for this level (asInvoker: no "
                         "elevation prompt, whatever the carrier is called)")
            ->check(CLI::IsMember(std::vector<std::string>(std::begin(kExecutionLevels),
                                                           std::end(kExecutionLevels))));
    pack_command
        ->add_option("--manifest", resources.manifest,
                     "Add this manifest (UTF-8 XML) instead of one made for --execution-level")
        ->excludes(level);
    pack_command->footer(pack_notes());

    std::string carrier;
    CLI::App* list_command =
        app.add_subcommand("list", "Show the launch name and each entry's sizes and ratio.");
    list_command->add_option("carrier", carrier, "Carrier to read")->required();

    int temp_length = kAssumedTempLength;
    bool strict = false;
    CLI::App* verify_command = app.add_subcommand(
        "verify", "Check the integrity record, then walk and decode the archive as the "
                  "launcher would; exit 0 exactly when its run would succeed. What it gets "
                  "through but may not do as meant is a warning.");
    verify_command->add_option("carrier", carrier, "Carrier to check")->required();
    add_temp_length(verify_command, temp_length);
    verify_command->add_flag("--strict", strict,
                             "Fail on warnings too: a launch name that names no entry, a name "
                             "outside ASCII or with a trailing dot, a name too long for "
                             "--temp-length");

    std::string folder = ".";
    CLI::App* extract_command = app.add_subcommand(
        "extract", "Unpack the entries into a folder, refusing unsafe names. Each file is "
                   "renamed into place once whole: a regular file of its name is replaced (as "
                   "tar does), a link, folder or other file of its name stops the extraction "
                   "and is left as it is.");
    extract_command->add_option("carrier", carrier, "Carrier to unpack")->required();
    extract_command->add_option("-C,--directory", folder, "Folder to unpack into")
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : kBadUsage;
    }

    try {
        if (*pack_command) return pack(request, running_program(argv[0]));
        if (*list_command) return list_carrier(carrier);
        if (*verify_command) return verify_carrier(carrier, temp_length, strict);
        return extract_carrier(carrier, folder);
    } catch (const std::exception& e) {
        report_error(e.what());
        return 1;
    }
}
