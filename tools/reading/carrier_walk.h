// Walks a carrier's archive as the launcher does: the same integrity check
// first, then the same reader calls in the same order, the same decoder, the
// same name and path checks, and stops where the launcher would fail. list,
// verify and extract all use it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tools/carrier/carrier.h"
#include "tools/carrier/names.h"

// Told what the walk finds. A call returns "" to go on, or the reason to stop.
class WalkSink {
public:
    virtual ~WalkSink() = default;
    virtual std::string begin_entry(const CarrierEntry&) { return ""; }
    virtual std::string write(const uint8_t*, size_t) { return ""; }
    virtual std::string end_entry(const CarrierEntry&) { return ""; }
};

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
};

// Reads the carrier's resources too. path: UTF-8. temp_length: the %TEMP% length to hold names against, as the launcher
// joins %TEMP%\BriskCourierTmp\ and the name in a 256-byte buffer; a name
// too long for it is a warning, one too long for any %TEMP% a failure.
WalkResult walk_carrier(const std::string& path, WalkSink& sink,
                        int temp_length = kAssumedTempLength);
