# Sourced by test scripts: use_own_prefix BUILD_DIR NAME makes the build's Wine
# prefix once, then a copy of it of the test's own (hard links, registry files
# copied so that writes stay in the copy) and points the runner at it.
use_own_prefix() {
    local base="$1/wineprefix"
    prefix="$1/wineprefix-$2"
    "$1/wine-run.sh" || exit 1
    rm -rf "$prefix"
    cp -al "$base" "$prefix"
    for reg in "$prefix"/*.reg; do cp --remove-destination "$base/$(basename "$reg")" "$reg"; done
    rm -f "$prefix/dosdevices/t:"
    export OV_WINE_PREFIX="$prefix"
}
