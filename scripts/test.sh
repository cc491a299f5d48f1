#!/bin/bash
# The whole test suite: installs what is missing, builds both trees (the
# Windows one first, for the launcher the host's courier-pack embeds), the
# fuzz targets and the static Linux tool (whose tarball a packaging test
# checks), runs the host tests (ASan + UBSan, corpus replays, a short fuzz
# smoke) and the Windows tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

cmake --preset windows >/dev/null
cmake --build --preset windows
cmake --preset linux >/dev/null
cmake --build --preset linux
cmake --preset host >/dev/null
cmake --build --preset host
fuzz/smoke.sh --build-only   # the host suite's fuzz_smoke runs these for 75 s

status=0
ctest --preset host || status=1
ctest --preset windows || status=1
WINEPREFIX="$PWD/build/windows/wineprefix" wineserver -k 2>/dev/null || true
exit $status
