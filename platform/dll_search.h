// Keeps the process from loading DLLs out of its own folder or the current
// directory (a downloaded launcher usually sits in a Downloads folder that
// anyone's files can land in). Windows only.
#pragma once

// Restricts later DLL loads to the system folder where the system allows it
// (SetDefaultDllDirectories, looked up at run time so the launcher still
// starts where it is missing). Returns true when the restriction is in force.
bool restrict_dll_search();
