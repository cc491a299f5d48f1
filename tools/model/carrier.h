// A carrier as courier-pack knows it: the launcher's image with its
// resources and signature, the integrity record, and the archive's launch
// name and entries. pack writes one; the carrier walk reads one back for
// list, verify and extract; the text and JSON reports render it.
//
//   [image][integrity record][archive][padding][trailer][certificate table]
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/carrier_integrity.h"
#include "tools/dlls/dll_exposure.h"
#include "tools/identity/launcher_identity.h"
#include "tools/resources/resource_report.h"

struct CarrierEntry {
    std::string name;          // as archived: bytes in the user's ANSI code page
    uint32_t stored_size = 0;  // bytes of its chunk records
    uint64_t decoded_size = 0;
    uint64_t offset = 0;       // archive offset of its name
};

// A real carrier holds far fewer: the launcher pauses 0.1 s after each file.
constexpr size_t kMostListedEntries = 1000000;
// And what the kept entries may take: room for a million short names, for
// fewer long ones, so that a carrier of long names stays in bounds too.
constexpr size_t kMostListedBytes = size_t(64) << 20;
// An index of no entry.
constexpr size_t kNoEntry = size_t(-1);

struct Carrier {
    // The image: the launcher's program and its resources.
    uint64_t image_size = 0;
    ResourceReport resources;
    LauncherIdentity launcher;  // whether it is the launcher this tool was built with
    // What signing appended after packing: 0 when unsigned.
    uint32_t cert_offset = 0, cert_size = 0;
    Integrity integrity = Integrity::kNoRecord;
    IntegrityRecord record;      // carrier_length is 0 unless one was read whole
    // The archive.
    uint64_t archive_start = 0;  // file offset, once the trailer is read
    bool launch_read = false;
    std::string launch_name;
    bool launch_opens = false;   // it names an entry, or (empty) the folder
    // Of `entries`, those Windows writes into the launch file (the walk's
    // LaunchRule): the first, and the last, whose bytes the launcher runs;
    // kNoEntry for none.
    size_t launch_first = kNoEntry, launch_entry = kNoEntry;
    std::vector<CarrierEntry> entries;  // the first read whole, up to kMostListedEntries and kMostListedBytes
    size_t listed_bytes = 0;  // what `entries` take
    LaunchDlls launch_dlls;  // verify: the DLLs the launch program loads, and from where
    // Entries read whole past those: checked and counted, not kept, so a
    // crafted carrier of millions of entries stays in bounds.
    struct {
        uint64_t count = 0, stored = 0, decoded = 0;
    } unlisted;

    // Where the image ends: at the integrity record, else at the archive.
    uint64_t image_end() const { return image_size != 0 ? image_size : archive_start; }
    uint64_t entry_count() const { return entries.size() + unlisted.count; }
    uint64_t stored_total() const;
    uint64_t decoded_total() const;
    // Whether add_entry keeps `entry` (the next), or only counts it.
    bool keeps(const CarrierEntry& entry) const;
    void add_entry(const CarrierEntry& entry);
};
