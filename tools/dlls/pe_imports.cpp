#include "tools/dlls/pe_imports.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "tools/dlls/image_bytes.h"
#include "tools/carrier/names.h"
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
// IMAGE_EXPORT_DIRECTORY: NumberOfFunctions at 20, AddressOfFunctions at 28.
constexpr uint32_t kExportDirectorySize = 40, kExportCount = 20, kExportAddresses = 28;
const char kSetDirectories[] = "SetDefaultDllDirectories";

// The import table (descriptors of 20 bytes: the name at 12, the first
// thunk at 16) or the delay-load table (32 bytes: attributes at 0, the
// name at 4, the name table at 16), each ended by a descriptor with no name;
// and whether a loader DLL's thunks name SetDefaultDllDirectories.
class ImportTables {
public:
    ImportTables(MappedImage& image, ProgramImports& out) : image_(image), out_(out) {}

    void read(uint32_t rva, bool delayed) {
        if (rva == 0) return;
        const char* table = delayed ? "delay-load table" : "import table";
        const uint32_t size = delayed ? kDelayDescriptor : kImportDescriptor;
        uint8_t block[kDelayDescriptor * kDescriptorsARead];
        for (size_t i = 0; i < kMostDescriptorsRead; i += kDescriptorsARead) {
            std::string why;
            const size_t got = image_.read(rva + uint64_t(i) * size, block, size * kDescriptorsARead, &why);
            for (size_t k = 0; k < kDescriptorsARead; ++k) {
                if ((k + 1) * size > got) {
                    problem(std::string(table) + ": DLL " + std::to_string(i + k + 1) + " " + why);
                    return;
                }
                if (!descriptor(block + k * size, delayed, table, i + k + 1)) return;
            }
        }
        problem(std::string(table) + ": more than " + std::to_string(kMostDescriptorsRead) +
                " DLLs; the rest are not read");
    }

private:
    void problem(const std::string& text) { out_.problems.push_back(text); }

    // One descriptor, the `number`th; false at the table's end.
    bool descriptor(const uint8_t* d, bool delayed, const char* table, size_t number) {
        const bool addresses = delayed && !(le32(d) & 1);
        const uint64_t name_field = le32(d + (delayed ? 4 : 12));
        if (name_field == 0) return false;
        uint64_t name_rva = 0, names_rva = 0;
        const uint64_t names_field = delayed ? le32(d + 16) : le32(d + 0) ? le32(d + 0) : le32(d + 16);
        std::string name, unnamed;
        if (!image_.to_rva(name_field, addresses, &name_rva)) {
            unnamed = "lies below the image";
        } else if (image_.read_name(name_rva, kLongestDllName, name, &unnamed) && !name.empty()) {
            add(name, delayed, image_.to_rva(names_field, addresses, &names_rva) ? names_rva : 0, addresses);
            return true;
        }
        problem(std::string(table) + ": the name of DLL " + std::to_string(number) + " " +
                (unnamed.empty() ? "is empty" : unnamed));
        return true;
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
        const size_t width = image_.headers().pe32_plus ? 8 : 4;
        uint8_t block[8 * 64];
        for (uint64_t at = rva; thunks_read_ < kMostThunksRead; at += sizeof block) {
            std::string why;
            const size_t got = image_.read(at, block, sizeof block, &why);
            for (size_t k = 0; k + width <= got && thunks_read_ < kMostThunksRead; k += width, ++thunks_read_) {
                const uint64_t thunk = width == 8 ? le32(block + k) | uint64_t(le32(block + k + 4)) << 32
                                                  : le32(block + k);
                if (thunk == 0) return;
                const bool ordinal = thunk >> (width * 8 - 1);
                uint64_t name_rva = 0;
                std::string name, ignored;
                if (!ordinal && image_.to_rva(addresses ? thunk : thunk & 0x7FFFFFFF, addresses, &name_rva) &&
                    image_.read_name(name_rva + 2, sizeof kSetDirectories - 1, name, &ignored) &&
                    name == kSetDirectories) {
                    out_.sets_dll_directories = true;
                    return;
                }
            }
            if (got < sizeof block) return;
        }
    }

    MappedImage& image_;
    ProgramImports& out_;
    size_t thunks_read_ = 0;
    std::unordered_map<std::string, size_t> index_;  // a DLL's ascii_file_key: its place in out_.dlls
};

// DependentLoadFlags, read only within the size the directory declares and
// the length the structure's first field gives (older ones stop before).
void read_load_flags(MappedImage& image, ProgramImports& out) {
    const auto [rva, size] = image.directory(kLoadConfigDirectory);
    if (rva == 0) return;
    out.has_load_config = true;
    uint8_t config[kLoadFlagsAt64 + 2];
    std::string why;
    const size_t got = image.read(rva, config, sizeof config, &why);
    const uint32_t at = image.headers().pe32_plus ? kLoadFlagsAt64 : kLoadFlagsAt32;
    if (got < 4) {
        out.problems.push_back("load configuration " + why);
        return;
    }
    if (le32(config) < at + 2 || size < at + 2) return;
    if (got < at + 2) {
        out.problems.push_back("load configuration " + why);
        return;
    }
    out.has_load_flags = true;
    out.dependent_load_flags = uint16_t(le16(config + at));
}

