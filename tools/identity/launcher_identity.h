// Whether the launcher in front of a carrier is the one this courier-pack
// was built with (release_launcher.h), byte for byte where packing and
// signing leave it alone.
//
// pack adds a resource section after the launcher's last one, with its
// header after theirs (moving the PE headers down over the DOS stub when
// the headers have no room for it), and updates the section count, the
// image and initialized data sizes, the resource directory entry and the
// checksum; the integrity record and archive follow the image. Signing
// appends a certificate table, points the certificate directory entry at it
// and rewrites the checksum. So what is compared is everything else:
// - the DOS header (the PE header's offset: the launcher's, or 0x40 when
//   the headers were moved), the DOS stub unless the headers were moved
//   over it, the file header, the optional header and the launcher's section
//   headers, and the headers' free space after the section table;
// - every byte of the launcher's sections (code: those marked code or
//   executable; data: the others) and any bytes between them;
// - what pack changed, against what pack writes: the added section is the
//   one resource section, right after the launcher's, named .rsrc, read-only
//   data, the directory entry and the two sizes agreeing with it, and only
//   zeros before it.
// Not compared: the checksum, the certificate directory entry, and the
// resource section's content (list and verify read and check it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class ProgramFile;

enum class LauncherKind {
    kRelease,   // the release's launcher, as compared above
    kModified,  // a Brisk Courier launcher (it holds the folder name), but another one
    kOther,     // no Brisk Courier launcher at all
    kUnknown,   // a Brisk Courier launcher; this build has none to compare it with
};

struct LauncherDifference {
    std::string part;     // "code", "data" or "headers"
    std::string where;    // a section's name, or "the optional header", ...
    uint64_t offset = 0;  // file offset of the first byte that differs
    uint64_t bytes = 0;   // how many differ there
};

struct LauncherIdentity {
    bool read = false;  // false when nothing of the file could be read
    LauncherKind kind = LauncherKind::kUnknown;
    std::vector<LauncherDifference> differences;  // kModified: what differs from the release's

    // "Brisk Courier 0.1.0", "modified Brisk Courier launcher (code differs
    // in .text: 1 byte at offset 4660)", ...
    std::string text() const;
};

// What differs between a program's first `size` bytes and the launcher
// `release` (its whole file), as compared above; empty when nothing does.
std::vector<LauncherDifference> launcher_differences(const uint8_t* image, size_t size,
                                                     const uint8_t* release, size_t release_size);

// The verdict on a program's first `size` bytes (a stub, or a carrier's
// image); holds_folder_name: whether it is a Brisk Courier launcher at all
// (is_launcher_image, carrier_image_is_launcher).
LauncherIdentity identify_launcher(const uint8_t* image, size_t size, bool holds_folder_name);
// The same of a carrier whose image ends at `image_end`; the file is read
// no further than the release's size and a file alignment past it.
LauncherIdentity identify_carrier_launcher(ProgramFile& carrier, uint64_t image_end,
                                           bool holds_folder_name);

// The launcher's image has no resources to name it, but it holds its
// folder's name (BriskCourierTmp\), which another program has no reason to.
// `image`: the stub's bytes, without the resources pack adds.
bool is_launcher_image(const uint8_t* image, size_t size);
extern const char kNotALauncher[];
// The same of a carrier's image, the `end` bytes before its integrity record
// or archive: its resource section, which a crafted icon or manifest could
// fill with the name, is not searched.
bool carrier_image_is_launcher(ProgramFile& carrier, uint64_t end);
