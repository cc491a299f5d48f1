// verify's look at the DLLs the launch program loads: the launch entry the
// walk recorded (Carrier::launch_entry) read where its tables are, without
// decoding it whole or holding it, each DLL judged as pack judges it
// (tools/dlls/dll_exposure.h). The verdicts go into the walk's model, the
// notes among its notes and the one warning among its warnings.
#pragma once

#include "tools/model/walk_result.h"

class InputFile;

// carrier: the file the walk read, still open. Does nothing unless the walk
// passed and the launch name opens an entry.
void check_launch_dlls(InputFile& carrier, WalkResult& result);
