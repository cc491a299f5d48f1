#include "tools/resources/pe_resources.h"

#include <algorithm>
#include <tuple>

#include "tools/system/le_bytes.h"

namespace {

constexpr uint32_t kDirectoryHeader = 16, kDirectoryEntry = 8, kDataEntry = 16;
constexpr uint32_t kSubdirectory = 0x80000000u, kNamed = 0x80000000u;
// Bounds the walk of a hostile directory whose entries share subdirectories.
constexpr size_t kMostEntries = 1 << 16;

void add_directory(std::vector<uint8_t>& out, uint32_t entries) {
    for (int i = 0; i < 3; ++i) add_le32(out, 0);  // characteristics, time, version
    add_le16(out, 0);        // named entries
    add_le16(out, entries);  // ID entries
}

// A directory level: the distinct values of `key` among resources[first, last).
template <typename Key>
std::vector<size_t> groups(const std::vector<const Resource*>& r, size_t first, size_t last, Key key) {
    std::vector<size_t> starts;
    for (size_t i = first; i < last; ++i)
        if (i == first || key(*r[i]) != key(*r[i - 1])) starts.push_back(i);
    starts.push_back(last);
    return starts;
}

}  // namespace

std::vector<uint8_t> build_resource_section(const std::vector<Resource>& given, uint32_t rva) {
    // The loader looks entries up by binary search: IDs ascending. Sorted
    // by reference, so that no resource's bytes are copied but into the section.
    std::vector<const Resource*> resources;
    for (const Resource& r : given) resources.push_back(&r);
    std::sort(resources.begin(), resources.end(), [](const Resource* a, const Resource* b) {
        return std::tie(a->type, a->id, a->language) < std::tie(b->type, b->id, b->language);
    });
    auto type = [](const Resource& r) { return r.type; };
    auto id = [](const Resource& r) { return r.id; };
    const std::vector<size_t> types = groups(resources, 0, resources.size(), type);

    // Sizes first: the root, each type's directory, each name's directory.
    uint32_t directories = kDirectoryHeader + kDirectoryEntry * uint32_t(types.size() - 1);
    for (size_t t = 0; t + 1 < types.size(); ++t) {
        const std::vector<size_t> names = groups(resources, types[t], types[t + 1], id);
        directories += kDirectoryHeader + kDirectoryEntry * uint32_t(names.size() - 1);
        for (size_t n = 0; n + 1 < names.size(); ++n)
            directories += kDirectoryHeader + kDirectoryEntry * uint32_t(names[n + 1] - names[n]);
    }
    const uint32_t data_entries = directories;
    uint32_t data_at = data_entries + kDataEntry * uint32_t(resources.size());

    std::vector<uint8_t> out;
    std::vector<uint32_t> data_offsets;
    for (const Resource* r : resources) {
        data_at = (data_at + 7) & ~7u;
        data_offsets.push_back(data_at);
        data_at += uint32_t(r->data.size());
    }

    // Directories breadth-first: each entry points at the next free spot.
    uint32_t next = kDirectoryHeader + kDirectoryEntry * uint32_t(types.size() - 1);
    add_directory(out, uint32_t(types.size() - 1));
    for (size_t t = 0; t + 1 < types.size(); ++t) {
        add_le32(out, resources[types[t]]->type);
        add_le32(out, kSubdirectory | next);
        next += kDirectoryHeader +
                kDirectoryEntry * uint32_t(groups(resources, types[t], types[t + 1], id).size() - 1);
    }
    std::vector<std::vector<size_t>> names_of;
    for (size_t t = 0; t + 1 < types.size(); ++t) {
        names_of.push_back(groups(resources, types[t], types[t + 1], id));
        const std::vector<size_t>& names = names_of.back();
        add_directory(out, uint32_t(names.size() - 1));
        for (size_t n = 0; n + 1 < names.size(); ++n) {
            add_le32(out, resources[names[n]]->id);
            add_le32(out, kSubdirectory | next);
            next += kDirectoryHeader + kDirectoryEntry * uint32_t(names[n + 1] - names[n]);
        }
    }
    for (const std::vector<size_t>& names : names_of) {
        for (size_t n = 0; n + 1 < names.size(); ++n) {
            add_directory(out, uint32_t(names[n + 1] - names[n]));
            for (size_t i = names[n]; i < names[n + 1]; ++i) {
                add_le32(out, resources[i]->language);
                add_le32(out, data_entries + kDataEntry * uint32_t(i));
            }
        }
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        add_le32(out, rva + data_offsets[i]);
        add_le32(out, uint32_t(resources[i]->data.size()));
        add_le32(out, 0);  // code page, unused
        add_le32(out, 0);
    }
    for (size_t i = 0; i < resources.size(); ++i) {
        out.resize(data_offsets[i], 0);
        out.insert(out.end(), resources[i]->data.begin(), resources[i]->data.end());
    }
    return out;
}

std::string read_resource_section(const uint8_t* section, size_t size, uint32_t section_rva,
                                  uint32_t directory_rva, std::vector<FoundResource>& found) {
    found.clear();
    // A directory's place and entry count, when it lies whole in the section.
    auto directory = [&](uint32_t at, uint32_t& count) {
        if (at > size || size - at < kDirectoryHeader) return false;
        count = le16(section + at + 12) + le16(section + at + 14);
        return (size - at - kDirectoryHeader) / kDirectoryEntry >= count;
    };
    // Entry i of the directory at `at`: its ID (or name) and what it leads to.
    auto entry = [section](uint32_t at, uint32_t i, uint32_t& id, uint32_t& target) {
        const uint8_t* e = section + at + kDirectoryHeader + i * kDirectoryEntry;
        id = le32(e);
        target = le32(e + 4);
    };
    const uint32_t root = directory_rva - section_rva;
    uint32_t types = 0;
    if (directory_rva < section_rva || !directory(root, types))
        return "resource directory lies outside its section";
    // Type, name, language: three levels, the first two leading to directories.
    struct Level {
        uint32_t at, count, i, id;
    } levels[3] = {{root, types, 0, 0}, {}, {}};
    size_t visited = 0;
    for (int depth = 0; depth >= 0;) {
        Level& level = levels[depth];
        if (level.i == level.count) {
            --depth;
            continue;
        }
        if (++visited > kMostEntries) return "resource directory has too many entries";
        uint32_t target = 0;
        entry(level.at, level.i++, level.id, target);
        const bool leads_to_directory = (target & kSubdirectory) != 0;
        if (leads_to_directory != (depth < 2)) return "resource directory is damaged";
        if (depth < 2) {
            Level& next = levels[depth + 1];
            if (!directory(target & ~kSubdirectory, next.count)) return "resource directory is damaged";
            next.at = target & ~kSubdirectory;
            next.i = 0;
            // Entries named by strings are not ours: step over them.
            if (!(level.id & kNamed)) ++depth;
            continue;
        }
        if (target > size || size - target < kDataEntry) return "resource directory is damaged";
        const uint32_t rva = le32(section + target), length = le32(section + target + 4);
        if (rva < section_rva || rva - section_rva > size || size - (rva - section_rva) < length)
            return "resource data lies outside its section";
        found.push_back({uint16_t(levels[0].id), uint16_t(levels[1].id), uint16_t(level.id),
                         rva - section_rva, length});
    }
    return "";
}
