#include "tools/dlls/dll_exposure.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <unordered_set>

#include "tools/carrier/names.h"
#include "tools/resources/installer_detection.h"
#include "tools/resources/manifest.h"

namespace {

// LoadLibraryEx's search flags (learn.microsoft.com, "LoadLibraryExW"),
// which DependentLoadFlags takes for a program's static imports
// ("/DEPENDENTLOADFLAG", learn.microsoft.com/cpp/build/reference/dependentloadflag):
// Windows 10 version 1607 and later honour it, earlier ones ignore it.
constexpr uint16_t kSearchDllLoadDir = 0x100, kSearchApplicationDir = 0x200,
                   kSearchSystem32 = 0x800, kSearchDefaultDirs = 0x1000;
constexpr uint16_t kI386 = 0x014C;

// Names a message lists: "a", "a and b", "a, b and c"; past eight, the rest counted.
std::string listed(const std::vector<std::string>& names) {
    constexpr size_t kMostNamed = 8;
    std::string text;
    const size_t shown = names.size() > kMostNamed ? kMostNamed : names.size();
    for (size_t i = 0; i < shown; ++i) {
        const bool last = i + 1 == shown && shown == names.size();
        text += (i == 0 ? "" : last ? " and " : ", ") + names[i];
    }
    if (shown < names.size()) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

// A DLL as a message names it: with the chain that loads it when a carried DLL does.
std::string shown_name(const DllVerdict& dll) {
    const std::string name = printable(dll.name);
    return dll.via.empty() ? name : name + " (" + printable(dll.via) + " -> " + name + ")";
}

std::vector<std::string> names_of(const std::vector<DllVerdict>& dlls,
                                  const std::function<bool(const DllVerdict&)>& which) {
    std::vector<std::string> names;
    for (const DllVerdict& dll : dlls)
        if (which(dll)) names.push_back(shown_name(dll));
    return names;
}

// One sentence of the warning for the DLLs `names`: `one` for a single DLL,
// `many` for several, where {P} is the program and {D} the DLL or the list.
std::string sentence(const std::string& program, const std::vector<std::string>& names,
                     const std::string& one, const std::string& many) {
    if (names.empty()) return "";
    const bool single = names.size() == 1;
    std::string text = single ? one : many;
    auto replace_all = [&text](const std::string& from, const std::string& to) {
        for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
            text.replace(at, from.size(), to);
    };
    replace_all("{P}", program);
    replace_all("{D}", single ? names[0] : listed(names));
    return text;
}

std::string flags_text(uint16_t flags) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", unsigned(flags));
    return text;
}

bool same_file_name(const std::string& a, const std::string& b) {
    return same_name(dll_file_name(a), dll_file_name(b));
}

bool named_in(const std::vector<std::string>& names, const std::string& file) {
    return std::any_of(names.begin(), names.end(), [&](const std::string& n) { return same_file_name(n, file); });
}

// Who made the program, for the remedies that fit: GNU ld writes no load
// configuration; MSVC's link.exe writes one (its runtime's
// _load_config_used) and its own version, 14 since Visual Studio 2015.
enum class Linker { kGnuLd, kMsvc, kOther };
Linker linker_of(const ProgramImports& imports) {
    if (!imports.has_load_config) return Linker::kGnuLd;
    return imports.linker_major >= 14 ? Linker::kMsvc : Linker::kOther;
}

// DependentLoadFlags that keep an image's static imports to the system
// folder on every Windows of the range.
bool flags_keep_to_system(const ProgramImports& imports, WindowsRange range) {
    return range == WindowsRange::kFrom10v1607 && imports.has_load_flags &&
           system_folder_only(imports.dependent_load_flags);
}

// One image whose imports are judged: the program, or a DLL it loads.
struct Importer {
    const ProgramImports& imports;
    std::string via;  // "" for the program, else the chain that loads it
    const std::vector<std::string>* manifest_files;       // the program's, else null
    const std::vector<std::string>* manifest_assemblies;  // likewise
};

// The verdicts, in the order Windows searches: API sets, the manifest's own
// files, known DLLs and the side-by-side store, then the folders
// ("Dynamic-link library search order").
class Judge {
public:
    Judge(const ProgramImports& program, const DllContext& context, LaunchDlls& out)
        : program_(program), context_(context), out_(out) {}

