// Text as resources hold it (UTF-16) and as the tool reads and prints it
// (UTF-8).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// False on bytes that are not UTF-8 (overlong forms and surrogates included).
bool utf8_to_utf16(const std::string& text, std::u16string& out);
// The same check, without the copy: a manifest may be 64 MiB.
bool is_utf8(const std::string& text);
// Lone surrogates become U+FFFD.
std::string utf16_to_utf8(const std::u16string& text);
void append_utf8(std::string& out, uint32_t code);

// ASCII letters lower-cased: for text compared without case (XML names,
// version keys). File names are compared by tools/carrier/names.h.
std::string lower_ascii(std::string text);

// The command line as UTF-8. On Windows it is read through the wide
// services, so arguments the ANSI code page cannot spell (a folder named
// 日本 on a Western Windows) arrive whole; argv would hold '?' for them.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// A path from UTF-8 text. On Windows a plain std::string would be taken in
// the ANSI code page.
std::filesystem::path path_from_utf8(const std::string& text);
// A path as UTF-8 text, for messages.
std::string path_to_utf8(const std::filesystem::path& path);
