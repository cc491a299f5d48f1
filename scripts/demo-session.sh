#!/bin/bash
# Inside the virtual display: starts the demo carrier, takes a screenshot of
# the progress window and of the setup program it opens, and waits for both.
set -u
demo="$1"
wine "$demo/demo-setup.exe" &
launcher=$!

# Polls for a window by title for up to $2 seconds; prints its id.
wait_window() {
    local deadline=$((SECONDS + $2))
    while [ $SECONDS -lt $deadline ]; do
        id=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.25
    done
    return 1
}

status=0
if wait_window '^Self-Extracting$' 60 >/dev/null; then
    sleep 0.3
    import -window root "$demo/progress-window-screen.png"
    convert "$demo/progress-window-screen.png" -crop 285x127+369+320 +repage "$demo/progress-window.png"
else
    echo "demo: the progress window did not appear" >&2
    status=1
fi
if wait_window '^Brisk Courier demo setup$' 90 >/dev/null; then
    sleep 0.5
    import -window root "$demo/setup-program.png"
else
    echo "demo: the setup program did not appear" >&2
    status=1
fi
wait "$launcher"
echo "demo: launcher exit code $? (always 1 by design)"
# The setup program closes itself after a few seconds.
deadline=$((SECONDS + 30))
while xdotool search --name '^Brisk Courier demo setup$' >/dev/null 2>&1 && [ $SECONDS -lt $deadline ]; do
    sleep 0.2
done
exit $status
