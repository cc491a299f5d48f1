#include "tools/reading/walk_findings.h"

void WalkFindings::about(size_t number, const std::string* name) {
    entry_ = number;
    named_ = name != nullptr;
    if (name) name_ = *name;
}

WalkFinding WalkFindings::finding(const std::string& where, uint64_t at, const std::string& reason) const {
    WalkFinding found;
    found.where = where;
    found.entry = entry_;
    found.named = named_;
    if (named_) found.name = name_;
    found.has_offset = true;
    found.offset = at - start_;
    found.reason = reason;
    return found;
}

bool WalkFindings::fail(const std::string& where, uint64_t at, const std::string& reason) {
    result_.failure = finding(where, at, reason);
    return false;
}

void WalkFindings::warn(Doubt doubt, const std::string& where, uint64_t at, const std::string& reason) {
    result_.add_warning(WalkWarning{finding(where, at, reason), doubt});
}

bool WalkFindings::fail_carrier(const std::string& reason) {
    result_.failure.reason = reason;
    return false;
}

bool WalkFindings::fail_trailer(const std::string& reason) {
    result_.failure.where = "trailer";
    result_.failure.reason = reason;
    return false;
}
