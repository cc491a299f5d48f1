#include "tools/resources/resource_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/system/le_bytes.h"
#include "tools/resources/manifest.h"
#include "tools/carrier/program_file.h"
#include "tools/resources/pe_resources.h"
#include "tools/system/text_encoding.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

void read_icon_group(const uint8_t* group, size_t size, const std::vector<FoundResource>& found,
                     const std::vector<uint8_t>& section, ResourceReport& report) {
    if (size < 6 || le16(group + 2) != 1 || size - 6 < size_t(le16(group + 4)) * 14) {
        report.problems.push_back("icon group is damaged");
        return;
    }
    for (size_t i = 0; i < le16(group + 4); ++i) {
        const uint8_t* entry = group + 6 + 14 * i;
        IconReport icon;
        icon.width = entry[0] ? entry[0] : 256;
        icon.height = entry[1] ? entry[1] : 256;
        icon.bit_count = uint16_t(le16(entry + 6));
        icon.bytes = le32(entry + 8);
        const uint32_t id = le16(entry + 12);
        const auto image = std::find_if(found.begin(), found.end(), [id](const FoundResource& r) {
            return r.type == kIconType && r.id == id;
        });
        if (image == found.end()) {
            report.problems.push_back("icon group names image " + std::to_string(id) +
                                      ", which is missing");
            continue;
        }
        icon.png = image->size >= sizeof kPngSignature &&
                   std::memcmp(&section[image->offset], kPngSignature, sizeof kPngSignature) == 0;
        report.icon.push_back(icon);
    }
}

void read_resources(const std::vector<uint8_t>& section, const std::vector<FoundResource>& found,
                    ResourceReport& report) {
    for (const FoundResource& r : found) {
        const uint8_t* data = &section[r.offset];
        if (r.type == kGroupIconType && report.icon_groups++ == 0) {
            read_icon_group(data, r.size, found, section, report);
        } else if (r.type == kVersionType && !report.has_version) {
            report.has_version = true;
            const std::string problem = read_version_resource(data, r.size, report.version);
            if (!problem.empty()) report.problems.push_back(problem);
        } else if (r.type == kManifestType && !report.has_manifest) {
            report.has_manifest = true;
            const std::string text(data, data + r.size);
            report.manifest_problem = check_manifest(text, report.execution_level);
            if (report.manifest_problem.empty()) report.manifest_changes = launcher_manifest_problem(text);
        }
    }
}

}  // namespace

ResourceReport read_resource_report(ProgramFile& file) {
    ResourceReport report;
    const PeHeaders* headers = file.headers();
    if (!headers) return report;
    const auto [rva, size] = headers->directory(kResourceDirectory, file.head());
    if (rva == 0 || size == 0) return report;
    report.any = true;
    const PeSection* section = headers->section_at(rva);
    if (!section) {
        report.problems.push_back("resource directory lies in no section");
        return report;
    }
    std::vector<uint8_t> bytes(std::min(section->raw_size, kLargestResourceSection));
    if (!file.file().read_at(section->raw_offset, bytes.data(), bytes.size())) {
        report.problems.push_back("resource section cut short");
        return report;
    }
    std::vector<FoundResource> found;
    const std::string problem = read_resource_section(bytes.data(), bytes.size(), section->rva, rva, found);
    if (!problem.empty()) report.problems.push_back(problem);
    read_resources(bytes, found, report);
    return report;
}
