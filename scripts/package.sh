#!/bin/bash
# Builds the Debian package build/package/brisk-courier_<version>_<arch>.deb:
# the launcher in the Windows tree, courier-pack in a Release tree without
# sanitizers (the package preset), then CPack, which works out the
# package's dependencies with dpkg-shlibdeps.
# With --windows, the zip for Windows instead:
# build/windows/brisk-courier-<version>-win32.zip, courier-pack.exe with
# launcher.exe beside it and the documents (cpack --preset windows-zip).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset windows >/dev/null
if [ "${1:-}" = --windows ]; then
    cmake --build --preset windows --target launcher courier-pack
    cpack --preset windows-zip
    exit
fi
cmake --build --preset windows --target launcher
cmake --preset package >/dev/null
cmake --build --preset package
cpack --preset package