// The offset a resource directory entry gives for `id` (numeric entries
// follow the named ones), or false.
bool find_resource(MappedImage& image, uint64_t directory, bool first_any, uint32_t id, uint32_t* offset,
                   std::vector<std::string>& problems) {
    uint8_t header[16];
    std::string why;
    if (image.read(directory, header, sizeof header, &why) < sizeof header) {
        problems.push_back("resource directory " + why);
        return false;
    }
    const size_t named = le16(header + 12), ids = le16(header + 14);
    for (size_t i = 0; i < std::min(ids, kMostResourceEntries); ++i) {
        uint8_t entry[8];
        if (image.read(directory + 16 + 8 * (named + i), entry, sizeof entry, &why) < sizeof entry) {
            problems.push_back("resource directory " + why);
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
void read_manifest(MappedImage& image, ProgramImports& out) {
    const uint32_t root = image.directory(kResourceDirectory).first;
    if (root == 0) return;
    uint32_t names = 0, languages = 0, data = 0;
    constexpr uint32_t kSubdirectory = 0x80000000u;
    if (!find_resource(image, root, false, kManifestType, &names, out.problems) || !(names & kSubdirectory) ||
        !find_resource(image, root + uint64_t(names & ~kSubdirectory), false, kProcessManifest, &languages,
                       out.problems) ||
        !(languages & kSubdirectory) ||
        !find_resource(image, root + uint64_t(languages & ~kSubdirectory), true, 0, &data, out.problems) ||
        (data & kSubdirectory))
        return;
    uint8_t entry[16];
    std::string why;
    if (image.read(root + uint64_t(data), entry, sizeof entry, &why) < sizeof entry) {
        out.problems.push_back("manifest " + why);
        return;
    }
    const uint32_t size = le32(entry + 4);
    if (size > kLongestProgramManifest) {
        out.problems.push_back("a manifest of " + std::to_string(size) + " bytes, more than this tool reads");
        return;
    }
    std::string text(size, '\0');
    if (image.read(le32(entry), reinterpret_cast<uint8_t*>(&text[0]), size, &why) < size) {
        out.problems.push_back("manifest " + why);
        return;
    }
    out.has_manifest = true;
    out.manifest = std::move(text);
}

// A DLL's forwarded exports: an export whose address lies inside the
// export directory is the text "DLL.function" (or "DLL.#ordinal"), and the
// loader loads that DLL for it.
void read_forwarders(MappedImage& image, ProgramImports& out) {
    const auto [rva, size] = image.directory(kExportDirectory);
    if (rva == 0) return;
    uint8_t directory[kExportDirectorySize];
    std::string why;
    if (image.read(rva, directory, sizeof directory, &why) < sizeof directory) {
        out.problems.push_back("export directory " + why);
        return;
    }
    const size_t count = std::min<size_t>(le32(directory + kExportCount), kMostExportsRead);
    const uint64_t addresses = le32(directory + kExportAddresses);
    uint8_t block[4 * 64];
    for (size_t i = 0; i < count; i += 64) {
        const size_t want = 4 * std::min<size_t>(64, count - i);
        const size_t got = image.read(addresses + 4 * i, block, want, &why);
        for (size_t k = 0; k + 4 <= got; k += 4) {
            const uint32_t at = le32(block + k);
            std::string text;
            if (at < rva || at - rva >= size || !image.read_name(at, 2 * kLongestDllName, text, &why)) continue;
            const size_t dot = text.rfind('.');
            if (dot == std::string::npos || dot == 0) continue;
            const std::string dll = text.substr(0, dot);
            const auto same = [&](const std::string& d) { return same_name(d, dll); };
            if (std::none_of(out.forwarded_to.begin(), out.forwarded_to.end(), same)) out.forwarded_to.push_back(dll);
        }
        if (got < want) {
            out.problems.push_back("export addresses " + why);
            return;
        }
    }
}

// Why Windows would not start the image as a program (or load it as a
// DLL), or "".
std::string refusal(MappedImage& image, bool dll) {
    const std::string unreadable = image.open();
    if (!unreadable.empty()) return "not a Windows program: " + unreadable;
    const uint32_t machine = image.headers().machine;
    if (std::find(std::begin(kMachines), std::end(kMachines), machine) == std::end(kMachines)) {
        char text[64];
        std::snprintf(text, sizeof text, "machine 0x%04X is none Windows runs", unsigned(machine));
        return text;
    }
    const uint32_t characteristics = image.characteristics();
    if (!dll && (characteristics & kDllImage)) return "a DLL, not a program";
    if (dll && !(characteristics & kDllImage)) return "a program, not a DLL";
    if (!(characteristics & kExecutableImage)) return "not marked executable";
    return "";
}

ProgramImports read_imports(ImageBytes& bytes, bool dll) {
    ProgramImports out;
    MappedImage image(bytes);
    out.not_a_program = refusal(image, dll);
    if (!out.not_a_program.empty()) return out;
    out.machine = uint16_t(image.headers().machine);
    out.linker_major = image.linker_major();
    ImportTables tables(image, out);
    tables.read(image.directory(kImportDirectory).first, false);
    tables.read(image.directory(kDelayImportDirectory).first, true);
    read_load_flags(image, out);
    if (dll) read_forwarders(image, out);
    else read_manifest(image, out);
    return out;
}

}  // namespace

ProgramImports read_program_imports(ImageBytes& image) { return read_imports(image, false); }

ProgramImports read_dll_imports(ImageBytes& image) { return read_imports(image, true); }
