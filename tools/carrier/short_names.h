// Short (8.3) names. On a volume that makes them, Windows gives every file
// whose name is not itself of the 8.3 form a second name, such as
// HELPER~1.DLL for helper-library.dll, and creating a file under that name
// opens the first one. So an entry named like that can land in another
// entry's file, as "SETUP.EXE" lands in "setup.exe".
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A name of the 8.3 form (up to 8 characters, a dot and up to 3, no
// spaces or characters short names leave out) with a '~' before its dot:
// the shape of a short name Windows made for another file.
bool is_short_name_form(const std::string& name);

struct ShortNameTwin {
    size_t short_name;  // the index of a name of the short form
    size_t long_name;   // the first other name Windows may give it to
};

struct ShortNameTwins {
    std::vector<ShortNameTwin> twins;  // in the order of the short names
    uint64_t not_compared = 0;         // short-form names still unchecked when checks ran out
};

// Among `count` names, each of the short form that Windows may have given
// to another of them, on some volume: which one it gives depends on the
// files already there (~1, ~2, ...), and after four alike on a hash, so
// every alias a long name can have counts. Names Windows takes for one
// file anyway (letter case, trailing dots) are not paired here. At most
// `most_checks` pairs are compared.
ShortNameTwins find_short_name_twins(size_t count,
                                     const std::function<const std::string&(size_t)>& name_at,
                                     uint64_t most_checks = UINT64_MAX);
