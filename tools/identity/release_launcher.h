// The launcher this courier-pack was built with (its bytes, embedded at
// build time by cmake/embed-launcher.cmake), which list and verify compare a
// carrier's stub with. {nullptr, 0} when the build had no launcher to embed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

std::pair<const uint8_t*, size_t> release_launcher();
