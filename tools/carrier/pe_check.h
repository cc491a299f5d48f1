// The stub must be a program 32-bit Windows will start: an i386 PE image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Fills `out` with `size` bytes from `offset` of the stub; false if it cannot.
using StubReader = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;

// Why a stub of `size` bytes is not an i386 PE image, or "" when it is.
std::string stub_problem(uint64_t size, const StubReader& read);
