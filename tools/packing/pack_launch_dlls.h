// pack's look at the DLLs the launch program loads, read from its input
// file and judged as verify judges them (tools/dlls/dll_exposure.h).
// Inputs that are such DLLs move before the launch program, so the launcher
// has written them before it can open the program, whatever fails after;
// what still comes from the shared folder first draws the one warning.
#pragma once

#include <string>
#include <vector>

#include "tools/packing/pack_inputs.h"

// launch: the launch program's input (find_launch_input), its file kept
// open by check_inputs; kNoEntry when the launcher opens the folder.
void order_launch_dlls(const std::string& launch_name, size_t launch, std::vector<PackInput>& inputs);
