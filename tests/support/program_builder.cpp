#include "tests/support/program_builder.h"

#include <algorithm>
#include <cstring>

#include "tools/system/le_bytes.h"

namespace {

constexpr uint32_t kFileAlignment = 0x200, kSectionAlignment = 0x1000, kHeaders = 0x400, kPe = 0x40;
constexpr uint32_t kImportDescriptor = 20, kDelayDescriptor = 32;
constexpr uint32_t kLoopCopies = 1024;  // descriptors in a looping table's section: whole pages

uint32_t align(uint64_t value, uint32_t alignment) {
    return uint32_t((value + alignment - 1) / alignment * alignment);
}

// What the tables point at, laid out from `base`.
class Rdata {
public:
    Rdata(uint32_t base, bool wide) : base_(base), wide_(wide) {}

    uint32_t rva() const { return base_ + uint32_t(bytes_.size()); }
    std::vector<uint8_t>& bytes() { return bytes_; }

    uint32_t string(const std::string& text) {
        const uint32_t at = rva();
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        pad_to(bytes_, 2);
        return at;
    }
    // A thunk table naming `functions` (each a 2-byte hint and its name).
    uint32_t thunks(const std::vector<std::string>& functions) {
        std::vector<uint32_t> names;
        for (const std::string& f : functions) {
            names.push_back(rva());
            add_le16(bytes_, 0);
            string(f);
        }
        pad_to(bytes_, 8);
        const uint32_t at = rva();
        for (uint32_t name : names) thunk(name);
        thunk(0);
        return at;
    }
    uint32_t zeros(size_t count) {
        pad_to(bytes_, 8);
        const uint32_t at = rva();
        bytes_.resize(bytes_.size() + count, 0);
        return at;
    }

private:
    void thunk(uint32_t value) {
        add_le32(bytes_, value);
        if (wide_) add_le32(bytes_, 0);
    }

    uint32_t base_;
    bool wide_;
    std::vector<uint8_t> bytes_;
};

struct Section {
    const char* name;
    std::vector<uint8_t> bytes;
    uint32_t characteristics;
    int mappings = 1;
    uint32_t rva = 0, raw_offset = 0;
};

uint32_t section_span(const Section& s) { return align(std::max<size_t>(s.bytes.size(), 1), kSectionAlignment); }

}  // namespace