    void judge_image(const Importer& who) {
        for (const ImportedDll& dll : who.imports.dlls) judge_one(who, dll);
        for (const std::string& name : who.imports.forwarded_to) judge_one(who, {name, false});
    }

    // The DLLs the carried ones load, transitively, as the program's own.
    void follow_carried(const std::string& program) {
        std::deque<std::pair<std::string, std::string>> queue;  // a DLL's name and the chain to it
        size_t next = 0, read = 0;
        auto take = [&](const std::string& via) {
            for (; next < out_.dlls.size(); ++next)
                if (out_.dlls[next].from == DllSource::kArchive) queue.emplace_back(out_.dlls[next].name, via);
        };
        take(program);
        while (!queue.empty() && context_.open_carried) {
            const auto [name, via] = queue.front();
            queue.pop_front();
            if (read++ == kMostCarriedDllsRead) {
                out_.problems.push_back("more than " + std::to_string(kMostCarriedDllsRead) +
                                        " carried DLLs; the imports of the rest are not read");
                return;
            }
            const std::string chain = via.empty() ? name : via + " -> " + name;
            read_carried(name, chain);
            take(chain);
        }
    }

private:
    void read_carried(const std::string& name, const std::string& chain) {
        const std::unique_ptr<ImageBytes> bytes = context_.open_carried(dll_file_name(name));
        if (!bytes) return;
        const ProgramImports dll = read_dll_imports(*bytes);
        if (!dll.not_a_program.empty()) {
            out_.problems.push_back(chain + ": " + dll.not_a_program + "; its imports are not read");
            return;
        }
        for (const std::string& problem : dll.problems) out_.problems.push_back(chain + ": " + problem);
        judge_image({dll, chain, nullptr, nullptr});
    }

    void judge_one(const Importer& who, const ImportedDll& dll) {
        const std::string file = dll_file_name(dll.name);
        if (!judged_.insert(ascii_file_key(file)).second) return;
        DllVerdict verdict;
        verdict.name = dll.name;
        verdict.delayed = dll.delayed;
        verdict.via = who.via;
        verdict.manifest_file = who.manifest_files && named_in(*who.manifest_files, file);
        verdict.windows = windows_ships(file, context_.options.range);
        verdict.from = source_of(who, dll, file, verdict);
        verdict.accepted = verdict.from == DllSource::kFolder && named_in(context_.options.accepted, file);
        out_.dlls.push_back(verdict);
    }

    DllSource source_of(const Importer& who, const ImportedDll& dll, const std::string& file, DllVerdict& v) {
        const bool own = v.manifest_file;
        const bool side_by_side =
            who.manifest_assemblies &&
            std::any_of(who.manifest_assemblies->begin(), who.manifest_assemblies->end(),
                        [&](const std::string& a) { return assembly_provides(a, file); });
        if (resolves_api_set(file, context_.options.range) || (!own && (is_known_dll(file) || side_by_side)))
            return DllSource::kSystem;
        if (!own && !dll.delayed && v.windows == Shipped::kEvery && flags_keep_to_system(who.imports, context_.options.range))
            return DllSource::kSystem;
        const Carried where = context_.carried(file);
        if (where == Carried::kBefore) return DllSource::kArchive;
        v.carried_late = where == Carried::kAfter;
        if (!v.carried_late && v.windows == Shipped::kNone) return DllSource::kMissing;
        if (!own && dll.delayed && program_.sets_dll_directories) return DllSource::kProgram;
        return DllSource::kFolder;
    }

