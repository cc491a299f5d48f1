#include "tools/packing/pack_inputs.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <iostream>
#include <map>

#include "tools/carrier/names.h"
#include "tools/carrier/short_names.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// A list line holds one path and a name: Windows' longest path is 32767
// UTF-16 units, at most three bytes each in UTF-8.
constexpr size_t kLongestListLine = 128 * 1024;
// The launcher pauses 0.1 s after each file: a million take more than a day.
constexpr size_t kMostListed = 1000000;
constexpr uint64_t kLargestList = uint64_t(64) << 20;

void add_file(const fs::path& path, std::vector<PackInput>& inputs) {
    inputs.push_back({path, path.filename().u8string(), 0, InputOrigin::kNamed, nullptr});
}

// What pack gathers, and what it leaves out.
struct Gathering {
    const std::vector<std::string>& excludes;
    std::vector<PackInput>& inputs;
    std::vector<std::string>& problems;

    // The file or folder's own name, or its path as given, matches.
    bool excluded(const fs::path& path) const {
        const std::string name = path_to_utf8(path.filename()), whole = path_to_utf8(path);
        for (const std::string& pattern : excludes)
            if (pattern_matches(pattern, name) || pattern_matches(pattern, whole)) return true;
        return false;
    }
};

// What to do about a sub-folder, which the launcher cannot create.
std::string sub_folder_problem(const fs::path& path) {
    const std::string shown = path_to_utf8(path);
    return shown + ": sub-folder: the launcher creates no sub-folders; leave it out (--exclude " +
           shell_word(shown) + "), pack its files flattened, each as PATH=NAME (" +
           shell_word(shown + "/FILE=FILE") +
           "), or carry them in one archive (a .zip) that the setup program unpacks";
}

// A folder gives its regular files, by name so that packs repeat exactly.
bool add_folder(const fs::path& folder, Gathering& gathering) {
    std::vector<std::string>& problems = gathering.problems;
    std::vector<fs::path> files;
    bool ok = true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        if (gathering.excluded(path)) continue;
        std::error_code status_ec;
        const fs::file_status status = fs::status(path, status_ec);
        if (fs::is_directory(status)) {
            problems.push_back(sub_folder_problem(path));
            ok = false;
        } else if (fs::is_regular_file(status)) {
            files.push_back(path);
        } else {
            problems.push_back(path_to_utf8(path) + ": not a regular file");
            ok = false;
        }
    }
    if (ec) {
        problems.push_back(path_to_utf8(folder) + ": " + ec.message());
        return false;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        return a.filename().u8string() < b.filename().u8string();
    });
    for (const fs::path& path : files) {
        add_file(path, gathering.inputs);
        gathering.inputs.back().origin = InputOrigin::kFolder;
    }
    return ok;
}

// One argument: a file, a folder, or PATH=NAME, the file at PATH as the
// entry NAME. An argument that names a file or folder as it is is taken
// whole; otherwise its last '=' splits it, so a path may hold '=' and a new
// name may not.
bool add_argument(const std::string& arg, Gathering& gathering) {
    std::vector<PackInput>& inputs = gathering.inputs;
    std::vector<std::string>& problems = gathering.problems;
    std::string shown = arg;
    fs::path path = path_from_utf8(arg);
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    const size_t split = arg.rfind('=');
    const bool renamed = status.type() == fs::file_type::not_found && split != std::string::npos;
    if (renamed) {
        shown = arg.substr(0, split);
        path = path_from_utf8(shown);
        status = fs::status(path, ec);
    }
    // A PATH=NAME names its file: no pattern leaves it out.
    if (!renamed && gathering.excluded(path)) return true;
    if (fs::is_directory(status) && renamed) {
        problems.push_back(arg + ": " + shown + " is a folder: PATH=NAME names one file");
        return false;
    }
    if (fs::is_directory(status)) return add_folder(path, gathering);
    if (fs::is_regular_file(status)) {
        if (renamed) inputs.push_back({path, arg.substr(split + 1), 0, InputOrigin::kRenamed, nullptr});
        else add_file(path, inputs);
        return true;
    }
    problems.push_back(shown + ": " +
                       (status.type() == fs::file_type::not_found ? "no such file or folder"
                        : ec                                      ? ec.message()
                                                                  : "not a regular file or folder"));
    return false;
}

