#!/bin/bash
# Runs a Windows test program under Wine inside a virtual display, and takes
# screenshots of that display when the program asks for one: it creates
# shot-request in $BRISK_SHOT_DIR and waits for shot-done.
# Usage (inside xvfb-run): run-under-wine.sh PROGRAM.exe ARTEFACT_DIR
set -u
program="$1"
artefacts="$2"
mkdir -p "$artefacts"
rm -f "$artefacts"/shot-request "$artefacts"/shot-done
BRISK_SHOT_DIR="$(winepath -w "$artefacts")"
export BRISK_SHOT_DIR

wine "$program" &
pid=$!
while kill -0 "$pid" 2>/dev/null; do
    if [ -f "$artefacts/shot-request" ]; then
        name=$(tr -d '\r\n' < "$artefacts/shot-request")
        import -window root "$artefacts/$name-screen.png"
        # The window with a margin, centred on a 1024x768 screen.
        convert "$artefacts/$name-screen.png" -crop 285x127+369+320 +repage "$artefacts/$name.png"
        rm -f "$artefacts/shot-request"
        touch "$artefacts/shot-done"
    fi
    sleep 0.1
done
wait "$pid"
