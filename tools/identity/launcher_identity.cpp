#include "tools/identity/launcher_identity.h"

#include <algorithm>
#include <cstring>

#include "archive/format_rules.h"
#include "tools/carrier/names.h"
#include "tools/carrier/pe_image.h"
#include "tools/carrier/program_file.h"
#include "tools/identity/release_launcher.h"
#include "tools/resources/pe_resources.h"
#include "tools/system/console.h"
#include "tools/system/input_file.h"
#include "tools/system/le_bytes.h"

namespace {

// Section flags: holds code, or may be executed.
constexpr uint32_t kCodeOrExecutable = 0x00000020 | 0x20000000;
// A file alignment is at most 64 KiB: the padding before an added section
// lies within that much past the launcher's end.
constexpr size_t kLargestFileAlignment = 64 * 1024;

// The image's bytes held against what they should be, a difference a part.
class Comparison {
public:
    Comparison(const uint8_t* image, size_t size) : image_(image), size_(size) {}

    // `length` bytes at `at`; bytes past the image's end differ.
    void bytes(const char* part, const std::string& where, uint64_t at, const uint8_t* expected,
               size_t length) {
        for (size_t i = 0; i < length; ++i)
            if (at + i >= size_ || image_[at + i] != expected[i]) differs(part, where, at + i);
    }
    void field(const char* part, const std::string& where, uint64_t at, uint32_t expected, size_t length = 4) {
        uint8_t bytes_of[4];
        set_le32(bytes_of, expected);
        bytes(part, where, at, bytes_of, length);
    }

    std::vector<LauncherDifference> differences;

private:
    void differs(const char* part, const std::string& where, uint64_t at) {
        auto found = std::find_if(differences.begin(), differences.end(), [&](const LauncherDifference& d) {
            return d.part == part && d.where == where;
        });
        if (found == differences.end()) found = differences.insert(differences.end(), {part, where, at, 0});
        ++found->bytes;
    }

    const uint8_t* image_;
    size_t size_;
};

std::string section_name(const uint8_t* header) {
    const std::string name(reinterpret_cast<const char*>(header), 8);
    return printable(name.substr(0, name.find('\0')));
}

// The launcher's headers, and where the image holds them: pack's section
// added after the launcher's, and the headers moved down for its header.
struct Layout {
    const uint8_t* release;
    size_t release_size;
    PeHeaders launcher, image;
    const uint8_t* optional;  // the launcher's optional header
    size_t sections;          // the launcher's
    bool added, moved;
    uint32_t release_pe, pe;  // the PE header's offset in each

