#include "tools/model/walk_result.h"

#include <utility>

const char* doubt_kind(Doubt doubt) {
    switch (doubt) {
    case Doubt::kLaunchNamesNoEntry: return "launch-names-no-entry";
    case Doubt::kLaunchFileRewritten: return "launch-file-rewritten";
    case Doubt::kNeedsShortTemp: return "needs-short-temp";
    case Doubt::kNameMayChange: return "name-may-change";
    case Doubt::kSameFileOnWindows: return "same-file-on-windows";
    case Doubt::kShortNameAlias: return "short-name-alias";
    case Doubt::kDllFromSharedFolder: return "dll-from-shared-folder";
    case Doubt::kInstallerDetection: return "installer-detection";
    }
    return "";
}

std::string WalkWarning::line() const {
    return count > 1 ? text() + " (" + std::to_string(count) + " times)" : text();
}

std::string WalkFinding::text() const {
    if (where.empty()) return reason;
    std::string text = where;
    if (has_offset) text += " at archive offset " + std::to_string(offset);
    return text + ": " + reason;
}

void WalkResult::add_warning(WalkWarning warning) {
    std::string key = std::to_string(int(warning.doubt)) + '\n' + warning.where + '\n' + warning.reason;
    const auto found = warning_at_.find(key);
    if (found != warning_at_.end()) {
        ++warnings[found->second].count;
        return;
    }
    size_t& kept = kept_of_kind_[warning.doubt];
    if (kept == kMostWarningsOfAKind) {
        ++unlisted_warnings[warning.doubt];
        return;
    }
    ++kept;
    warning_at_.emplace(std::move(key), warnings.size());
    warnings.push_back(std::move(warning));
}