// The folder a path lies in, as the file system resolves it.
fs::path resolved_folder(const fs::path& path) {
    std::error_code ec;
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const fs::path resolved = fs::canonical(folder, ec);
    return ec ? folder : resolved;
}

// A file given as PATH=NAME that a folder gives too is packed once, as
// NAME, where the folder has it: the way to rename one file of a folder.
void renamed_files_replace_folders(std::vector<PackInput>& inputs) {
    std::map<std::string, std::vector<size_t>> renamed;  // PATH=NAME inputs, by PATH's file name
    for (size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i].origin == InputOrigin::kRenamed)
            renamed[path_to_utf8(inputs[i].path.filename())].push_back(i);
    if (renamed.empty()) return;
    std::vector<bool> taken(inputs.size(), false);
    for (PackInput& input : inputs) {
        if (input.origin != InputOrigin::kFolder) continue;
        const auto same_name = renamed.find(path_to_utf8(input.path.filename()));
        if (same_name == renamed.end()) continue;
        for (const size_t i : same_name->second) {
            if (taken[i] || resolved_folder(inputs[i].path) != resolved_folder(input.path)) continue;
            input = inputs[i];
            taken[i] = true;
            break;
        }
    }
    size_t kept = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (taken[i]) continue;
        if (kept != i) inputs[kept] = std::move(inputs[i]);
        ++kept;
    }
    inputs.resize(kept);
}

}  // namespace

bool read_input_list(const std::string& list, std::vector<std::string>& args,
                     std::vector<std::string>& problems) {
    std::ifstream file;
    if (list != "-") {
        errno = 0;
        file.open(path_from_utf8(list));
        if (!file) {
            problems.push_back(list + ": cannot open the list of inputs: " + system_reason());
            return false;
        }
    }
    std::istream& in = list == "-" ? std::cin : file;
    std::vector<std::string> listed;
    std::vector<char> line(kLongestListLine + 1);  // and the NUL getline stores
    uint64_t size = 0;
    size_t number = 1;
    for (; in.getline(line.data(), std::streamsize(line.size())); ++number) {
        const size_t length = size_t(in.gcount()) - (in.eof() ? 0 : 1);  // less the line break
        size += length + 1;
        std::string text(line.data(), length);
        if (number == 1 && text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);  // Notepad's BOM
        if (!text.empty() && text.back() == '\r') text.pop_back();  // written on Windows
        if (!text.empty()) listed.push_back(text);
        if (size > kLargestList || listed.size() > kMostListed) {
            problems.push_back(list + ": more than " + std::to_string(kLargestList >> 20) + " MiB or " +
                               std::to_string(kMostListed) +
                               " inputs: no list of inputs is that long (the launcher would "
                               "take more than a day over a million files)");
            return false;
        }
    }
    if (in.fail() && !in.eof() && !in.bad()) {
        problems.push_back(list + ": line " + std::to_string(number) + " is longer than " +
                           std::to_string(kLongestListLine / 1024) + " KiB: no path is that long");
        return false;
    }
    if (in.bad()) {
        problems.push_back(list + ": cannot read the list of inputs: " + system_reason());
        return false;
    }
    args.insert(args.end(), listed.begin(), listed.end());
    return true;
}

bool gather_inputs(const std::vector<std::string>& args, const std::vector<std::string>& excludes,
                   std::vector<PackInput>& inputs, std::vector<std::string>& problems) {
    Gathering gathering{excludes, inputs, problems};
    bool ok = true;
    for (const std::string& arg : args) ok = add_argument(arg, gathering) && ok;
    renamed_files_replace_folders(inputs);
    if (ok && inputs.empty() && !args.empty()) {
        std::string folders;
        for (const std::string& arg : args) folders += (folders.empty() ? "" : ", ") + arg;
        problems.push_back("no files to pack: " + folders +
                           (args.size() == 1 ? " is an empty folder" : " are empty folders"));
        return false;
    }
    return ok;
}