    // Where the image holds the launcher's header byte at `at`.
    uint32_t in_image(uint32_t at) const { return at - release_pe + pe; }
    uint32_t field(uint32_t at) const { return le32(optional + at); }
};

constexpr uint32_t directory(uint32_t index) { return kDirectories + kDataDirectorySize * index; }

// The DOS header and stub, the file header, and the optional header but
// for what pack and signing rewrite.
void compare_headers(const Layout& l, Comparison& compare) {
    const uint8_t* release = l.release;
    compare.bytes("headers", "the DOS header", 0, release, kLfanewAt);
    compare.field("headers", "the DOS header", kLfanewAt, l.pe);
    if (!l.moved && l.release_pe > kMovedPeHeader)
        compare.bytes("headers", "the DOS stub", kMovedPeHeader, release + kMovedPeHeader,
                      l.release_pe - kMovedPeHeader);
    constexpr uint32_t kAfterCount = kSectionCountAt + 2;  // the count is 16 bits
    compare.bytes("headers", "the file header", l.pe, release + l.release_pe, kSectionCountAt);
    compare.field("headers", "the file header", l.pe + kSectionCountAt, uint32_t(l.sections + l.added), 2);
    compare.bytes("headers", "the file header", l.pe + kAfterCount, release + l.release_pe + kAfterCount,
                  kCoffHeaderSize - kAfterCount);

    const uint32_t rewritten[][2] = {{kInitializedData, 4}, {kSizeOfImage, 4}, {kCheckSum, 4},
                                     {directory(kResourceDirectory), kDataDirectorySize},
                                     {directory(kCertificateDirectory), kDataDirectorySize}};
    const uint32_t optional_size = l.launcher.section_table - l.launcher.optional;
    for (uint32_t at = 0; at < optional_size;) {
        uint32_t skip = 0;
        for (const auto& [field, length] : rewritten)
            if (at == field &&
                (field < kDirectories || (field - kDirectories) / kDataDirectorySize < l.launcher.directories))
                skip = length;
        if (skip == 0)
            compare.bytes("headers", "the optional header", l.in_image(l.launcher.optional + at), l.optional + at, 1);
        at += skip ? skip : 1;
    }
    compare.bytes("headers", "the section table", l.in_image(l.launcher.section_table),
                  release + l.launcher.section_table, kSectionHeader * l.sections);
}

// What pack rewrites, against what it writes: the launcher's own values,
// or those of the section it added, placed where add_section places it.
void compare_pack_fields(const Layout& l, Comparison& compare) {
    const uint32_t header_at = l.in_image(l.launcher.section_table) + kSectionHeader * uint32_t(l.sections);
    uint32_t initialized = l.field(kInitializedData), image_size = l.field(kSizeOfImage);
    std::pair<uint32_t, uint32_t> resources = l.launcher.directory(kResourceDirectory, l.release);
    if (l.added) {
        const PeSection& section = l.image.sections.back();
        const SectionPlace place = added_section_place(l.launcher, l.release);
        const uint64_t launcher_end = place.data_end, raw_offset = place.raw_offset;
        uint8_t expected[kSectionHeader] = {};
        write_section_header(expected, kResourceSectionName, section.virtual_size, uint32_t(place.rva),
                             uint32_t(place.raw_size(section.virtual_size)), uint32_t(raw_offset),
                             kResourceSectionFlags);
        compare.bytes("headers", "the resource section's header", header_at, expected, kSectionHeader);
        const std::vector<uint8_t> zeros(size_t(std::min<uint64_t>(raw_offset - launcher_end, kLargestFileAlignment)));
        compare.bytes("data", "the padding before the resources", launcher_end, zeros.data(), zeros.size());
        initialized += section.raw_size;
        // The size its own section's RVA gives, where the header's differs.
        image_size = uint32_t(align_up(uint64_t(section.rva) + section.virtual_size, place.section_alignment));
        resources = {section.rva, section.virtual_size};
    }
    const uint32_t optional = l.in_image(l.launcher.optional);
    if (l.launcher.directories > kResourceDirectory) {
        compare.field("headers", "the optional header", optional + directory(kResourceDirectory), resources.first);
        compare.field("headers", "the optional header", optional + directory(kResourceDirectory) + 4, resources.second);
    }
    compare.field("headers", "the optional header", optional + kInitializedData, initialized);
    compare.field("headers", "the optional header", optional + kSizeOfImage, image_size);

    // The headers' free space after the section table: the launcher's bytes
    // there, zeros where the moved headers were.
    const uint32_t table_end = l.launcher.section_table + kSectionHeader * uint32_t(l.sections);
    const uint32_t headers_end = std::min<uint32_t>(l.field(kSizeOfHeaders), uint32_t(l.release_size));
    for (uint32_t at = header_at + (l.added ? kSectionHeader : 0); at < headers_end; ++at) {
        const uint8_t expected = at >= table_end ? l.release[at] : 0;
        compare.bytes("headers", "the headers' free space", at, &expected, 1);
    }
}

// The launcher's sections, and whatever lies between them.
void compare_sections(const Layout& l, Comparison& compare) {
    std::vector<bool> covered(l.release_size, false);
    const uint32_t headers_end = std::min<uint32_t>(l.field(kSizeOfHeaders), uint32_t(l.release_size));
    std::fill(covered.begin(), covered.begin() + headers_end, true);
    for (size_t i = 0; i < l.sections; ++i) {
        const PeSection& s = l.launcher.sections[i];
        const uint8_t* header = l.release + l.launcher.section_table + kSectionHeader * i;
        const uint64_t end = std::min<uint64_t>(uint64_t(s.raw_offset) + s.raw_size, l.release_size);
        if (s.raw_offset >= end) continue;
        const char* part = le32(header + kSectionCharacteristics) & kCodeOrExecutable ? "code" : "data";
        compare.bytes(part, section_name(header), s.raw_offset, l.release + s.raw_offset, size_t(end - s.raw_offset));
        std::fill(covered.begin() + s.raw_offset, covered.begin() + end, true);
    }
    for (size_t at = 0; at < l.release_size; ++at)
        if (!covered[at]) compare.bytes("data", "the bytes between sections", at, l.release + at, 1);
}

}  // namespace

