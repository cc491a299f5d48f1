#include "tools/dlls/pe_imports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "tools/dlls/image_bytes.h"
#include "tools/carrier/names.h"
#include "tools/carrier/pe_image.h"
#include "tools/system/le_bytes.h"

namespace {

// The machines Windows runs programs of: i386, AMD64, ARM (Thumb-2), ARM64.
constexpr uint32_t kMachines[] = {kMachineI386, 0x8664, 0x01C4, 0xAA64};
constexpr uint32_t kExecutableImage = 0x0002, kDllImage = 0x2000;  // COFF characteristics
constexpr uint32_t kImportDescriptor = 20, kDelayDescriptor = 32;
constexpr uint32_t kDescriptorsARead = 64;
constexpr uint16_t kManifestType = 24, kProcessManifest = 1;
constexpr size_t kMostResourceEntries = 4096;
// Where the load configuration holds DependentLoadFlags (a 16-bit field):
// IMAGE_LOAD_CONFIG_DIRECTORY32 and ...64 in winnt.h (learn.microsoft.com,
// "IMAGE_LOAD_CONFIG_DIRECTORY32 structure").
constexpr uint32_t kLoadFlagsAt32 = 54, kLoadFlagsAt64 = 78;
const char kSetDirectories[] = "SetDefaultDllDirectories";

class Reader {
public:
    Reader(ImageBytes& image, ProgramImports& out) : image_(image), out_(out) {}

    void run() {
        uint8_t head[kPeHeaderRead];
        const size_t got = image_.read(0, head, sizeof head);
        const std::string unreadable = read_pe_headers(head, got, headers_, true);
        if (!unreadable.empty()) {
            out_.not_a_program = "not a Windows program: " + unreadable;
            return;
        }
        out_.machine = uint16_t(headers_.machine);
        if (std::find(std::begin(kMachines), std::end(kMachines), headers_.machine) == std::end(kMachines)) {
            char text[64];
            std::snprintf(text, sizeof text, "machine 0x%04X is none Windows runs", unsigned(headers_.machine));
            out_.not_a_program = text;
            return;
        }
        const uint32_t characteristics = le16(head + headers_.optional - kCoffHeaderSize + kCharacteristicsAt);
        if (characteristics & kDllImage) {
            out_.not_a_program = "a DLL, not a program";
            return;
        }
        if (!(characteristics & kExecutableImage)) {
            out_.not_a_program = "not marked executable";
            return;
        }
        const uint8_t* optional = head + headers_.optional;
        headers_size_ = le32(optional + kSizeOfHeaders);
        image_base_ = headers_.pe32_plus
                          ? le32(optional + kPe32PlusImageBase) | uint64_t(le32(optional + kPe32PlusImageBase + 4)) << 32
                          : le32(optional + kPe32ImageBase);
        read_table(headers_.directory(kImportDirectory, head).first, false);
        read_table(headers_.directory(kDelayImportDirectory, head).first, true);
        read_load_flags(headers_.directory(kLoadConfigDirectory, head).first);
        read_manifest(headers_.directory(kResourceDirectory, head).first);
    }

private:
    void problem(const std::string& text) { out_.problems.push_back(text); }

    // The image's bytes from `rva` as the loader maps them: the headers,
    // then each section's raw data, zeros up to its virtual size. Returns
    // how many of n it could give; *why says why not all.
    size_t read_rva(uint64_t rva, uint8_t* out, size_t n, std::string* why) {
        size_t done = 0;
        while (done < n) {
            const uint64_t at = rva + done;
            if (at > 0xFFFFFFFFu) {
                *why = "runs past the end of the image's addresses";
                break;
            }
            uint64_t file_at = at, raw_left = 0, span_left = 0;
            if (at < headers_size_) {
                raw_left = span_left = headers_size_ - at;
            } else if (const PeSection* s = headers_.section_at(uint32_t(at))) {
                const uint64_t delta = at - s->rva;
                file_at = s->raw_offset + delta;
                raw_left = delta < s->raw_size ? s->raw_size - delta : 0;
                span_left = std::max(s->virtual_size, s->raw_size) - delta;
            } else {
                *why = "lies outside every section";
                break;
            }
            const size_t count = size_t(std::min<uint64_t>(n - done, span_left));
            const size_t from_file = size_t(std::min<uint64_t>(count, raw_left));
            const size_t got = from_file ? image_.read(file_at, out + done, from_file) : 0;
            if (got < from_file) {
                *why = "is cut short: the file ends inside it";
                return done + got;
            }
            std::memset(out + done + from_file, 0, count - from_file);
            done += count;
        }
        return done;
    }

