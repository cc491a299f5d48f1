// The launcher's steps over a carrier before its first entry: the file
// must be a program, pass the integrity check the launcher makes before
// anything else, and lead by its trailer to the archive.
#pragma once

#include "tools/carrier/program_file.h"
#include "tools/reading/walk_findings.h"

// The image's size, the signature and the integrity record go into the
// model, the archive's offset into `findings`. False where the launcher's
// run fails, the failure recorded.
bool find_archive_start(ProgramFile& file, WalkFindings& findings);
