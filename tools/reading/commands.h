// list, verify and extract: each a small sink over the one carrier walk.
#pragma once

#include <string>
#include <vector>

#include "tools/carrier/names.h"
#include "tools/dlls/dll_exposure.h"

struct CarrierRequest {
    std::string carrier;  // UTF-8
    bool json = false;    // list, verify: one JSON document on stdout, nothing else
    int temp_length = kAssumedTempLength;  // verify
    // verify: warnings (what the launcher gets through but may not do as
    // meant) fail as well.
    bool strict = false;
    DllOptions dlls;  // verify: --min-windows, --accept-dll
    std::string folder = ".";  // extract
    std::vector<std::string> names;  // extract: only these entries; every one when empty
};

// Each returns the exit code: 0 done, 1 failed (the reason reported).
int list_carrier(const CarrierRequest& request);
int verify_carrier(const CarrierRequest& request);
int extract_carrier(const CarrierRequest& request);
