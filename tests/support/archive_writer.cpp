#include "tests/support/archive_writer.h"

void append_u32(std::vector<uint8_t>& out, uint32_t value) {
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<uint8_t>(value >> (8 * b)));
}

void append_name(std::vector<uint8_t>& out, const std::string& name) {
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);
}

bool append_entry(std::vector<uint8_t>& out, const std::string& name, const uint8_t* data,
                  size_t size, const EncoderOptions& options) {
    const size_t start = out.size();
    append_name(out, name);
    const size_t size_at = out.size();
    append_u32(out, 0);
    const size_t stored = append_chunk_records(data, size, options, out);
    if (stored > 0xFFFFFFFFu) {
        out.resize(start);
        return false;
    }
    for (int b = 0; b < 4; ++b) out[size_at + b] = static_cast<uint8_t>(stored >> (8 * b));
    return true;
}

std::vector<uint8_t> build_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                   const std::vector<ArchiveEntry>& entries,
                                   const EncoderOptions& options) {
    std::vector<uint8_t> out(stub);
    append_name(out, launch_name);
    for (const ArchiveEntry& entry : entries)
        append_entry(out, entry.name, entry.data.data(), entry.data.size(), options);
    out.push_back(0);
    append_u32(out, static_cast<uint32_t>(stub.size()));
    return out;
}
