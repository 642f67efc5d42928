#!/bin/bash
# Reads real NTFS images through the Windows build's raw-drive path under Wine.
#
# For each image made by make_ntfs_images.py: attach it read-only to a loop
# device (losetup -r), mount that read-only with ntfs-3g, and map it into a
# Wine prefix of this test's own as drive X: (dosdevices/x:: is the raw device
# that "\\.\X:" opens, dosdevices/x: the mounted folder). Then mft_list.exe
# reads the file table with the real WinDev and device factory, with 1, 2 and
# 8 readers, and its listing must equal the image's oracle byte for byte.
# Every loop device, mount and drive link made here is removed on exit.
#
# Usage: mft_wine.sh BUILD_DIR IMAGE_DIR MFT_LIST_EXE. Exit 77 = skipped.
# With "--time IMAGE" added, maps that one image and only times the read with
# 1, 4 and 8 readers (the benchmark volume).
set -u
build=$1 images=$2 exe=$3 timed=${5:-}
skip() { echo "SKIP: $*"; exit 77; }

[ -f "$images/skip-reason.txt" ] && skip "no NTFS images: $(cat "$images/skip-reason.txt")"
[ "$(id -u)" = 0 ] || skip "mapping an image as a drive needs root (losetup, mount)"
for tool in losetup ntfs-3g wine; do command -v $tool >/dev/null || skip "needs $tool"; done

export OV_WINE_PREFIX="$build/wineprefix-drives"
devices="$OV_WINE_PREFIX/dosdevices"
mnt=$(mktemp -d /tmp/ov-wine-ntfs.XXXXXX)
loop=""
cleanup() {
    rm -f "$devices/x:" "$devices/x::"
    mountpoint -q "$mnt" && umount "$mnt"
    [ -n "$loop" ] && losetup -d "$loop"
    loop=""
    rmdir "$mnt" 2>/dev/null
    return 0
}
trap cleanup EXIT

# Make the prefix once (the wrapper creates it on first use).
"$build/wine-run.sh" "$exe" >/dev/null 2>&1

map() {
    loop=$(losetup -r -f --show "$1") || skip "losetup -r failed (no loop devices?)"
    ntfs-3g -o ro "$loop" "$mnt" || return 1
    ln -sfn "$loop" "$devices/x::"
    ln -sfn "$mnt" "$devices/x:"
    WINEPREFIX="$OV_WINE_PREFIX" wineserver -k 2>/dev/null
    return 0
}

if [ -n "$timed" ]; then
    map "$timed" || skip "mount of $timed failed"
    for readers in 1 4 8; do
        echo "$readers readers: $("$build/wine-run.sh" "$exe" X: X: $readers --count 2>&1 | tr -d '\r' | tr '\n' ' ')"
    done
    exit 0
fi

failed=0
for oracle in "$images"/*.oracle; do
    name=$(basename "$oracle" .oracle)
    image="$images/$name.img"
    map "$image" || { echo "mount of $name failed"; failed=1; cleanup; continue; }
    for readers in 1 2 8; do
        out="$build/mft_wine.$name.$readers.txt"
        if ! "$build/wine-run.sh" "$exe" X: X: $readers >"$out" 2>"$out.log"; then
            echo "FAIL $name with $readers readers: $(cat "$out.log")"
            failed=1
        elif ! cmp -s "$out" "$images/$name.oracle"; then
            echo "FAIL $name with $readers readers: listing differs from the mount"
            diff "$images/$name.oracle" "$out" | head -10
            failed=1
        else
            echo "ok $name, $readers readers: $(tr -d '\r' <"$out.log")"
        fi
    done
    cleanup
    mnt=$(mktemp -d /tmp/ov-wine-ntfs.XXXXXX)
done
exit $failed
