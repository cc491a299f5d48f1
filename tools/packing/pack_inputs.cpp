#include "tools/packing/pack_inputs.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <map>

#include "tools/carrier/names.h"
#include "tools/system/console.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

void add_file(const fs::path& path, std::vector<PackInput>& inputs) {
    inputs.push_back({path, path.filename().u8string(), 0});
}

// A folder gives its regular files, by name so that packs repeat exactly.
bool add_folder(const fs::path& folder, std::vector<PackInput>& inputs,
                std::vector<std::string>& problems) {
    std::vector<fs::path> files;
    bool ok = true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path path = it->path();
        std::error_code status_ec;
        const fs::file_status status = fs::status(path, status_ec);
        if (fs::is_directory(status)) {
            problems.push_back(path_to_utf8(path) + ": sub-folder: the launcher creates no sub-folders");
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
    for (const fs::path& path : files) add_file(path, inputs);
    return ok;
}

}  // namespace

bool gather_inputs(const std::vector<std::string>& args, std::vector<PackInput>& inputs,
                   std::vector<std::string>& problems) {
    bool ok = true;
    for (const std::string& arg : args) {
        const fs::path path = path_from_utf8(arg);
        std::error_code ec;
        const fs::file_status status = fs::status(path, ec);
        if (fs::is_directory(status)) {
            ok = add_folder(path, inputs, problems) && ok;
        } else if (fs::is_regular_file(status)) {
            add_file(path, inputs);
        } else {
            problems.push_back(arg + ": " +
                               (status.type() == fs::file_type::not_found ? "no such file or folder"
                                : ec                                      ? ec.message()
                                                                          : "not a regular file or folder"));
            ok = false;
        }
    }
    return ok;
}

// Names the launcher would refuse, or might unpack as another name, are
// refused; so is one too long for any %TEMP%, and one too long for the
// %TEMP% assumed draws a warning.
void check_inputs(std::vector<PackInput>& inputs, int temp_length, std::vector<std::string>& problems) {
    std::map<std::string, const PackInput*> seen;  // by lower-case name
    for (PackInput& input : inputs) {
        const std::string where = path_to_utf8(input.path);
        std::string problem = name_problem(input.name);
        if (problem.empty()) problem = name_doubt(input.name);
        if (problem.empty()) problem = length_problem(input.name.size());
        if (!problem.empty()) {
            problems.push_back(where + ": entry name '" + printable(input.name) + "': " + problem);
        } else if (const std::string doubt = length_doubt(input.name.size(), temp_length);
                   !doubt.empty()) {
            report_warning(where + ": entry name of " + doubt);
        }
        const auto [other, fresh] = seen.emplace(lower_ascii(input.name), &input);
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
            std::ifstream probe(input.path, std::ios::binary);
            if (!probe) problems.push_back(where + ": cannot open for reading: " + system_reason());
        }
    }
}

void check_launch_name(const std::string& launch, const std::vector<PackInput>& inputs,
                       std::vector<std::string>& problems) {
    std::string names;
    for (const PackInput& input : inputs) {
        if (same_name(input.name, launch)) return;
        names += (names.empty() ? "" : ", ") + printable(input.name);
    }
    problems.push_back("--launch '" + printable(launch) + "': no entry has that name (entries: " +
                       names + ")");
}

