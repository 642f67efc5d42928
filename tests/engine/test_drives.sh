#!/bin/bash
# Maps two small file systems into the Wine prefix of the Windows tests, for the
# saved-index tests that need a save to fail: Q: a 256 KiB tmpfs that fills up,
# R: a read-only tmpfs holding an empty saved index. Needs root; without it (or
# without tmpfs) nothing is mapped and those tests skip.
#   test_drives.sh setup|cleanup BUILD_DIR WINEPREFIX WINE_RUN TEST_EXE
set -u
action=$1 build=$2 prefix=$3 winerun=$4 exe=$5
full=$build/test-drives/full
readonly=$build/test-drives/readonly

unmap() {
    rm -f "$prefix/dosdevices/q:" "$prefix/dosdevices/r:"
    for d in "$full" "$readonly"; do
        if mountpoint -q "$d" 2>/dev/null; then umount -l "$d"; fi
    done
}

case "$action" in
setup)
    # The prefix is made by the first program run in it.
    "$winerun" "$exe" --gtest_list_tests >/dev/null 2>&1 || true
    unmap
    mkdir -p "$full" "$readonly"
    if ! mount -t tmpfs -o size=256k tmpfs "$full" 2>/dev/null ||
        ! mount -t tmpfs -o size=64k tmpfs "$readonly" 2>/dev/null; then
        echo "test_drives.sh: cannot mount tmpfs (not root?); the drive tests will skip"
        unmap
        exit 0
    fi
    { printf 'OVDB\002\000\000\000'; head -c 28 /dev/zero; printf 'END!'; } >"$readonly/Orvane.db"
    mount -o remount,ro "$readonly"
    ln -sfn "$full" "$prefix/dosdevices/q:"
    ln -sfn "$readonly" "$prefix/dosdevices/r:"
    echo "test_drives.sh: Q: is a full drive, R: a read-only one"
    ;;
cleanup)
    unmap
    ;;
esac
