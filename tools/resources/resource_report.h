// What list and verify say of a carrier's resources: its icon's images,
// its version information and its manifest's execution level. Kept as
// data so that any output format can show it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/resources/version_info.h"

class ProgramFile;

struct IconReport {
    uint32_t width = 0, height = 0;
    uint16_t bit_count = 0;
    uint32_t bytes = 0;
    bool png = false;
};

struct ResourceReport {
    bool any = false;                  // the image has a resource directory
    std::vector<IconReport> icon;      // the first icon group's images
    size_t icon_groups = 0;
    bool has_version = false;
    VersionInfo version;
    bool has_manifest = false;
    std::string execution_level;       // "" when the manifest names none
    std::string manifest_problem;      // why Windows would refuse to start the carrier
    std::string manifest_changes;      // what in it changes what the launcher loads or how it runs
    std::vector<std::string> problems; // what could not be read
};

// Reads the resources of a carrier's image, where its headers point. A file
// that is no PE image, or one without resources, gives a report with `any`
// false.
ResourceReport read_resource_report(ProgramFile& carrier);
