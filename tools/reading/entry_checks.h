// What the walk says of the entries once it has read them all: names that
// Windows takes for one file, by their letters or as another's short (8.3)
// name. Warnings only: the launcher's run gets through.
#pragma once

#include "tools/reading/walk_findings.h"

// One warning a group of entries Windows takes for one file, at its last.
void check_same_files(WalkFindings& findings);
// One warning an entry that may be another's short name, at the short name.
void check_short_names(WalkFindings& findings);
