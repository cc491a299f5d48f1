// What list, verify and extract learn of a carrier: the model, the notes,
// the warnings and where the walk stopped. The walk fills it; the DLL check
// adds to it; the reports only read it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/model/carrier.h"

// A place in the carrier and what is wrong, or doubtful, there.
struct WalkFinding {
    std::string where;        // "entry 'x'", "trailer", ...; "" for the whole carrier
    size_t entry = 0;         // the entry's number from 1, 0 when not an entry's
    bool named = false;       // name holds the entry's or the launch name's bytes
    std::string name;
    bool has_offset = false;  // the trailer has no archive offset yet
    uint64_t offset = 0;      // archive offset of the field at fault
    std::string reason;

    // "<where> at archive offset <n>: <reason>", or the reason alone
    std::string text() const;
};

// What the launcher's run gets through, but perhaps not as the packer meant.
enum class Doubt {
    kLaunchNamesNoEntry,  // the run opens nothing
    kLaunchFileRewritten, // a later entry rewrites the launch file: the run opens nothing
    kNeedsShortTemp,      // the name fits only a %TEMP% shorter than the one assumed
    kNameMayChange,       // outside ASCII (the code page decides), or a trailing dot or space
    kSameFileOnWindows,   // entries Windows takes for one file: the last one's bytes stay
    kShortNameAlias,      // an entry named as another's short (8.3) name may be: the same
    kDllFromSharedFolder, // the launch program loads a DLL another carrier could leave in the folder
    kInstallerDetection,  // named like an installer, no execution level: Windows asks for elevation
};

// The name a kind of doubt has in --json ("same-file-on-windows").
const char* doubt_kind(Doubt doubt);

struct WalkWarning : WalkFinding {
    Doubt doubt;
    uint64_t count = 1;  // how often it was found alike; the place given is the first

    // text(), and how often when more than once
    std::string line() const;
};

// Warnings of one kind kept whole at most: the rest are only counted, so a
// crafted carrier of a million entries alike stays small.
constexpr size_t kMostWarningsOfAKind = 1000;

// The carrier as far as it was read, and the verdict on it.
struct WalkResult {
    Carrier carrier;
    bool ok = false;  // the launcher's run would succeed
    // What the carrier says of itself, not errors: "no integrity record",
    // "signed: certificate table at offset N".
    std::vector<std::string> notes;
    std::vector<WalkWarning> warnings;  // each found again counted on its first
    // Warnings past kMostWarningsOfAKind of their kind, by kind: counted only.
    std::map<Doubt, uint64_t> unlisted_warnings;
    WalkFinding failure;  // where and why the walk stopped, when it failed

    // The one way a warning is added: said again of the same place and for
    // the same reason (a name repeated), it is counted on the first; past
    // kMostWarningsOfAKind of its kind, a new one is only counted.
    void add_warning(WalkWarning warning);

private:
    std::unordered_map<std::string, size_t> warning_at_;  // kind, place and reason: its index
    std::map<Doubt, size_t> kept_of_kind_;
};
