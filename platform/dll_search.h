// Keeps the process from loading DLLs out of its own folder or the current
// directory (a downloaded launcher usually sits in a Downloads folder that
// anyone's files can land in).
#pragma once

// Restricts later DLL loads to the system folder where the system allows it
// (SetDefaultDllDirectories, looked up at run time so the launcher still
// starts where it is missing). Returns true when the restriction is in force.
// Windows only.
bool restrict_dll_search();

// Loads the common controls from the system folder by their full path and
// initialises them (the progress bar's class). They are not imported: the
// loader would look for an imported comctl32.dll beside the program first,
// before any of our code runs, as it is not one of Windows' known DLLs.
void init_common_controls();
