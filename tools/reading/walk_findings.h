// How the walk's parts put what they find into its result: each finding is
// about a place, the entry being read (or the launch name) and a file
// offset, given as an archive offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/model/walk_result.h"

class WalkFindings {
public:
    explicit WalkFindings(WalkResult& result) : result_(result) {}

    WalkResult& result() { return result_; }
    Carrier& carrier() { return result_.carrier; }
    // File offset of the archive, once the trailer led to it.
    uint64_t archive_start() const { return start_; }
    void set_archive_start(uint64_t start) { start_ = start; }

    // What the findings after this are about: entry `number` from 1, or 0
    // for none, named `name` when one is given.
    void about(size_t number, const std::string* name);

    // `at`: a file offset. The failures return false, for the caller to
    // return in turn.
    bool fail(const std::string& where, uint64_t at, const std::string& reason);
    void warn(Doubt doubt, const std::string& where, uint64_t at, const std::string& reason);
    bool fail_carrier(const std::string& reason);
    bool fail_trailer(const std::string& reason);

private:
    WalkFinding finding(const std::string& where, uint64_t at, const std::string& reason) const;

    WalkResult& result_;
    uint64_t start_ = 0;
    size_t entry_ = 0;
    bool named_ = false;
    std::string name_;
};