    const ProgramImports& program_;
    const DllContext& context_;
    LaunchDlls& out_;
    std::unordered_set<std::string> judged_;  // file names, by ascii_file_key
};

// What the loaded sentence offers, only what fits the linker and the DLLs:
// never to carry a DLL every Windows has.
std::string static_remedies(const ProgramImports& imports, WindowsRange range, bool single,
                            const std::vector<std::string>& carriable) {
    const std::string it = single ? "it" : "them";
    const std::string later = range == WindowsRange::kFrom10v1607
                                  ? ""
                                  : ", honoured from Windows 10 version 1607: pack with --min-windows 10.1607";
    std::vector<std::string> remedies;
    const Linker linker = linker_of(imports);
    if (imports.has_load_flags && system_folder_only(imports.dependent_load_flags))
        remedies.push_back("pack with --min-windows 10.1607 if no older Windows runs it (they ignore its "
                           "DependentLoadFlags)");
    else if (linker == Linker::kMsvc)
        remedies.push_back("link it with /DEPENDENTLOADFLAG:0x800 (system folder only" + later + ")");
    else if (linker == Linker::kOther)
        remedies.push_back("set DependentLoadFlags 0x800 in its load configuration (system folder only" + later + ")");
    remedies.push_back("delay-load " + it +
                       (linker == Linker::kMsvc   ? " (/DELAYLOAD) after SetDefaultDllDirectories"
                        : linker == Linker::kGnuLd ? " after SetDefaultDllDirectories (GNU ld: an import library "
                                                     "from dlltool --output-delaylib, as the README shows)"
                                                   : " after SetDefaultDllDirectories"));
    if (!carriable.empty()) remedies.push_back("carry " + listed(carriable) + " in the archive");
    std::string text;
    for (size_t i = 0; i < remedies.size(); ++i)
        text += (i == 0 ? "" : i + 1 == remedies.size() ? " or " : ", ") + remedies[i];
    return text;
}

bool folder_first(const DllVerdict& d) { return d.from == DllSource::kFolder && !d.carried_late && !d.accepted; }

std::string loaded_sentence(const std::string& p, const LaunchDlls& out, const ProgramImports& imports,
                            WindowsRange range) {
    auto loaded = [](const DllVerdict& d) { return folder_first(d) && !d.manifest_file && !d.delayed; };
    const std::vector<std::string> names = names_of(out.dlls, loaded);
    const std::vector<std::string> carriable = names_of(out.dlls, [&](const DllVerdict& d) {
        return loaded(d) && d.windows != Shipped::kEvery;
    });
    if (names.empty()) return "";
    const std::string remedies = static_remedies(imports, range, names.size() == 1, carriable);
    return sentence(p, names,
                    "{P} loads {D} from the folder it starts in first; that folder is shared by every carrier, "
                    "so a {D} another one left there would be loaded instead: " + remedies + ".",
                    "{P} loads {D} from the folder it starts in first; that folder is shared by every carrier, "
                    "so a DLL of one of those names another one left there would be loaded instead: " +
                        remedies + ".");
}

std::string delayed_sentence(const std::string& p, const LaunchDlls& out) {
    const std::vector<std::string> delayed = names_of(
        out.dlls, [](const DllVerdict& d) { return folder_first(d) && !d.manifest_file && d.delayed; });
    return sentence(p, delayed,
                    "{P} delay-loads {D} and imports no SetDefaultDllDirectories, so it looks for {D} in the "
                    "folder it starts in first, where another carrier may have left one: call "
                    "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) before its first call into {D}.",
                    "{P} delay-loads {D} and imports no SetDefaultDllDirectories, so it looks for them in the "
                    "folder it starts in first, where another carrier may have left them: call "
                    "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) before its first call into them.");
}

std::string own_and_late_sentences(const std::string& p, const LaunchDlls& out) {
    const std::vector<std::string> own =
        names_of(out.dlls, [](const DllVerdict& d) { return folder_first(d) && d.manifest_file; });
    const std::vector<std::string> late = names_of(out.dlls, [](const DllVerdict& d) { return d.carried_late; });
    const std::string owned = sentence(
        p, own,
        "{P}'s manifest names {D} as its own file, which Windows takes from the folder it starts "
        "in, where another carrier may have left one: carry {D} in the archive.",
        "{P}'s manifest names {D} as its own files, which Windows takes from the folder it starts "
        "in, where another carrier may have left them: carry them in the archive.");
    const std::string carried = sentence(
        p, late,
        "{P} loads {D}, which the archive carries only after {P}: should writing it fail (a "
        "read-only {D} another carrier left in the folder), the launcher still opens {P}, which "
        "then loads the one left there: carry {D} before {P} (courier-pack pack puts it there).",
        "{P} loads {D}, which the archive carries only after {P}: should writing one fail (a "
        "read-only DLL of that name another carrier left in the folder), the launcher still opens "
        "{P}, which then loads the one left there: carry them before {P} (courier-pack pack puts "
        "them there).");
    return owned + (owned.empty() || carried.empty() ? "" : " ") + carried;
}

std::string may_not_start_sentence(const std::string& p, const LaunchDlls& out, WindowsRange range) {
    const std::vector<std::string> unsure = names_of(out.dlls, [](const DllVerdict& d) {
        return (d.from == DllSource::kFolder && d.windows == Shipped::kSome) ||
               (d.from == DllSource::kMissing && d.delayed);
    });
    const std::string from = windows_range_text(range);
    return sentence(p, unsure,
                    "{P} may not start: not every Windows from " + from + " on has {D} (an update or a "
                    "runtime's installer adds it to some): carry {D} if it is yours to ship, or state a "
                    "later --min-windows where Windows has it.",
                    "{P} may not start: not every Windows from " + from + " on has {D} (an update or a "
                    "runtime's installer adds them to some): carry them if they are yours to ship, or state "
                    "a later --min-windows where Windows has them.");
}

// A program Windows starts elevated: by its manifest, or by installer
// detection (tools/resources/installer_detection) when the manifest names
// no level. The launch program's version strings are not read here, so
// only its name counts.
std::string elevation(const std::string& program, const ProgramImports& imports) {
    std::string level;
    if (imports.has_manifest && !check_manifest(imports.manifest, level).empty()) level.clear();
    if (level == "requireAdministrator" || level == "highestAvailable") return "its manifest asks for " + level;
    const std::string name = program.substr(program.find_last_of("\\/") + 1);
    if (level.empty() && imports.machine == kI386 && !installer_word(name, {}).empty())
        return "Windows takes it for an installer by its name and asks for administrator rights";
    return "";
}

// DLLs system DLLs load for a program by name (user32 uxtheme.dll for its
// windows' themes, advapi32 cryptbase.dll, uxtheme dwmapi.dll), which no
// table names: the search the program sets decides.
std::string loaded_for_it(const std::string& p, const ProgramImports& imports, WindowsRange range,
                          bool as_warning) {
    if (imports.sets_dll_directories || flags_keep_to_system(imports, range)) return "";
    const std::string why = elevation(p, imports);
    if (as_warning != !why.empty()) return "";
    const std::string they = "DLLs Windows loads for it by name (uxtheme.dll for its windows, dwmapi.dll, "
                             "cryptbase.dll, ...) come from the folder it starts in first";
    if (as_warning)
        return p + " runs elevated (" + why + ") and imports no SetDefaultDllDirectories, so the " + they +
               ", where another carrier may have left one: call "
               "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) first thing.";
    return p + ": imports no SetDefaultDllDirectories, so the " + they +
           "; it runs as the user who starts it, so one left there gains no rights";
}

std::string cannot_start_text(const std::string& p, const LaunchDlls& out) {
    const std::vector<std::string> missing =
        names_of(out.dlls, [](const DllVerdict& d) { return d.from == DllSource::kMissing && !d.delayed; });
    return sentence(p, missing,
                    "{P} cannot start: it loads {D}, which the archive does not carry and Windows does not "
                    "have: carry {D} (for mingw's runtime, libgcc_s, libstdc++ and libwinpthread, link it "
                    "statically: -static).",
                    "{P} cannot start: it loads {D}, which the archive does not carry and Windows does not "
                    "have: carry them (for mingw's runtime, libgcc_s, libstdc++ and libwinpthread, link it "
                    "statically: -static).");
}

void add_notes(const std::string& p, const ProgramImports& imports, WindowsRange range, LaunchDlls& out) {
    if (imports.has_load_flags && imports.dependent_load_flags != 0) {
        const bool only = system_folder_only(imports.dependent_load_flags);
        out.notes.push_back(
            p + ": DependentLoadFlags " + flags_text(imports.dependent_load_flags) +
            (!only ? " still lets its static imports come from the folder it starts in"
                   : range == WindowsRange::kFrom10v1607
                         ? " keeps its static imports to the system folder (on Windows 10 version 1607 and "
                           "later, which --min-windows 10.1607 states)"
                         : " keeps its static imports to the system folder only on Windows 10 version 1607 and "
                           "later: earlier Windows ignore it (--min-windows 10.1607 states none runs it)"));
    }
    auto shown = [](const std::vector<std::string>& names) {
        std::vector<std::string> out;
        for (const std::string& name : names) out.push_back(printable(name));
        return listed(out);
    };
    if (!out.manifest_files.empty())
        out.notes.push_back(p + ": its manifest takes its own files " + shown(out.manifest_files) +
                            " from the folder it starts in");
    if (!out.manifest_assemblies.empty())
        out.notes.push_back(p + ": its manifest takes the DLLs of " + shown(out.manifest_assemblies) +
                            " from the side-by-side store (or, where the store has no such assembly, from "
                            "the folder it starts in)");
    const std::vector<std::string> set_by_program =
        names_of(out.dlls, [](const DllVerdict& d) { return d.from == DllSource::kProgram; });
    if (!set_by_program.empty())
        out.notes.push_back(p + ": delay-loads " + listed(set_by_program) +
                            " and imports SetDefaultDllDirectories: where they come from is the search it "
                            "sets before its first call into them");
    const std::vector<std::string> accepted = names_of(out.dlls, [](const DllVerdict& d) { return d.accepted; });
    if (!accepted.empty())
        out.notes.push_back(p + ": loads " + listed(accepted) +
                            " from the folder it starts in first, a warning accepted by --accept-dll");
    const std::string unelevated = loaded_for_it(p, imports, range, false);
    if (!unelevated.empty()) out.notes.push_back(unelevated);
    constexpr size_t kMostProblemNotes = 8;
    for (size_t i = 0; i < out.problems.size() && i < kMostProblemNotes; ++i)
        out.notes.push_back(p + ": " + printable(out.problems[i]));
    if (out.problems.size() > kMostProblemNotes)
        out.notes.push_back(p + ": " + std::to_string(out.problems.size() - kMostProblemNotes) +
                            " more problems with its imports");
}

}  // namespace