    // A NUL-ended name at `rva` of at most `longest` characters.
    bool read_name(uint64_t rva, size_t longest, std::string& name, std::string* why) {
        char text[kLongestDllName + 1];
        const size_t want = std::min(longest + 1, sizeof text);
        const size_t got = read_rva(rva, reinterpret_cast<uint8_t*>(text), want, why);
        const char* end = static_cast<const char*>(std::memchr(text, 0, got));
        if (!end) {
            if (got == want) *why = "is longer than " + std::to_string(longest) + " characters";
            return false;
        }
        name.assign(text, size_t(end - text));
        return true;
    }

    // A delay-load descriptor without its "RVA" attribute holds addresses.
    bool to_rva(uint64_t value, bool addresses, uint64_t* rva) {
        if (!addresses) {
            *rva = value;
            return true;
        }
        if (value < image_base_) return false;
        *rva = value - image_base_;
        return true;
    }

    // The import table (descriptors of 20 bytes: the name at 12, the first
    // thunk at 16) or the delay-load table (32 bytes: attributes at 0, the
    // name at 4, the name table at 16), each ended by a descriptor with no name.
    void read_table(uint32_t rva, bool delayed) {
        if (rva == 0) return;
        const char* table = delayed ? "delay-load table" : "import table";
        const uint32_t size = delayed ? kDelayDescriptor : kImportDescriptor;
        uint8_t block[kDelayDescriptor * kDescriptorsARead];
        for (size_t i = 0; i < kMostDescriptorsRead; i += kDescriptorsARead) {
            std::string why;
            const size_t got = read_rva(rva + uint64_t(i) * size, block, size * kDescriptorsARead, &why);
            for (size_t k = 0; k < kDescriptorsARead; ++k) {
                if ((k + 1) * size > got) {
                    problem(std::string(table) + ": DLL " + std::to_string(i + k + 1) + " " + why);
                    return;
                }
                const uint8_t* d = block + k * size;
                const bool addresses = delayed && !(le32(d) & 1);
                const uint64_t name_field = le32(d + (delayed ? 4 : 12));
                if (name_field == 0) return;
                uint64_t name_rva = 0, names_rva = 0;
                const uint64_t names_field = delayed ? le32(d + 16) : le32(d + 0) ? le32(d + 0) : le32(d + 16);
                std::string name, unnamed;
                if (!to_rva(name_field, addresses, &name_rva)) {
                    unnamed = "lies below the image";
                } else if (read_name(name_rva, kLongestDllName, name, &unnamed) && !name.empty()) {
                    add(name, delayed, to_rva(names_field, addresses, &names_rva) ? names_rva : 0, addresses);
                    continue;
                }
                problem(std::string(table) + ": the name of DLL " + std::to_string(i + k + 1) + " " +
                        (unnamed.empty() ? "is empty" : unnamed));
            }
        }
        problem(std::string(table) + ": more than " + std::to_string(kMostDescriptorsRead) +
                " DLLs; the rest are not read");
    }

    void add(const std::string& name, bool delayed, uint64_t names_rva, bool addresses) {
        const std::string key = ascii_file_key(name);
        const auto known = index_.emplace(key, out_.dlls.size());
        if (known.second) out_.dlls.push_back({name, delayed});
        else if (!delayed) out_.dlls[known.first->second].delayed = false;  // loaded at start after all
        const bool loader = key == "KERNEL32.DLL" || key == "KERNELBASE.DLL" ||
                            key.rfind("API-MS-WIN-CORE-LIBRARYLOADER-", 0) == 0;
        if (loader && !out_.sets_dll_directories && names_rva != 0) find_set_directories(names_rva, addresses);
    }

