#!/bin/bash
# The README's picture: the Windows build of Orvane under Wine on a virtual
# display, indexing only a small made-up folder tree (drive D: of a prefix of
# its own, build/screenshot-prefix, which has no Z: drive), with a search typed
# once the drives are up to date; the main window is cut out of the screen and
# saved as OUT (docs/screenshot.png by default). Each run starts from no
# settings and no saved index, so the picture does not depend on earlier runs.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/docs/screenshot.png}")
search=${ORVANE_SCREENSHOT_SEARCH:-report}
limit=${ORVANE_SCREENSHOT_LIMIT:-600}
bin="$root/build/windows/bin"
export WINEPREFIX="$root/build/screenshot-prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

tree=$(mktemp -d)
display_file=$(mktemp)
xvfb=
cleanup() {
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    rm -rf "$tree" "$display_file"
}
trap cleanup EXIT

# A few plausible documents, photos and projects with sizes and dates of their own.
item() {  # item PATH SIZE DATE
    mkdir -p "$tree/$(dirname "$1")"
    truncate -s "$2" "$tree/$1"
    touch -d "$3" "$tree/$1"
}
item "Documents/Annual Report 2025.pdf" 2481152 "2026-02-03 10:12"
item "Documents/Reports/Quarterly report Q1.docx" 48213 "2025-04-11 16:40"
item "Documents/Reports/Quarterly report Q2.docx" 51977 "2025-07-09 09:05"
item "Documents/Reports/Quarterly report Q3.docx" 50342 "2025-10-14 11:27"
item "Documents/Reports/Sales figures 2025.xlsx" 118784 "2025-12-30 17:58"
item "Documents/Letters/Landlord - heating.docx" 19456 "2025-11-02 20:15"
item "Documents/Taxes/2025/Tax return 2025.pdf" 734003 "2026-01-21 08:44"
item "Documents/Templates/report template.dotx" 36864 "2024-09-18 13:30"
item "Photos/2025/Lake Garda/IMG_2041.jpg" 4194304 "2025-08-14 18:02"
item "Photos/2025/Lake Garda/IMG_2042.jpg" 3932160 "2025-08-14 18:03"
item "Photos/2025/Birthday/IMG_1877.heic" 2621440 "2025-05-30 15:21"
item "Photos/Scans/School report 1998.png" 1572864 "2024-12-27 12:00"
item "Projects/garden-planner/README.md" 4096 "2026-01-08 19:33"
item "Projects/garden-planner/src/planner.cpp" 28672 "2026-01-08 19:31"
item "Projects/garden-planner/src/report_view.cpp" 12288 "2026-01-07 22:10"
item "Projects/garden-planner/docs/bug report form.md" 2048 "2025-12-02 09:50"
item "Projects/weather-station/notes.txt" 1024 "2025-06-01 07:15"
item "Projects/weather-station/logs/report-2025-06.csv" 65536 "2025-07-01 00:05"
item "Music/Podcasts/Market report - episode 12.mp3" 31457280 "2025-09-22 06:30"
mkdir -p "$tree/Documents/Reports/Archive"
touch -d "2025-01-15 10:00" "$tree/Documents/Reports/Archive" "$tree/Documents/Reports"

if [ ! -f "$WINEPREFIX/.ready" ]; then
    echo "Making the Wine prefix $WINEPREFIX (once; takes a few seconds)"
    rm -rf "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] || { echo "Wine could not make the prefix" >&2; exit 1; }
    touch "$WINEPREFIX/.ready"
fi
rm -f "$WINEPREFIX/dosdevices/z:"
ln -sfn "$tree" "$WINEPREFIX/dosdevices/d:"
program="$WINEPREFIX/drive_c/Program Files/Orvane"
mkdir -p "$program"
cp "$bin/Orvane.exe" "$bin/ov_gui.exe" "$program/"
# No settings and no saved index from an earlier run; no update check.
rm -rf "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Keltrax"
wine reg delete 'HKCU\Software\Keltrax' /f >/dev/null 2>&1 || true
wine reg add 'HKCU\Software\Keltrax\Orvane' /v AutoUpdate /t REG_DWORD /d 0 /f >/dev/null 2>&1
wineserver -w  # a server started without the display would leave Orvane without a tray

Xvfb -displayfd 5 -screen 0 1280x800x24 -nolisten tcp 5>"$display_file" >/dev/null 2>&1 &
xvfb=$!
# A busy machine can be slow to start it: wait while it lives (two minutes at most).
for _ in $(seq 1200); do [ -s "$display_file" ] || ! kill -0 "$xvfb" 2>/dev/null && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$display_file")"

gui='C:\Program Files\Orvane\ov_gui.exe'
wine 'C:\Program Files\Orvane\Orvane.exe' /search "$search" &
wine "$gui" wait OrvaneMain $((limit * 1000)) >/dev/null || { echo "Orvane's window did not appear" >&2; exit 1; }
if ! wine "$gui" status OrvaneMain "Up to date" $((limit * 1000)) >/dev/null; then
    echo "The drives were not up to date after $limit s" >&2
    wine "$gui" exit OrvaneMain 120000 || true
    exit 1
fi
sleep 2  # the last results and icons paint
# The main window by its title (Wine names its X window after it), cut out of the screen.
geometry=$(xwininfo -root -tree | grep -m1 '"Orvane' | grep -o '[0-9]*x[0-9]*+[0-9-]*+[0-9-]*' | head -n1)
[ -n "$geometry" ] || { echo "No window of Orvane on the display" >&2; exit 1; }
mkdir -p "$(dirname "$out")"
import -window root -crop "$geometry" +repage -strip -colors 256 "PNG8:$out"
wine "$gui" exit OrvaneMain 120000 >/dev/null || echo "Orvane did not end in time" >&2
wineserver -w
echo "Saved $out ($(stat -c %s "$out") bytes, $geometry)"
