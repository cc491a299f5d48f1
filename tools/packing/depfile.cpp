#include "tools/packing/depfile.h"

#include "tools/system/output_file.h"
#include "tools/system/text_encoding.h"

namespace fs = std::filesystem;

namespace {

// As make and Ninja read a rule: '\ ' is a space, '\#' a '#', '$$' a '$'. A
// line break cannot be written at all.
bool escape(const std::string& path, std::string& rule) {
    for (const char c : path) {
        if (c == '\n' || c == '\r') return false;
        if (c == ' ' || c == '#') rule += '\\';
        if (c == '$') rule += '$';
        rule += c;
    }
    return true;
}

// Absolute, so the rule holds whichever folder the build tool reads it
// from; forward slashes, which make and Ninja take on Windows too.
std::string absolute_path(const fs::path& path) {
    std::error_code ec;
    const fs::path full = fs::absolute(path, ec);
    return (ec ? path : full).lexically_normal().generic_u8string();
}

}  // namespace

bool write_depfile(const PackRequest& request, const fs::path& stub,
                   const std::vector<std::string>& args, const std::vector<PackInput>& inputs,
                   std::vector<std::string>& problems) {
    std::vector<std::string> read;
    if (!stub.empty()) read.push_back(absolute_path(stub));
    for (const std::string* file : {&request.resources.icon, &request.resources.manifest})
        if (!file->empty()) read.push_back(absolute_path(path_from_utf8(*file)));
    if (!request.files_from.empty() && request.files_from != "-")
        read.push_back(absolute_path(path_from_utf8(request.files_from)));
    for (const std::string& arg : args) {
        std::error_code ec;
        if (fs::is_directory(path_from_utf8(arg), ec)) read.push_back(absolute_path(path_from_utf8(arg)));
    }
    for (const PackInput& input : inputs) read.push_back(absolute_path(input.path));

    std::string rule;
    for (size_t i = 0; i <= read.size(); ++i) {
        const std::string& path = i == 0 ? request.output : read[i - 1];
        if (!escape(path, rule)) {
            problems.push_back(request.depfile + ": cannot name " + path +
                               " in a dependency file: its path holds a line break");
            return false;
        }
        rule += i == 0 ? ":" : "";
        rule += i < read.size() ? " \\\n  " : "\n";
    }
    OutputFile file(path_from_utf8(request.depfile));
    file.write(rule.data(), rule.size());
    if (file.commit()) return true;
    problems.push_back(request.depfile + ": " + file.error());
    return false;
}
