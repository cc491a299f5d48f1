// Text as resources hold it (UTF-16) and as the tool reads and prints it
// (UTF-8).
#pragma once

#include <cstdint>
#include <string>

// False on bytes that are not UTF-8 (overlong forms and surrogates included).
bool utf8_to_utf16(const std::string& text, std::u16string& out);
// Lone surrogates become U+FFFD.
std::string utf16_to_utf8(const std::u16string& text);
void append_utf8(std::string& out, uint32_t code);

// A command-line argument as UTF-8. Windows gives it in the ANSI code page.
std::string argument_to_utf8(const std::string& argument);
