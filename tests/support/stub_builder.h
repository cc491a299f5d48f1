// Program images to put in front of archives: for tests on either platform,
// fuzz seeds and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A fake program image for carriers: MZ, then filler. The run never reads it.
std::vector<uint8_t> fake_stub(size_t size = 1000);

// A valid i386 PE32 image of `size` bytes (more than 512): headers, then one
// section whose raw data ends exactly at `size`.
std::vector<uint8_t> minimal_pe_stub(size_t size = 1024);

// Data directory entries of a PE32 image such as that one.
enum class PeDirectory { kResources = 2, kCertificates = 4 };
// Points a data directory entry at `size` bytes from `at`. For the
// certificate table `at` is a file offset (what signing writes), for the
// others an address in the image.
void set_directory(std::vector<uint8_t>& image, PeDirectory entry, uint32_t at, uint32_t size);
// How many data directory entries its headers say they hold (16 as made).
void set_directory_count(std::vector<uint8_t>& image, uint32_t count);

// The first fields Windows checks, and nothing else: MZ, the PE header's
// offset, "PE" there and the machine. The launcher cannot find the image's
// end in it, so courier-pack refuses it as a stub.
std::vector<uint8_t> pe_header_stub(uint16_t machine = 0x14C, uint32_t lfanew = 0x40, size_t size = 1024);
