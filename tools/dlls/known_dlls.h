// The DLLs Windows always takes from its system folder, whatever folder a
// program starts in: the one home of that list and of where it comes from.
#pragma once

#include <string>

// `file` (a DLL's file name, letter case ignored) is one of Windows' known
// DLLs on every version from Windows 7 SP1 to Windows 11, or loaded into
// every program before its imports are. The list and its source are in
// known_dlls.cpp.
bool is_known_dll(const std::string& file);

// An API set name (api-ms-win-*, ext-ms-*): Windows 10 and later resolve
// these through the API set schema, never to a file in a folder.
bool is_api_set(const std::string& file);
