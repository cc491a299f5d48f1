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
