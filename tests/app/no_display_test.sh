#!/bin/bash
# Orvane started where no window can be made (a Wine session without a
# display) fails with exit code 1 and ends its threads first, rather than
# aborting on a thread still running at exit.
# Usage: no_display_test.sh BUILD_DIR ORVANE.exe
set -u
build=$1 exe=$2
. "$(dirname "$0")/../support/own_wine_prefix.sh"
use_own_prefix "$build" nodisplay
unset DISPLAY WAYLAND_DISPLAY
out=$(OV_TEST_TIMEOUT=600 "$build/wine-run.sh" "$exe" /tray 2>&1)
status=$?
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
rm -rf "$prefix"
if [ $status -ne 1 ] || grep -q 'terminate called' <<<"$out"; then
    echo "FAILED: exit code $status (1 expected); output:"
    echo "$out" | tail -20
    exit 1
fi
echo "exit code 1, no abort"