std::vector<uint8_t> program_with_imports(const ProgramShape& shape) {
    const bool wide = shape.pe32_plus;
    std::vector<Section> sections;
    constexpr uint32_t kCode = 0x60000020, kData = 0x40000040;
    if (!shape.filler.empty()) sections.push_back({".text", shape.filler, kCode});
    const uint32_t rdata_rva = kSectionAlignment + (sections.empty() ? 0 : section_span(sections[0]));
    Rdata rdata(rdata_rva, wide);

    struct Named {
        uint32_t names, addresses, dll;
    };
    std::vector<Named> imports;
    for (const ProgramImport& i : shape.imports) {
        const uint32_t names = rdata.thunks(i.functions), addresses = rdata.thunks(i.functions);
        imports.push_back({names, addresses, rdata.string(i.dll)});
    }
    std::vector<uint8_t> delay_table;
    for (const ProgramImport& i : shape.delay_imports) {
        const uint32_t dll = rdata.string(i.dll), handle = rdata.zeros(8);
        const uint32_t addresses = rdata.thunks(i.functions), names = rdata.thunks(i.functions);
        for (uint32_t field : {1u, dll, handle, addresses, names, 0u, 0u, 0u}) add_le32(delay_table, field);
    }
    uint32_t delay_rva = 0;
    if (!delay_table.empty()) {
        delay_table.resize(delay_table.size() + kDelayDescriptor, 0);
        delay_rva = rdata.zeros(0);
        rdata.bytes().insert(rdata.bytes().end(), delay_table.begin(), delay_table.end());
    }
    uint32_t config_rva = 0;
    const uint32_t config_size = wide ? 112 : 64;
    if (shape.dependent_load_flags >= 0) {
        config_rva = rdata.zeros(config_size);
        uint8_t* config = &rdata.bytes()[config_rva - rdata_rva];
        set_le32(config, shape.load_config_length ? shape.load_config_length : config_size);
        set_le16(config + (wide ? 78 : 54), uint32_t(shape.dependent_load_flags));
    }
    // The export directory, its address table and the forwarders' text,
    // all inside the directory's range, as forwarded exports are.
    uint32_t exports_rva = 0, exports_size = 0;
    if (!shape.forwarders.empty()) {
        exports_rva = rdata.zeros(40);
        std::vector<uint32_t> texts;
        for (const std::string& f : shape.forwarders) texts.push_back(rdata.string(f));
        const uint32_t table = rdata.zeros(0);
        for (uint32_t text : texts) add_le32(rdata.bytes(), text);
        uint8_t* directory = &rdata.bytes()[exports_rva - rdata_rva];
        set_le32(directory + 20, uint32_t(texts.size()));
        set_le32(directory + 28, table);
        exports_size = rdata.rva() - exports_rva;
    }
    uint32_t resources_rva = 0, resources_size = 0;
    if (!shape.manifest.empty()) {
        // Type 24, ID 1, language 0x409: three directories of one entry,
        // each at the offset from the root the entry above gives.
        resources_rva = rdata.zeros(0);
        std::vector<uint8_t>& b = rdata.bytes();
        for (const uint32_t id_and_next : {24u, 1u}) {
            b.resize(b.size() + 14, 0);
            add_le16(b, 1);
            add_le32(b, id_and_next);
            add_le32(b, 0x80000000u | uint32_t(b.size() + 4 - (resources_rva - rdata_rva)));
        }
        b.resize(b.size() + 14, 0);
        add_le16(b, 1);
        add_le32(b, 0x409);
        add_le32(b, 72);
        for (uint32_t field : {resources_rva + 88, uint32_t(shape.manifest.size()), 0u, 0u}) add_le32(b, field);
        b.insert(b.end(), shape.manifest.begin(), shape.manifest.end());
        resources_size = rdata.rva() - resources_rva;
    }
    if (rdata.bytes().empty()) rdata.zeros(8);
    sections.push_back({".rdata", rdata.bytes(), kData});
    if (!shape.filler.empty()) sections.push_back({".text2", shape.filler, kCode});

    std::vector<uint8_t> table;
    const bool loops = shape.table_mappings > 1 && !imports.empty();
    const size_t descriptors = loops ? kLoopCopies : imports.size();
    for (size_t k = 0; k < descriptors; ++k) {
        const Named& i = imports[k % imports.size()];
        for (uint32_t field : {i.names, 0u, 0u, i.dll, i.addresses}) add_le32(table, field);
    }
    if (!loops) table.resize(table.size() + kImportDescriptor, 0);
    sections.push_back({".idata", table, kData, loops ? shape.table_mappings : 1});

    uint32_t rva = kSectionAlignment, raw = kHeaders;
    for (Section& s : sections) {
        s.rva = rva;
        s.raw_offset = raw;
        rva += section_span(s) * uint32_t(s.mappings);
        raw += align(s.bytes.size(), kFileAlignment);
    }
    std::vector<uint8_t> image(kHeaders, 0);
    image[0] = 'M', image[1] = 'Z';
    set_le32(&image[0x3C], kPe);
    image[kPe] = 'P', image[kPe + 1] = 'E';
    size_t headers = 0;
    for (const Section& s : sections) headers += size_t(s.mappings);
    const uint32_t optional_size = wide ? 240 : 224, optional = kPe + 24;
    set_le16(&image[kPe + 4], shape.machine ? shape.machine : wide ? 0x8664 : 0x14C);
    set_le16(&image[kPe + 6], uint32_t(headers));
    set_le16(&image[kPe + 20], optional_size);
    // executable; 32-bit or large addresses; a DLL
    set_le16(&image[kPe + 22], (wide ? 0x0022 : 0x0102) | (shape.dll ? 0x2000 : 0));
    uint8_t* o = &image[optional];
    set_le16(o, wide ? 0x20B : 0x10B);
    o[2] = uint8_t(shape.linker_major);
    set_le32(o + 16, kSectionAlignment);  // entry point
    if (wide) set_le32(o + 24, 0x40000000), set_le32(o + 28, 0x1);  // image base 0x140000000
    else set_le32(o + 28, 0x400000);
    set_le32(o + 32, kSectionAlignment);
    set_le32(o + 36, kFileAlignment);
    set_le16(o + 40, 6), set_le16(o + 48, 6);  // Windows Vista and later
    set_le32(o + 56, rva);
    set_le32(o + 60, kHeaders);
    set_le16(o + 68, 2);  // GUI
    const uint32_t shift = wide ? 16 : 0;
    set_le32(o + 92 + shift, 16);
    auto directory = [&](int index, uint32_t at, uint32_t size) {
        set_le32(o + 96 + shift + 8 * index, at);
        set_le32(o + 100 + shift + 8 * index, size);
    };
    const Section& idata = sections.back();
    directory(1, idata.rva, uint32_t(idata.bytes.size()));
    if (resources_rva) directory(2, resources_rva, resources_size);
    if (config_rva)
        directory(10, config_rva, shape.load_config_declared >= 0 ? uint32_t(shape.load_config_declared) : config_size);
    if (exports_rva) directory(0, exports_rva, exports_size);
    if (delay_rva) directory(13, delay_rva, uint32_t(delay_table.size()));
    size_t at = optional + optional_size;
    for (const Section& s : sections) {
        for (int m = 0; m < s.mappings; ++m, at += 40) {
            std::memcpy(&image[at], s.name, std::strlen(s.name));
            set_le32(&image[at + 8], uint32_t(s.bytes.size()));
            set_le32(&image[at + 12], s.rva + section_span(s) * uint32_t(m));
            set_le32(&image[at + 16], align(s.bytes.size(), kFileAlignment));
            set_le32(&image[at + 20], s.raw_offset);
            set_le32(&image[at + 36], s.characteristics);
        }
    }
    for (const Section& s : sections) {
        image.insert(image.end(), s.bytes.begin(), s.bytes.end());
        pad_to(image, kFileAlignment);
    }
    return image;
}
