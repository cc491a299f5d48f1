// pack: checks the stub, its resources, every input and the output before
// anything is written, then writes the carrier (packing/carrier_writer.h).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tools/carrier/names.h"
#include "tools/dlls/dll_exposure.h"
#include "tools/resources/resource_request.h"

struct PackRequest {
    std::string output;
    std::string launch_name;
    std::string stub;  // "" for the launcher this courier-pack was built with
    bool any_stub = false;  // a stub that is no Brisk Courier launcher is packed too
    bool greedy = false;
    unsigned threads = 0;  // files and segments encoded at once; 0: one per processor
    int temp_length = kAssumedTempLength;  // names longer than it allows draw a warning
    std::vector<std::string> inputs;  // files, folders and PATH=NAME
    std::string files_from;           // a list of more inputs, one a line; "-" for stdin
    std::vector<std::string> excludes;  // shell patterns of files and folders left out
    std::string depfile;              // a make rule: output: every file read
    ResourceRequest resources;  // icon, version information, manifest
    DllOptions dlls;            // --min-windows, --accept-dll
};

// Returns the exit code: 0 packed, 1 failed (each reason reported).
int pack(const PackRequest& request);
