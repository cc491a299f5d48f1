// pack's resource options: an icon, version information and a manifest
// added to the stub as one resource section, before the integrity record
// and the archive follow it. Without any option the stub is left as it is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ResourceRequest {
    std::string icon;                            // .ico file
    std::string file_version, product_version;   // "A.B.C.D"
    std::vector<std::string> version_strings;    // "KEY=VALUE", as given
    std::string execution_level;                 // asInvoker, highestAvailable, requireAdministrator
    std::string manifest;                        // manifest file, instead of execution_level's
    bool any() const;
};

extern const char* const kExecutionLevels[3];

// For the command line's checks: "" or why the argument is not usable.
std::string version_number_problem(const std::string& argument);
std::string version_string_problem(const std::string& argument);

// Reads and checks every file and value the request names, then adds them
// to `stub` as a resource section when `stub` is given (a stub that loaded).
// Each problem is appended to `problems`; the stub is changed only when
// there are none. Gives the execution level its manifest names, "" when
// none does (or there is no manifest).
std::string add_resources(const ResourceRequest& request, std::vector<uint8_t>* stub,
                          std::vector<std::string>& problems);