std::vector<LauncherDifference> launcher_differences(const uint8_t* image, size_t size,
                                                     const uint8_t* release, size_t release_size) {
    Comparison compare(image, size);
    Layout l{release, release_size, {}, {}, nullptr, 0, false, false, 0, 0};
    if (!read_pe_headers(release, release_size, l.launcher).empty()) {
        compare.bytes("headers", "the file", 0, release, release_size);  // not one of ours
        return compare.differences;
    }
    l.optional = release + l.launcher.optional;
    l.sections = l.launcher.sections.size();
    l.added = read_pe_headers(image, size, l.image).empty() && l.image.sections.size() == l.sections + 1;
    l.release_pe = l.launcher.optional - kCoffHeaderSize;
    l.moved = l.added && l.release_pe > kMovedPeHeader && le32(image + kLfanewAt) == kMovedPeHeader;
    l.pe = l.moved ? kMovedPeHeader : l.release_pe;
    compare_headers(l, compare);
    compare_pack_fields(l, compare);
    compare_sections(l, compare);
    return compare.differences;
}

std::string LauncherIdentity::text() const {
    switch (kind) {
    case LauncherKind::kRelease: return std::string("Brisk Courier ") + COURIER_PACK_VERSION;
    case LauncherKind::kModified: break;
    case LauncherKind::kOther: return kNotALauncher;
    case LauncherKind::kUnknown:
        return "a Brisk Courier launcher, not compared: this courier-pack was built without the "
               "launcher to compare it with";
    }
    std::string text = "modified Brisk Courier launcher (";
    for (size_t i = 0; i < differences.size(); ++i) {
        const LauncherDifference& d = differences[i];
        text += (i ? "; " : "") + d.part + (d.part == "headers" ? " differ in " : " differs in ") +
                d.where + ": " + count(d.bytes, "byte", "bytes") + (d.bytes == 1 ? " at" : " from") +
                " offset " + std::to_string(d.offset);
    }
    return text + ")";
}

LauncherIdentity identify_launcher(const uint8_t* image, size_t size, bool holds_folder_name) {
    LauncherIdentity identity;
    identity.read = true;
    const auto [release, release_size] = release_launcher();
    if (!holds_folder_name) {
        identity.kind = LauncherKind::kOther;
    } else if (release == nullptr) {
        identity.kind = LauncherKind::kUnknown;
    } else {
        identity.differences = launcher_differences(image, size, release, release_size);
        identity.kind = identity.differences.empty() ? LauncherKind::kRelease : LauncherKind::kModified;
    }
    return identity;
}

LauncherIdentity identify_carrier_launcher(ProgramFile& carrier, uint64_t image_end, bool holds_folder_name) {
    const auto [release, release_size] = release_launcher();
    if (!holds_folder_name || release == nullptr) return identify_launcher(nullptr, 0, holds_folder_name);
    std::vector<uint8_t> head(size_t(std::min<uint64_t>(image_end, release_size + kLargestFileAlignment)));
    if (!carrier.file().read_at(0, head.data(), head.size())) return LauncherIdentity();
    return identify_launcher(head.data(), head.size(), holds_folder_name);
}

const char kNotALauncher[] =
    "not a Brisk Courier launcher (it holds no BriskCourierTmp folder name): nothing in it "
    "would unpack the archive";

bool is_launcher_image(const uint8_t* image, size_t size) {
    const char* const mark = kFolderName;
    const size_t length = std::strlen(mark);
    return std::search(image, image + size, mark, mark + length) != image + size;
}

bool carrier_image_is_launcher(ProgramFile& carrier, uint64_t end) {
    std::vector<uint8_t> block(size_t(1) << 20);
    uint64_t skip_from = end, skip_to = end;
    if (const PeHeaders* headers = carrier.headers()) {
        const PeSection* resources =
            headers->section_at(headers->directory(kResourceDirectory, carrier.head()).first);
        if (resources && resources->raw_size != 0)
            skip_from = resources->raw_offset, skip_to = uint64_t(resources->raw_offset) + resources->raw_size;
    }
    InputFile& file = carrier.file();
    // Blocks that overlap by the name's length less one, so none is split.
    const size_t overlap = std::strlen(kFolderName) - 1;
    for (uint64_t at = 0; at < end;) {
        if (at >= skip_from && at < skip_to) at = skip_to;
        const uint64_t stop = std::min(end, at < skip_from ? skip_from : end);
        if (at >= stop) break;
        const size_t want = size_t(std::min<uint64_t>(block.size(), stop - at));
        if (!file.read_at(at, block.data(), want)) return false;
        if (is_launcher_image(block.data(), want)) return true;
        at += want < block.size() ? want : want - overlap;
    }
    return false;
}