const char* dll_source_name(DllSource from) {
    switch (from) {
    case DllSource::kSystem: return "system";
    case DllSource::kArchive: return "archive";
    case DllSource::kFolder: return "folder";
    case DllSource::kProgram: return "program";
    case DllSource::kMissing: return "missing";
    }
    return "";
}

// LoadLibrary's rule for a name without a path ("LoadLibraryW",
// learn.microsoft.com): ".DLL" is added when the name has no extension; a
// trailing dot stands for none.
std::string dll_file_name(const std::string& name) {
    if (!name.empty() && name.back() == '.') return name.substr(0, name.size() - 1);
    const size_t slash = name.find_last_of("\\/");
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? name + ".dll" : name;
}

bool system_folder_only(uint16_t flags) {
    return (flags & kSearchSystem32) &&
           !(flags & (kSearchDllLoadDir | kSearchApplicationDir | kSearchDefaultDirs));
}

LaunchDlls judge_launch_dlls(const std::string& program, const ProgramImports& imports, const DllContext& context) {
    LaunchDlls out;
    out.not_a_program = imports.not_a_program;
    if (!imports.not_a_program.empty()) return out;
    out.read = true;
    out.has_load_flags = imports.has_load_flags;
    out.dependent_load_flags = imports.dependent_load_flags;
    out.problems = imports.problems;
    if (imports.has_manifest) {
        const std::string problem =
            manifest_dll_redirects(imports.manifest, out.manifest_files, out.manifest_assemblies);
        if (!problem.empty()) out.problems.push_back("its manifest: " + problem);
    }
    Judge judge(imports, context, out);
    judge.judge_image({imports, "", &out.manifest_files, &out.manifest_assemblies});
    judge.follow_carried(program);

    const std::string p = printable(program);
    const std::string sentences[] = {
        loaded_sentence(p, out, imports, context.options.range), delayed_sentence(p, out), own_and_late_sentences(p, out),
        may_not_start_sentence(p, out, context.options.range), loaded_for_it(p, imports, context.options.range, true)};
    for (const std::string& s : sentences)
        if (!s.empty()) out.warning += (out.warning.empty() ? "" : " ") + s;
    out.cannot_start = cannot_start_text(p, out);
    add_notes(p, imports, context.options.range, out);
    return out;
}
