#include "tools/model/launch_rule.h"

#include "archive/format_rules.h"
#include "tools/carrier/names.h"

LaunchRule::LaunchRule(const std::string& launch_name)
    : launch_(launch_name), key_(windows_file_key(launch_name)) {}

void LaunchRule::follow(const std::string& name, size_t listed_at) {
    const bool same_file = windows_file_key(name) == key_;
    if (same_file && listed_at != kNoEntry) {
        if (first_ == kNoEntry) first_ = listed_at;
        last_ = listed_at;
    }
    switch (launch_step(same_name(name, launch_), held_ && same_file, true)) {
    case LaunchStep::kTake:
        held_ = true;
        break;
    case LaunchStep::kDrop:
        held_ = false;
        dropped_by_ = name;
        break;
    case LaunchStep::kKeep:
        break;
    }
}
