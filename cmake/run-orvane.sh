#!/bin/bash
# Starts the Windows build of Orvane under Wine in the project's own prefix,
# build/run-prefix: C: is the prefix's own drive, D: the user's home folder (so
# there are real files to find), and there is no Z: drive. With a display
# Orvane opens on it and this script returns when Orvane ends; without one it
# runs on a virtual display (Xvfb) with a search of the user's files
# (ORVANE_SCREENSHOT_SEARCH), a screenshot is saved as
# build/orvane-screenshot.png once the drives are up to date (at most
# ORVANE_SCREENSHOT_LIMIT seconds) and Orvane is ended with its exit message.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
bin="$root/build/windows/bin"
export WINEPREFIX="$root/build/run-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/.ready" ]; then
    echo "Making the Wine prefix $WINEPREFIX (once; takes a few seconds)"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    touch "$WINEPREFIX/.ready"
fi
rm -f "$WINEPREFIX/dosdevices/z:"
ln -sfn "$HOME" "$WINEPREFIX/dosdevices/d:"
program="$WINEPREFIX/drive_c/Program Files/Orvane"
mkdir -p "$program"
cp "$bin/Orvane.exe" "$bin/ov_gui.exe" "$program/"
orvane='C:\Program Files\Orvane\Orvane.exe'
gui='C:\Program Files\Orvane\ov_gui.exe'

if [ -n "${DISPLAY:-}" ]; then
    echo "Starting Orvane on $DISPLAY; end it with Ctrl+Q or the tray icon's Exit."
    wine "$orvane"
    wineserver -w
    exit 0
fi

display_file=$(mktemp)
Xvfb -displayfd 5 -screen 0 1400x900x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"
echo "No display: running Orvane on the virtual display $DISPLAY"
# The files of D:, the home folder.
wine "$orvane" /search "${ORVANE_SCREENSHOT_SEARCH:-D:\ file:}" &
if ! wine "$gui" wait OrvaneMain 60000; then
    echo "Orvane's window did not appear" >&2
    exit 1
fi
limit=${ORVANE_SCREENSHOT_LIMIT:-600}
echo "Waiting until the status bar says the drives are up to date (at most $limit s)"
if ! wine "$gui" status OrvaneMain "Up to date" $((limit * 1000)); then
    echo "The drives were not up to date after $limit s; the screenshot shows them as they are" >&2
fi
sleep 1  # the last results paint
import -window root "$root/build/orvane-screenshot.png"
echo "Screenshot saved: build/orvane-screenshot.png"
wine "$gui" exit OrvaneMain 120000 || echo "Orvane did not end in time" >&2
wineserver -w