// Names the launcher would refuse, or might unpack as another name, are
// refused; so is one too long for any %TEMP%, and one too long for the
// %TEMP% assumed draws a warning.
void check_inputs(std::vector<PackInput>& inputs, size_t launch, int temp_length,
                  std::vector<std::string>& problems) {
    std::map<std::string, const PackInput*> seen;  // by ascii_file_key
    const PackInput* const program = launch < inputs.size() ? &inputs[launch] : nullptr;
    for (PackInput& input : inputs) {
        const std::string where = path_to_utf8(input.path);
        std::string problem = name_problem(input.name);
        if (problem.empty()) problem = name_doubt(input.name);
        if (problem.empty()) problem = length_problem(input.name.size());
        if (!problem.empty()) {
            problems.push_back(where + ": entry name '" + printable(input.name) + "': " + problem +
                               "; rename it: " + shell_word(where + "=" + suggested_name(input.name)) +
                               (input.origin == InputOrigin::kRenamed ? " instead" : " as an input"));
        } else if (const std::string doubt = length_doubt(input.name.size(), temp_length);
                   !doubt.empty()) {
            report_warning(where + ": entry name of " + doubt);
        }
        // ASCII letters alone make the key, no dots or spaces dropped: names
        // Windows would take for one file in other ways (a trailing dot or
        // space, a letter beyond ASCII) are refused as doubts above.
        const auto [other, fresh] = seen.emplace(ascii_file_key(input.name), &input);
        if (!fresh) {
            const PackInput& first = *other->second;
            problems.push_back(where + ": entry name '" + printable(input.name) +
                               (first.name == input.name ? "' is also the name of "
                                                         : "' differs only in letter case from ") +
                               path_to_utf8(first.path) + " (Windows ignores case)");
        }
        std::error_code ec;
        input.size = fs::file_size(input.path, ec);
        if (ec) {
            problems.push_back(where + ": " + ec.message());
        } else if (input.size > kLargestStoredSize) {
            problems.push_back(where + ": " + std::to_string(input.size) +
                               " bytes: files of 4 GiB or more cannot be stored");
        } else {
            errno = 0;
            auto probe = std::make_shared<InputFile>(input.path);
            if (!probe->is_open()) problems.push_back(where + ": cannot open for reading: " + probe->error());
            else if (&input == program)
                input.file = std::move(probe);
        }
    }
    // A name of the 8.3 form that Windows may have given another entry as
    // its short name lands in that entry's file.
    const ShortNameTwins twins = find_short_name_twins(
        inputs.size(), [&](size_t i) -> const std::string& { return inputs[i].name; });
    for (const ShortNameTwin& twin : twins.twins) {
        const PackInput& alias = inputs[twin.short_name];
        const PackInput& other = inputs[twin.long_name];
        problems.push_back(path_to_utf8(alias.path) + ": entry name '" + printable(alias.name) +
                           "' may be the short (8.3) name Windows gives '" + printable(other.name) +
                           "' (" + path_to_utf8(other.path) +
                           "): on Windows the two can be one file; name it otherwise");
    }
}

size_t find_launch_input(const std::string& launch, const std::vector<PackInput>& inputs) {
    if (launch.empty()) return kNoEntry;  // the launcher opens the folder
    for (size_t i = 0; i < inputs.size(); ++i)
        if (same_name(inputs[i].name, launch)) return i;
    return kNoEntry;
}

void check_launch_name(const std::string& launch_name, size_t launch, const std::vector<PackInput>& inputs,
                       std::vector<std::string>& problems) {
    if (launch_name.empty() || launch != kNoEntry) return;
    std::string names;
    for (const PackInput& input : inputs) names += (names.empty() ? "" : ", ") + printable(input.name);
    problems.push_back("--launch '" + printable(launch_name) + "': no entry has that name (entries: " +
                       names + ")");
}

