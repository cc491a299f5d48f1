#include "tools/reading/entry_checks.h"

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/carrier/names.h"
#include "tools/carrier/short_names.h"
#include "tools/system/text_encoding.h"

namespace {

// Pairs of names compared for short names at most: a real carrier needs a
// few thousand; a crafted one of a million of each would take hours. This
// many let 6,000 names of each kind be compared whole, in 2.4 s on a
// shared 2-core Xeon.
constexpr uint64_t kMostShortNameChecks = uint64_t(1) << 25;
// Entries of a group that Windows takes for one file named in its warning,
// besides the last.
constexpr size_t kGroupMembersNamed = 3;

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& parts) {
    std::string text;
    for (size_t k = 0; k < parts.size(); ++k)
        text += (k == 0 ? "" : k + 1 < parts.size() ? ", " : " and ") + parts[k];
    return text;
}

// The groups of entries Windows takes for one file, each in archive order,
// ordered by their last entries.
std::vector<std::vector<size_t>> same_file_groups(const std::vector<CarrierEntry>& entries) {
    std::unordered_map<std::string, std::vector<size_t>> groups;
    for (size_t i = 0; i < entries.size(); ++i) groups[windows_file_key(entries[i].name)].push_back(i);
    std::vector<std::vector<size_t>> shared;
    for (auto& group : groups)
        if (group.second.size() > 1) shared.push_back(std::move(group.second));
    std::sort(shared.begin(), shared.end(), [](const auto& a, const auto& b) { return a.back() < b.back(); });
    return shared;
}

}  // namespace

// The launcher writes each entry of a group over the one before, so the
// last one's bytes are what runs.
void check_same_files(WalkFindings& findings) {
    const std::vector<CarrierEntry>& entries = findings.carrier().entries;
    for (const std::vector<size_t>& group : same_file_groups(entries)) {
        // The first few and the last, which stays; the others counted.
        std::vector<std::string> names;
        bool ansi = false;
        const std::string ascii_key = windows_file_key(entries[group[0]].name, false);
        for (size_t k = 0; k < group.size(); ++k) {
            const std::string& name = entries[group[k]].name;
            if (k < kGroupMembersNamed || k + 1 == group.size())
                names.push_back("'" + printable(name) + "'");
            else if (k == kGroupMembersNamed)
                names.push_back(std::to_string(group.size() - kGroupMembersNamed - 1) + " more");
            ansi = ansi || windows_file_key(name, false) != ascii_key;
        }
        const CarrierEntry& last = entries[group.back()];
        findings.about(group.back() + 1, &last.name);
        findings.warn(Doubt::kSameFileOnWindows, "entry '" + printable(last.name) + "'",
                      findings.archive_start() + last.offset,
                      "entries " + listed(names) + " are one file on Windows" +
                          (ansi ? " (letters as code page " + std::to_string(kFoldedCodePage) + " has them)"
                                : "") +
                          "; the last one stays");
    }
}

// The launcher would write such an entry into the other's file.
void check_short_names(WalkFindings& findings) {
    const std::vector<CarrierEntry>& entries = findings.carrier().entries;
    const ShortNameTwins found = find_short_name_twins(
        entries.size(), [&](size_t i) -> const std::string& { return entries[i].name; }, kMostShortNameChecks);
    const std::string& launch = findings.carrier().launch_name;
    for (const ShortNameTwin& twin : found.twins) {
        const CarrierEntry& alias = entries[twin.short_name];
        const CarrierEntry& other = entries[twin.long_name];
        findings.about(twin.short_name + 1, &alias.name);
        // Written after the launch file, into it: the run opens nothing.
        const bool drops_launch = twin.short_name > twin.long_name && same_name(other.name, launch);
        findings.warn(Doubt::kShortNameAlias, "entry '" + printable(alias.name) + "'",
                      findings.archive_start() + alias.offset,
                      "may be the short (8.3) name Windows gives '" + printable(other.name) +
                          "' (the volume decides): then the two are one file, and the later one's "
                          "bytes stay under both names" +
                          (drops_launch ? std::string(", so the launcher opens nothing") : ""));
    }
    if (found.not_compared != 0) {
        WalkWarning warning;
        warning.doubt = Doubt::kShortNameAlias;
        warning.reason = std::to_string(found.not_compared) +
                         " entries named like short (8.3) names were not compared with every other "
                         "name: too many to compare";
        findings.result().add_warning(warning);
    }
}
