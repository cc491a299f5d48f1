// Version information: the VS_VERSIONINFO block that Explorer's Properties
// and VerQueryValue read, with one string table, US English in UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct VersionNumber {
    uint16_t parts[4] = {};
    std::string text() const;  // "A.B.C.D"
};

// "A.B.C.D", each part a decimal 0 to 65535; false for anything else.
bool parse_version_number(const std::string& text, VersionNumber& out);

struct VersionInfo {
    bool has_file = false, has_product = false;
    VersionNumber file, product;
    // Keys and values in UTF-8, in order. Building adds FileVersion and
    // ProductVersion strings for the numbers unless a key of that name is here.
    std::vector<std::pair<std::string, std::string>> strings;
};

// The resource's bytes; "" or why they cannot be made.
std::string build_version_resource(const VersionInfo& info, std::vector<uint8_t>& out);

// The numbers and the first string table of a version resource; "" or what
// is wrong with it.
std::string read_version_resource(const uint8_t* data, size_t size, VersionInfo& info);
