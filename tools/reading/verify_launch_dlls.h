// verify's look at the DLLs the launch program loads: the launch entry read
// where its tables are, without decoding it whole or holding it, each DLL
// judged as pack judges it (tools/dlls/dll_exposure.h). The verdicts go
// into the walk's model, the notes among its notes and the one warning
// among its warnings.
#pragma once

#include <string>

#include "tools/dlls/dll_exposure.h"
#include "tools/reading/carrier_walk.h"

// path: the carrier the walk read (UTF-8). Does nothing unless the walk
// passed and the launch name opens an entry.
void check_launch_dlls(const std::string& path, const DllOptions& options, WalkResult& result);