    // Whether a table of thunks (4 or 8 bytes; a set top bit is an ordinal,
    // else the RVA of a 2-byte hint and a name) names SetDefaultDllDirectories.
    void find_set_directories(uint64_t rva, bool addresses) {
        const size_t width = headers_.pe32_plus ? 8 : 4;
        uint8_t block[8 * 64];
        for (uint64_t at = rva; thunks_read_ < kMostThunksRead; at += sizeof block) {
            std::string why;
            const size_t got = read_rva(at, block, sizeof block, &why);
            for (size_t k = 0; k + width <= got && thunks_read_ < kMostThunksRead; k += width, ++thunks_read_) {
                const uint64_t thunk = width == 8 ? le32(block + k) | uint64_t(le32(block + k + 4)) << 32
                                                  : le32(block + k);
                if (thunk == 0) return;
                const bool ordinal = thunk >> (width * 8 - 1);
                uint64_t name_rva = 0;
                std::string name, ignored;
                if (!ordinal && to_rva(addresses ? thunk : thunk & 0x7FFFFFFF, addresses, &name_rva) &&
                    read_name(name_rva + 2, sizeof kSetDirectories - 1, name, &ignored) &&
                    name == kSetDirectories) {
                    out_.sets_dll_directories = true;
                    return;
                }
            }
            if (got < sizeof block) return;
        }
    }

    void read_load_flags(uint32_t rva) {
        if (rva == 0) return;
        uint8_t config[kLoadFlagsAt64 + 2];
        std::string why;
        const size_t got = read_rva(rva, config, sizeof config, &why);
        const uint32_t at = headers_.pe32_plus ? kLoadFlagsAt64 : kLoadFlagsAt32;
        if (got < 4) {
            problem("load configuration " + why);
            return;
        }
        // Its first field is its length: older programs' stop before the flags.
        if (le32(config) < at + 2) return;
        if (got < at + 2) {
            problem("load configuration " + why);
            return;
        }
        out_.has_load_flags = true;
        out_.dependent_load_flags = uint16_t(le16(config + at));
    }

    // The offset a resource directory entry gives for `id` (numeric entries
    // follow the named ones), or false.
    bool find_resource(uint64_t directory, bool first_any, uint32_t id, uint32_t* offset) {
        uint8_t header[16];
        std::string why;
        if (read_rva(directory, header, sizeof header, &why) < sizeof header) {
            problem("resource directory " + why);
            return false;
        }
        const size_t named = le16(header + 12), ids = le16(header + 14);
        for (size_t i = 0; i < std::min(ids, kMostResourceEntries); ++i) {
            uint8_t entry[8];
            if (read_rva(directory + 16 + 8 * (named + i), entry, sizeof entry, &why) < sizeof entry) {
                problem("resource directory " + why);
                return false;
            }
            if (first_any || le32(entry) == id) {
                *offset = le32(entry + 4);
                return true;
            }
        }
        return false;
    }

    // The manifest a program starts with: resource type 24, ID 1, its first
    // language (a directory three levels deep, each offset from its root).
    void read_manifest(uint32_t root) {
        if (root == 0) return;
        uint32_t names = 0, languages = 0, data = 0;
        constexpr uint32_t kSubdirectory = 0x80000000u;
        if (!find_resource(root, false, kManifestType, &names) || !(names & kSubdirectory) ||
            !find_resource(root + uint64_t(names & ~kSubdirectory), false, kProcessManifest, &languages) ||
            !(languages & kSubdirectory) ||
            !find_resource(root + uint64_t(languages & ~kSubdirectory), true, 0, &data) || (data & kSubdirectory))
            return;
        uint8_t entry[16];
        std::string why;
        if (read_rva(root + uint64_t(data), entry, sizeof entry, &why) < sizeof entry) {
            problem("manifest " + why);
            return;
        }
        const uint32_t size = le32(entry + 4);
        if (size > kLongestProgramManifest) {
            problem("a manifest of " + std::to_string(size) + " bytes, more than this tool reads");
            return;
        }
        std::string text(size, '\0');
        if (read_rva(le32(entry), reinterpret_cast<uint8_t*>(&text[0]), size, &why) < size) {
            problem("manifest " + why);
            return;
        }
        out_.has_manifest = true;
        out_.manifest = std::move(text);
    }

    ImageBytes& image_;
    ProgramImports& out_;
    PeHeaders headers_;
    uint64_t headers_size_ = 0;
    uint64_t image_base_ = 0;
    size_t thunks_read_ = 0;
    std::unordered_map<std::string, size_t> index_;  // a DLL's ascii_file_key: its place in out_.dlls
};

}  // namespace

ProgramImports read_program_imports(ImageBytes& image) {
    ProgramImports imports;
    Reader(image, imports).run();
    return imports;
}
