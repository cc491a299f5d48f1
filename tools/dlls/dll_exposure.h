// Where Windows takes each DLL the launch program imports from, once the
// launcher has opened it in %TEMP%\BriskCourierTmp\: a folder every carrier
// of every vendor shares and nothing cleans, and the first place Windows
// looks for most DLLs. pack and verify give the same verdicts and the same
// one warning.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tools/dlls/image_bytes.h"
#include "tools/dlls/known_dlls.h"
#include "tools/dlls/pe_imports.h"

enum class DllSource {
    kSystem,   // the system folder, always: a known DLL, an API set every Windows of
               // the range maps, a DLL of a side-by-side assembly the manifest
               // depends on, or (from Windows 10 version 1607) a static import the
               // load configuration keeps to the system folder
    kArchive,  // the carrier writes a file of that name before the program
    kFolder,   // the folder the program starts in, first: a DLL another carrier left there
    kProgram,  // delay-loaded by a program that sets its own DLL search first
    kMissing,  // nowhere: neither carried nor in any Windows' system folder
};

// "system", "archive", "folder", "program", "missing": the JSON's words.
const char* dll_source_name(DllSource from);

struct DllVerdict {
    std::string name;      // as the program's table spells it
    bool delayed = false;  // delay-loaded only
    DllSource from = DllSource::kFolder;
    bool manifest_file = false;  // the manifest names it as one of the program's own files
    bool carried_late = false;   // carried, but after the program: a failure writing it still opens the program
    Shipped windows = Shipped::kEvery;  // whether every Windows of the range has it
    std::string via;  // "setup.exe -> helper.dll" for a DLL a carried one loads; "" for the program's own
    bool accepted = false;  // its warning was accepted by name (--accept-dll)
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
    // Why the program cannot start, "" when it can: a DLL it loads at start
    // that neither the archive nor any Windows has.
    std::string cannot_start;
    // For people: the load flags, the manifest's redirection, the problems.
    std::vector<std::string> notes;
};

// Where the archive has an entry Windows takes for a DLL's file, beside the
// launch program's entry.
enum class Carried { kNo, kBefore, kAfter };

// What the publisher states, to pack and verify alike.
struct DllOptions {
    WindowsRange range = WindowsRange::kFrom7Sp1;  // --min-windows
    std::vector<std::string> accepted;             // --accept-dll: DLLs whose warning was reviewed
};

// What the judgement needs of the archive and of the publisher.
struct DllContext {
    DllOptions options;
    // Where an entry Windows takes for `file` is.
    std::function<Carried(const std::string& file)> carried;
    // The bytes of the entry Windows takes for `file`, carried before the
    // program; null when they cannot be had.
    std::function<std::unique_ptr<ImageBytes>(const std::string& file)> open_carried;
};

// Carried DLLs whose own imports are read at most, whatever they import.
constexpr size_t kMostCarriedDllsRead = 64;

// program: the launch name.
LaunchDlls judge_launch_dlls(const std::string& program, const ProgramImports& imports, const DllContext& context);

// The file Windows looks for when a program imports `name`: ".dll" added
// to a name without an extension, a trailing dot dropped.
std::string dll_file_name(const std::string& name);

// DependentLoadFlags that keep static imports to the system folder.
bool system_folder_only(uint16_t dependent_load_flags);
