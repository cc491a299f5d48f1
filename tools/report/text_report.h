// What list and verify print for people: the notes a carrier gives of
// itself, its resources, the table of entries, and verify's last line.
// Names from the carrier are shown printable, never raw.
#pragma once

#include <string>

#include "tools/model/walk_result.h"

// The notes ("no integrity record", a signature) and, with -v, the record.
std::string notes_text(const WalkResult& result);
// list: the notes, the resources, the launch name and the table of entries.
std::string list_text(const WalkResult& result);
// verify's report of a carrier that passed: resources, entries with -v, and
// "<path>: ok, N entries, N bytes unpacked, launches '<name>'".
std::string verified_text(const std::string& path, const WalkResult& result);

// Past this many files the launcher's pauses alone take more than a few
// seconds: pack warns of them and verify says how long they take.
constexpr uint64_t kPausesWorthSaying = 50;
// "N files: the launcher pauses 0.1 s after each and 0.5 s after the
// launch, S s in all"
std::string pauses_text(uint64_t files);

// pack's lines: one for each entry with -v, and the summary.
std::string packed_entry_text(const CarrierEntry& entry);
std::string packed_text(const std::string& output, const Carrier& carrier);
