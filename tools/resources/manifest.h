// The application manifest: the execution level Windows starts a carrier
// with (and so whether its installer detection asks for elevation), and
// the Windows versions it declares support for.
#pragma once

#include <string>
#include <vector>

// Our manifest for "asInvoker", "highestAvailable" or "requireAdministrator".
std::string execution_level_manifest(const std::string& level);

// Why Windows would refuse `text` as a manifest (and so refuse to start the
// program), or "" when it is one: UTF-8 XML, well-formed, an <assembly> root
// in Windows' manifest namespace with manifestVersion 1.0, and a known
// execution level if it names one.
std::string manifest_problem(const std::string& text);

// What in a sound manifest would change what a launcher loads or how it
// runs, so that it is no longer the launcher it was built as; "" when
// nothing. Its own identity, a description, the execution level (without
// uiAccess), the Windows versions it supports and the system's Common
// Controls 6 are all it may hold: a <file> is a DLL Windows loads from the
// carrier's folder, another dependency one from there or the store, and
// the rest (the ANSI code page, DPI and long-path awareness, the heap, ...)
// changes how it runs.
std::string launcher_manifest_problem(const std::string& text);

// manifest_problem's verdict from one reading, and the execution level of
// a sound manifest ("" when it names none).
std::string check_manifest(const std::string& text, std::string& execution_level);

// What a program's manifest does to its DLL search ("Manifests",
// learn.microsoft.com/windows/win32/sbscs/manifests): each <file name> of
// the application's assembly is one of its own files, which Windows takes
// from the program's folder ahead of its known DLLs; each dependent
// assembly (<dependentAssembly><assemblyIdentity name>) brings DLLs from
// the side-by-side store, or from the program's folder where the store
// has no such assembly. "" or why `text` is no manifest Windows reads.
std::string manifest_dll_redirects(const std::string& text, std::vector<std::string>& files,
                                   std::vector<std::string>& assemblies);
