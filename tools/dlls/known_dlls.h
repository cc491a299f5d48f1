// What Windows itself provides a program by a DLL's name: the one home of
// the lists of known DLLs, API sets and DLLs Windows ships, and of where
// each comes from (known_dlls.cpp).
#pragma once

#include <string>
#include <vector>

// The Windows a carrier is meant to run on, oldest first. Windows 7 SP1 to
// 11 unless the publisher states a later start.
enum class WindowsRange {
    kFrom7Sp1,     // Windows 7 SP1, 8.1, 10 and 11
    kFrom10v1607,  // Windows 10 version 1607 and later
};

// "7sp1", "10.1607": the words --min-windows takes.
const char* windows_range_name(WindowsRange range);
bool windows_range_from_name(const std::string& name, WindowsRange& range);
// "Windows 7 SP1", "Windows 10 version 1607": for messages.
const char* windows_range_text(WindowsRange range);

// `file` (a DLL's file name, letter case ignored) is one of Windows' known
// DLLs on every version from Windows 7 SP1 to Windows 11, or loaded into
// every program before its imports are.
bool is_known_dll(const std::string& file);

// A name of the API set form (api-ms-win-*, ext-ms-*).
bool is_api_set_name(const std::string& file);
// An API set every Windows of `range` resolves through its schema, never
// to a file in a folder.
bool resolves_api_set(const std::string& file, WindowsRange range);

// Whether every Windows of `range` has `file` in its system folder.
enum class Shipped {
    kEvery,  // every one of the range
    kSome,   // some of them, or an update or a runtime's installer adds it
    kNone,   // none: only a program that carries it can start
};
Shipped windows_ships(const std::string& file, WindowsRange range);

// A side-by-side assembly every Windows of the range holds, and the DLL it
// provides to a program whose manifest depends on it.
bool assembly_provides(const std::string& assembly, const std::string& file);

// The lists whole, in the order they are kept, for their tests.
struct WindowsDllLists {
    std::vector<std::string> known, api_sets_everywhere, api_sets_from_10, shipped_everywhere,
        shipped_from_10, shipped_by_some;
};
WindowsDllLists windows_dll_lists();
