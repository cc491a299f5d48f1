// list --json and verify --json: one JSON document that carries everything
// the text output does, for scripts (its shape is in docs/json.md).
#pragma once

#include <string>

#include "tools/model/walk_result.h"

// The document's "format_version". Fields may be added within a version;
// one removed, renamed or given another type or meaning takes the next.
constexpr int kJsonFormatVersion = 1;

// ok and failure: the command's verdict, which the exit code also gives.
std::string json_report(const std::string& command, const std::string& carrier,
                        const WalkResult& walk, bool ok, const WalkFinding& failure);
