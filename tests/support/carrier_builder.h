// Builds archives and carriers for the tests, fuzz seeds and benchmarks,
// over courier-pack's chunk encoder. It checks no names: the tests need
// archives the tool refuses to write. courier-pack writes its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/stub_builder.h"
#include "tools/packing/chunk_encoder.h"

struct ArchiveEntry {
    std::string name;
    std::vector<uint8_t> data;
};

// Archive fields, for archives written by hand.
void append_u32(std::vector<uint8_t>& out, uint32_t value);
void append_name(std::vector<uint8_t>& out, const std::string& name);

// Appends name, stored size and chunk records of one entry. Returns false,
// appending nothing, when its records would not fit a 32-bit stored size.
bool append_entry(std::vector<uint8_t>& out, const std::string& name, const uint8_t* data,
                  size_t size, const EncoderOptions& options);

// An entry whose one chunk decodes past 8192 bytes (2048 bytes of matches
// and no literal): its file is created, then the run fails.
void append_overflowing_entry(std::vector<uint8_t>& out, const std::string& name);

// A chunk record: the body's length, then the body.
std::vector<uint8_t> chunk_record(const std::vector<uint8_t>& body);

// launch name + entries + `tail` (entries written by hand) + end marker.
std::vector<uint8_t> archive_of(const std::string& launch, const std::vector<ArchiveEntry>& entries,
                                const EncoderOptions& options = EncoderOptions(),
                                const std::vector<uint8_t>& tail = {});

// launch name + one entry with the stored size and records given + end marker.
std::vector<uint8_t> one_entry_archive(const std::string& launch, const std::string& name,
                                       uint32_t stored_size, const std::vector<uint8_t>& records);

// `bytes` and a trailer of any value after them.
std::vector<uint8_t> with_trailer(std::vector<uint8_t> bytes, uint32_t trailer);

// stub + archive + trailer (the stub's size).
std::vector<uint8_t> carrier_of(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& archive);

// stub + launch name + entries + end marker + trailer.
std::vector<uint8_t> build_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                   const std::vector<ArchiveEntry>& entries,
                                   const EncoderOptions& options = EncoderOptions());

// A hand-made archive in a carrier: fake stub + archive + trailer.
std::vector<uint8_t> carrier_around(const std::vector<uint8_t>& archive, size_t stub_size = 1000);

// The carrier courier-pack makes: stub, integrity record, archive, zero
// padding to a multiple of 8 bytes in all, trailer.
std::vector<uint8_t> packed_carrier(const std::vector<uint8_t>& stub, const std::string& launch_name,
                                    const std::vector<ArchiveEntry>& entries,
                                    const EncoderOptions& options = EncoderOptions());

// What signing adds to a carrier whose stub is a PE32 image: a certificate
// table at the end, and the image's certificate entry pointing at it. The
// table's contents are never read.
std::vector<uint8_t> signed_copy(std::vector<uint8_t> carrier, size_t table_size = 1304);
