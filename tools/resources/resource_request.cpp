#include "tools/resources/resource_request.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>

#include "archive/carrier_integrity.h"
#include "tools/resources/ico_file.h"
#include "tools/system/le_bytes.h"
#include "tools/resources/manifest.h"
#include "tools/carrier/names.h"
#include "tools/carrier/pe_image.h"
#include "tools/resources/pe_resources.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/system/text_encoding.h"
#include "tools/resources/version_info.h"

namespace {

constexpr uint64_t kLargestInput = 16u << 20;  // far beyond any icon or manifest
constexpr uint16_t kGroupId = 1, kVersionId = 1;
constexpr uint16_t kManifestId = 1;  // the manifest Windows reads when it starts a program

bool read_input(const std::string& option, const std::string& path, std::vector<uint8_t>& bytes,
                std::vector<std::string>& problems) {
    const std::string where = option + " " + path + ": ";
    std::error_code ec;
    const auto status = std::filesystem::status(path_from_utf8(path), ec);
    if (!ec && !std::filesystem::is_regular_file(status)) {
        problems.push_back(where + (std::filesystem::is_directory(status) ? "a folder" : "not a regular file"));
        return false;
    }
    const uint64_t size = std::filesystem::file_size(path_from_utf8(path), ec);
    if (ec) {
        problems.push_back(where + ec.message());
        return false;
    }
    if (size > kLargestInput) {
        problems.push_back(where + std::to_string(size) + " bytes: more than 16 MiB");
        return false;
    }
    errno = 0;
    InputFile in(path_from_utf8(path));
    bytes.resize(size_t(size));
    if (!in.is_open() || !in.read_at(0, bytes.data(), bytes.size())) {
        problems.push_back(where + "cannot read: " + system_reason());
        return false;
    }
    return true;
}

// The icon group (GRPICONDIR) and one icon resource per image.
void add_icon(const std::string& path, std::vector<Resource>& resources,
              std::vector<std::string>& problems) {
    std::vector<uint8_t> file;
    if (!read_input("--icon", path, file, problems)) return;
    std::vector<IconImage> images;
    const std::string problem = read_ico(file, images);
    if (!problem.empty()) {
        problems.push_back("--icon " + path + ": " + problem);
        return;
    }
    Resource group{kGroupIconType, kGroupId, kEnglishUs, {}};
    add_le16(group.data, 0);
    add_le16(group.data, 1);
    add_le16(group.data, uint32_t(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        IconImage& image = images[i];
        const uint16_t id = uint16_t(i + 1);
        group.data.push_back(uint8_t(image.width));  // 256 is written 0
        group.data.push_back(uint8_t(image.height));
        group.data.push_back(image.colors);
        group.data.push_back(0);
        add_le16(group.data, image.planes);
        add_le16(group.data, image.bit_count);
        add_le32(group.data, uint32_t(image.data.size()));
        add_le16(group.data, id);
        resources.push_back({kIconType, id, kEnglishUs, std::move(images[i].data)});
    }
    resources.push_back(std::move(group));
}

void add_version(const ResourceRequest& request, std::vector<Resource>& resources,
                 std::vector<std::string>& problems) {
    VersionInfo info;
    info.has_file = parse_version_number(request.file_version, info.file);
    info.has_product = parse_version_number(request.product_version, info.product);
    if (!info.has_file && !request.file_version.empty())
        problems.push_back("--file-version " + version_number_problem(request.file_version));
    if (!info.has_product && !request.product_version.empty())
        problems.push_back("--product-version " + version_number_problem(request.product_version));
    // Each key once, without letter case, as Windows looks them up; a
    // repeated key is named once however often it comes.
    std::map<std::string, bool> seen;  // key in lower case: already reported
    for (const std::string& pair : request.version_strings) {
        const size_t equals = pair.find('=');
        const std::string key = pair.substr(0, equals);
        const auto [at, first] = seen.emplace(lower_ascii(key), false);
        if (!first && !at->second) problems.push_back("--version-string " + key + ": given twice");
        at->second = !first;
        if (first) info.strings.push_back({key, pair.substr(equals + 1)});
    }
    Resource version{kVersionType, kVersionId, kEnglishUs, {}};
    const std::string problem = build_version_resource(info, version.data);
    if (!problem.empty()) problems.push_back(problem);
    resources.push_back(std::move(version));
}

// The execution level the manifest names ("" when none) is left in `level`.
void add_manifest(const ResourceRequest& request, std::vector<Resource>& resources,
                  std::vector<std::string>& problems, std::string& level) {
    std::string text = execution_level_manifest(request.execution_level);
    level = request.execution_level;
    if (!request.manifest.empty()) {
        std::vector<uint8_t> file;
        if (!read_input("--manifest", request.manifest, file, problems)) return;
        text.assign(file.begin(), file.end());
        const std::string problem = check_manifest(text, level);
        if (!problem.empty()) {
            problems.push_back("--manifest " + request.manifest + ": " + problem +
                               " (Windows would refuse to start the carrier)");
            return;
        }
        const std::string changes = launcher_manifest_problem(text);
        if (!changes.empty()) {
            problems.push_back("--manifest " + request.manifest + ": " + changes +
                               " (the carrier would not be the launcher it was built as)");
            return;
        }
    }
    resources.push_back({kManifestType, kManifestId, kEnglishUs, {text.begin(), text.end()}});
}

// Never a section that list and verify cannot read back.
std::string read_back_problem(const std::vector<uint8_t>& section, uint32_t rva, size_t count) {
    if (section.size() > kLargestResourceSection)
        return std::to_string(section.size()) + " bytes: list and verify read at most " +
               std::to_string(kLargestResourceSection >> 20) + " MiB";
    std::vector<FoundResource> found;
    const std::string problem = read_resource_section(section.data(), section.size(), rva, rva, found);
    if (!problem.empty() || found.size() != count)
        return "the section made cannot be read back (" +
               (problem.empty() ? std::to_string(found.size()) + " of " + std::to_string(count) + " found" : problem) + ")";
    return "";
}

}  // namespace

const char* const kExecutionLevels[3] = {"asInvoker", "highestAvailable", "requireAdministrator"};

bool ResourceRequest::any() const {
    return !icon.empty() || !file_version.empty() || !product_version.empty() ||
           !version_strings.empty() || !execution_level.empty() || !manifest.empty();
}

std::string version_number_problem(const std::string& argument) {
    VersionNumber ignored;
    return parse_version_number(argument, ignored)
               ? ""
               : "'" + argument + "' is not A.B.C.D with each part 0 to 65535";
}

std::string version_string_problem(const std::string& argument) {
    const std::string& text = argument;
    const size_t equals = text.find('=');
    if (equals == std::string::npos || equals == 0) return "'" + argument + "' is not KEY=VALUE";
    if (text.find('\\') < equals) return "key '" + text.substr(0, equals) + "' holds a '\\'";
    std::u16string ignored;
    if (!utf8_to_utf16(text, ignored)) return "'" + printable(argument) + "' is not UTF-8";
    return "";
}

std::string add_resources(const ResourceRequest& request, std::vector<uint8_t>* stub,
                          std::vector<std::string>& problems) {
    std::string level;
    if (!request.any()) return level;
    const size_t before = problems.size();
    std::vector<Resource> resources;
    if (!request.icon.empty()) add_icon(request.icon, resources, problems);
    if (!request.file_version.empty() || !request.product_version.empty() ||
        !request.version_strings.empty())
        add_version(request, resources, problems);
    if (!request.execution_level.empty() || !request.manifest.empty())
        add_manifest(request, resources, problems, level);
    if (!stub || problems.size() != before) return level;

    std::vector<uint8_t> image = *stub;
    std::string unreadable;
    const std::string problem =
        add_section(image, kResourceSectionName, kResourceSectionFlags, kResourceDirectory, kHeaderProbe,
                    [&](uint32_t rva) {
                        std::vector<uint8_t> section = build_resource_section(resources, rva);
                        unreadable = read_back_problem(section, rva, resources.size());
                        return section;
                    });
    if (!unreadable.empty()) {
        problems.push_back("resources: " + unreadable);
    } else if (!problem.empty()) {
        problems.push_back("stub: cannot add the resources: " + problem);
    } else if (image.size() > kLargestImageSize) {
        problems.push_back("stub: with the resources its image passes 2 GiB");
    } else {
        stub->swap(image);
    }
    return level;
}
