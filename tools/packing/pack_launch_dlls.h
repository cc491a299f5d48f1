// pack's look at the DLLs the launch program loads, read from its input
// file and judged as verify judges them (tools/dlls/dll_exposure.h), the
// carried DLLs' own imports with them. Inputs that are such DLLs move
// before the launch program, so the launcher has written them before it
// can open the program, whatever fails after; what still comes from the
// shared folder first draws the one warning, and a DLL neither carried nor
// in Windows stops the pack.
#pragma once

#include <string>
#include <vector>

#include "tools/dlls/dll_exposure.h"
#include "tools/packing/pack_inputs.h"

// launch: the launch program's input (find_launch_input), its file kept
// open by check_inputs; kNoEntry when the launcher opens the folder.
void order_launch_dlls(const std::string& launch_name, size_t launch, const DllOptions& options,
                       std::vector<PackInput>& inputs, std::vector<std::string>& problems);
