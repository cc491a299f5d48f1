#include "tools/dlls/dll_exposure.h"

#include <algorithm>
#include <cstdio>

#include "tools/dlls/known_dlls.h"
#include "tools/carrier/names.h"
#include "tools/resources/manifest.h"

namespace {

// LoadLibraryEx's search flags (learn.microsoft.com, "LoadLibraryExW"),
// which DependentLoadFlags takes for a program's static imports
// ("/DEPENDENTLOADFLAG", learn.microsoft.com/cpp/build/reference/dependentloadflag):
// Windows 10 version 1607 and later honour it, earlier ones ignore it.
constexpr uint16_t kSearchDllLoadDir = 0x100, kSearchApplicationDir = 0x200,
                   kSearchSystem32 = 0x800, kSearchDefaultDirs = 0x1000;

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

std::vector<std::string> names_of(const std::vector<DllVerdict>& dlls,
                                  const std::function<bool(const DllVerdict&)>& which) {
    std::vector<std::string> names;
    for (const DllVerdict& dll : dlls)
        if (which(dll)) names.push_back(printable(dll.name));
    return names;
}

// One sentence of the warning for the DLLs `names`: `one` for a single DLL,
// `many` for several, where {P} is the program, {D} the DLL or the list,
// and each {it|them} picks by the count.
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

}  // namespace

const char* dll_source_name(DllSource from) {
    switch (from) {
    case DllSource::kSystem: return "system";
    case DllSource::kArchive: return "archive";
    case DllSource::kFolder: return "folder";
    case DllSource::kProgram: return "program";
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

LaunchDlls judge_launch_dlls(const std::string& program, const ProgramImports& imports,
                             const std::function<Carried(const std::string& file)>& carried) {
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
    const bool static_system_only = imports.has_load_flags && system_folder_only(imports.dependent_load_flags);
    // In the order Windows searches: API sets, then the manifest's own
    // files, known DLLs, then the folders ("Dynamic-link library search order").
    for (const ImportedDll& dll : imports.dlls) {
        DllVerdict verdict;
        verdict.name = dll.name;
        verdict.delayed = dll.delayed;
        const std::string file = dll_file_name(dll.name);
        verdict.manifest_file = std::any_of(out.manifest_files.begin(), out.manifest_files.end(),
                                            [&](const std::string& f) { return same_file_name(f, file); });
        const Carried where = carried(file);
        if (is_api_set(file) || (!verdict.manifest_file && is_known_dll(file)) ||
            (!verdict.manifest_file && !dll.delayed && static_system_only))
            verdict.from = DllSource::kSystem;
        else if (where == Carried::kBefore)
            verdict.from = DllSource::kArchive;
        else if (where == Carried::kAfter)
            verdict.carried_late = true;
        else if (!verdict.manifest_file && dll.delayed && imports.sets_dll_directories)
            verdict.from = DllSource::kProgram;
        out.dlls.push_back(verdict);
    }

    const std::string p = printable(program);
    auto folder = [](const DllVerdict& d) { return d.from == DllSource::kFolder; };
    const std::vector<std::string> loaded = names_of(out.dlls, [&](const DllVerdict& d) {
        return folder(d) && !d.carried_late && !d.manifest_file && !d.delayed;
    });
    const std::vector<std::string> delayed = names_of(out.dlls, [&](const DllVerdict& d) {
        return folder(d) && !d.carried_late && !d.manifest_file && d.delayed;
    });
    const std::vector<std::string> own = names_of(out.dlls, [&](const DllVerdict& d) {
        return folder(d) && !d.carried_late && d.manifest_file;
    });
    const std::vector<std::string> late = names_of(out.dlls, [&](const DllVerdict& d) { return d.carried_late; });
    const std::string sentences[] = {
        sentence(p, loaded,
                 "{P} loads {D} from the folder it starts in first; that folder is shared by every carrier, "
                 "so a {D} another one left there would be loaded instead: link it with "
                 "/DEPENDENTLOADFLAG:0x800 (system folder only), delay-load it after "
                 "SetDefaultDllDirectories, or carry {D} in the archive.",
                 "{P} loads {D} from the folder it starts in first; that folder is shared by every carrier, "
                 "so a DLL of one of those names another one left there would be loaded instead: link it "
                 "with /DEPENDENTLOADFLAG:0x800 (system folder only), delay-load them after "
                 "SetDefaultDllDirectories, or carry them in the archive."),
        sentence(p, delayed,
                 "{P} delay-loads {D} and imports no SetDefaultDllDirectories, so it looks for {D} in the "
                 "folder it starts in first, where another carrier may have left one: call "
                 "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) before its first call into {D}, "
                 "or carry {D} in the archive.",
                 "{P} delay-loads {D} and imports no SetDefaultDllDirectories, so it looks for them in the "
                 "folder it starts in first, where another carrier may have left them: call "
                 "SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) before its first call into them, "
                 "or carry them in the archive."),
        sentence(p, own,
                 "{P}'s manifest names {D} as its own file, which Windows takes from the folder it starts "
                 "in, where another carrier may have left one: carry {D} in the archive.",
                 "{P}'s manifest names {D} as its own files, which Windows takes from the folder it starts "
                 "in, where another carrier may have left them: carry them in the archive."),
        sentence(p, late,
                 "{P} loads {D}, which the archive carries only after {P}: should writing it fail (a "
                 "read-only {D} another carrier left in the folder), the launcher still opens {P}, which "
                 "then loads the one left there: carry {D} before {P} (courier-pack pack puts it there).",
                 "{P} loads {D}, which the archive carries only after {P}: should writing one fail (a "
                 "read-only DLL of that name another carrier left in the folder), the launcher still opens "
                 "{P}, which then loads the one left there: carry them before {P} (courier-pack pack puts "
                 "them there)."),
    };
    for (const std::string& s : sentences)
        if (!s.empty()) out.warning += (out.warning.empty() ? "" : " ") + s;

    if (imports.has_load_flags && imports.dependent_load_flags != 0)
        out.notes.push_back(
            p + ": DependentLoadFlags " + flags_text(imports.dependent_load_flags) +
            (static_system_only
                 ? " keeps its static imports to the system folder (on Windows 10 version 1607 and later; "
                   "earlier Windows ignore it)"
                 : " still lets its static imports come from the folder it starts in"));
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
    constexpr size_t kMostProblemNotes = 8;
    for (size_t i = 0; i < out.problems.size() && i < kMostProblemNotes; ++i)
        out.notes.push_back(p + ": " + printable(out.problems[i]));
    if (out.problems.size() > kMostProblemNotes)
        out.notes.push_back(p + ": " + std::to_string(out.problems.size() - kMostProblemNotes) +
                            " more problems with its imports");
    return out;
}
