#!/bin/bash
# Builds the Debian package build/package/brisk-courier_<version>_<arch>.deb:
# the launcher in the Windows tree, courier-pack in a Release tree without
# sanitizers (the package preset), then CPack, which works out the
# package's dependencies with dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target launcher
cmake --preset package >/dev/null
cmake --build --preset package
cpack --preset package
