// pack --depfile: one make rule, as compilers' -MD write, so that make and
// Ninja re-pack a carrier when any file it was made from changes, also a
// file added to or removed from a folder it packed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// `target: <each of read>`, one path a line, each absolute and written so
// that GNU make and Ninja both read it back as it is spelt, then an empty
// rule for each of them (so make goes on once one is removed). False, with
// the problem naming the path, when some path cannot be written so (make
// would take a ';' for the start of a command, Ninja drops a '&', ...).
bool dependency_rule(const std::string& target, const std::vector<std::filesystem::path>& read,
                     std::string& rule, std::string& problem);
