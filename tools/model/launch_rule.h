// The launcher's launch rule over a carrier's entries in archive order, as
// it applies it after each one (launch_step): an entry read whole under the
// launch name takes the launch file, and a later one that Windows writes
// into the same file drops it. The walk follows it, and what it finds is the
// model's launch entry (Carrier::launch_entry), which the DLL check reads.
#pragma once

#include <cstddef>
#include <string>

#include "tools/model/carrier.h"

class LaunchRule {
public:
    explicit LaunchRule(const std::string& launch_name);

    // The next entry, read whole; listed_at: its index among the entries
    // kept, kNoEntry for those the carrier only counts (Carrier::keeps).
    void follow(const std::string& name, size_t listed_at);

    // Whether the launcher would open the launch file as things stand, and
    // the entry that last took that away.
    bool held() const { return held_; }
    const std::string& dropped_by() const { return dropped_by_; }
    // Of the entries kept, the first Windows writes into the launch file and
    // the last, whose bytes are the ones that run; kNoEntry for none.
    size_t first() const { return first_; }
    size_t last() const { return last_; }

private:
    const std::string& launch_;
    std::string key_;  // windows_file_key of the launch name
    bool held_ = false;
    std::string dropped_by_;
    size_t first_ = kNoEntry, last_ = kNoEntry;
};
