// Where a PE image keeps the header fields the launcher and courier-pack
// read, named once. Constants only: the launcher's layout reader uses them
// at no cost in bytes, and tools/carrier/pe_image.h reads the rest with them.
#pragma once

#include <cstdint>

constexpr uint32_t kMzSignature = 0x5A4D;      // "MZ", the DOS header's first two bytes
constexpr uint32_t kDosHeaderSize = 0x40;
constexpr uint32_t kLfanewAt = 0x3C;           // the DOS header's offset of the PE header
constexpr uint32_t kPeSignature = 0x4550;      // "PE\0\0"

// The file header, from the PE signature; its size includes the signature.
constexpr uint32_t kMachineAt = 4, kSectionCountAt = 6, kOptionalSizeAt = 20, kCharacteristicsAt = 22,
                   kCoffHeaderSize = 24;
constexpr uint32_t kMachineI386 = 0x014C;

// The optional header, from its start. PE32+ has an 8-byte image base where
// PE32 has the base of data and a 4-byte one: its fields from the image base
// on (kPe32ImageBase and later) lie 16 bytes further on.
constexpr uint32_t kPe32 = 0x10B, kPe32Plus = 0x20B;
constexpr uint32_t kPe32PlusShift = 16;
constexpr uint32_t kInitializedData = 8, kPe32PlusImageBase = 24, kPe32ImageBase = 28,
                   kSectionAlignment = 32, kFileAlignment = 36, kSizeOfImage = 56,
                   kSizeOfHeaders = 60, kCheckSum = 64, kDirectoryCount = 92, kDirectories = 96;
constexpr uint32_t kPe32OptionalSize = 224;    // a PE32 optional header with all 16 directories
constexpr uint32_t kDataDirectorySize = 8;     // a data directory: RVA and size

constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kCertificateDirectory = 4;
constexpr uint32_t kLoadConfigDirectory = 10;
constexpr uint32_t kDelayImportDirectory = 13;

// A section header: its name's 8 bytes, then these fields.
constexpr uint32_t kSectionVirtualSize = 8, kSectionRva = 12, kSectionRawSize = 16,
                   kSectionRawOffset = 20, kSectionCharacteristics = 36, kSectionHeader = 40;
