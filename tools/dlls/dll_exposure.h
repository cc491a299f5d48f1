// Where Windows takes each DLL the launch program imports from, once the
// launcher has opened it in %TEMP%\BriskCourierTmp\: a folder every carrier
// of every vendor shares and nothing cleans, and the first place Windows
// looks for most DLLs. pack and verify give the same verdicts and the same
// one warning.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/dlls/pe_imports.h"

enum class DllSource {
    kSystem,   // the system folder, always: a known DLL, an API set, or a static
               // import the load configuration keeps to the system folder
    kArchive,  // the carrier writes a file of that name before the program
    kFolder,   // the folder the program starts in, first: a DLL another carrier left there
    kProgram,  // delay-loaded by a program that sets its own DLL search first
};

// "system", "archive", "folder", "program": the JSON's words.
const char* dll_source_name(DllSource from);

struct DllVerdict {
    std::string name;      // as the program's table spells it
    bool delayed = false;  // delay-loaded only
    DllSource from = DllSource::kFolder;
    bool manifest_file = false;  // the manifest names it as one of the program's own files
    bool carried_late = false;   // carried, but after the program: a failure writing it still opens the program
};

struct LaunchDlls {
    bool read = false;           // the launch file is a program and its imports were read
    std::string not_a_program;   // else why not, when it was looked at
    std::vector<DllVerdict> dlls;
    bool has_load_flags = false;
    uint16_t dependent_load_flags = 0;
    std::vector<std::string> manifest_files, manifest_assemblies;
    std::vector<std::string> problems;  // what could not be read
    // The one warning for the program, "" when no DLL comes from the folder first.
    std::string warning;
    // For people: the load flags, the manifest's redirection, the problems.
    std::vector<std::string> notes;
};

// Where the archive has an entry Windows takes for a DLL's file, beside the
// launch program's entry.
enum class Carried { kNo, kBefore, kAfter };

// program: the launch name. carried(file): where an entry Windows takes for
// `file` is.
LaunchDlls judge_launch_dlls(const std::string& program, const ProgramImports& imports,
                             const std::function<Carried(const std::string& file)>& carried);

// The file Windows looks for when a program imports `name`: ".dll" added
// to a name without an extension, a trailing dot dropped.
std::string dll_file_name(const std::string& name);

// DependentLoadFlags that keep static imports to the system folder.
bool system_folder_only(uint16_t dependent_load_flags);
