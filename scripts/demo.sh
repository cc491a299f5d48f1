#!/bin/bash
# The main job: builds the launcher, the demo's setup program and the
# Release courier-pack that scripts/install.sh installs (the package
# preset's tree, so install.sh afterwards only installs it), packs
# examples/demo/ with the setup program into build/demo/demo-setup.exe,
# runs it under Wine on a virtual display, and shows where the files went.
# Screenshots of the progress window and of the opened setup program are
# left in build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

scripts/install-deps.sh
# The launcher first: courier-pack embeds it, to name it in front of carriers.
cmake --preset windows >/dev/null
cmake --build --preset windows --target launcher demo_setup
cmake --preset package >/dev/null
cmake --build --preset package --target courier-pack

demo="$root/build/demo"
mkdir -p "$demo"
rm -f "$demo"/*.png
build/package/courier-pack pack -o "$demo/demo-setup.exe" --launch setup.exe \
    --execution-level asInvoker examples/demo build/windows/examples/Setup.exe
build/package/courier-pack list "$demo/demo-setup.exe"

export WINEPREFIX="$root/build/windows/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
echo "demo: preparing the Wine prefix (the first time takes a while)"
scripts/wine-prefix.sh "$WINEPREFIX"
temp_win=$(wine cmd /c echo %TEMP% 2>/dev/null | tr -d '\r')
folder="$(winepath -u "$temp_win")/BriskCourierTmp"
rm -rf "$folder"
# Wine's desktop belongs to the display its server started with: let this
# display-less server end before the run on the virtual display starts one.
wineserver -w

echo "demo: running build/demo/demo-setup.exe under Wine on a virtual display"
status=0
xvfb-run -a -s "-screen 0 1024x768x24" scripts/demo-session.sh "$demo" || status=1
WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null || true

echo
echo "demo: the files went to $temp_win\\BriskCourierTmp\\ (on this machine: $folder):"
ls -l "$folder"
echo "demo: screenshots: build/demo/progress-window.png, build/demo/setup-program.png"
echo "demo: to pack your own app, scripts/install.sh installs this build's courier-pack"
exit $status
