// Reads the archive appended to a carrier file, strictly front to back.
//
// Carrier: [program image][archive][4-byte trailer: archive offset]
// Archive: launch name NUL, then entries (name NUL, u32 stored size, chunk
// records), then a lone NUL. Chunk record: u32 body length, body.
// Integers are unsigned little-endian. Every operation reads from the file's
// current position and returns false on a failed seek or read, on an end of
// file inside a field, or on a value no archive may hold; it never writes
// past its buffer.
#pragma once

#include <cstdint>

#include "archive/carrier_file.h"
#include "archive/format_rules.h"

// Reads exactly `size` bytes: false on a failed or a short read.
bool read_exact(CarrierFile file, void* buffer, uint32_t size);

// Seeks to the archive's first byte, as given by the trailer. Fails on a
// trailer of 2^31 or more, or one that does not point before the trailer.
bool locate_archive(CarrierFile file);
// The same, for a carrier whose content ends at `end` (a signed carrier's
// certificate table follows it).
bool locate_archive_before(CarrierFile file, uint32_t end);

// Reads a NUL-terminated name into buffer. An empty name is the end marker.
// Fails on an end of file before the NUL or a name longer than 259 characters.
bool read_name(CarrierFile file, char (&buffer)[kNameCapacity]);

bool read_u32(CarrierFile file, uint32_t* value);

// Reads one chunk record's body into buffer. *delivered is the number of body
// bytes the read gave, fewer than the record's length at the end of the
// file. Fails on a length above kChunkInputCapacity, before reading the body.
bool read_chunk_record(CarrierFile file, uint8_t (&buffer)[kChunkInputCapacity], uint32_t* delivered);
