#!/bin/bash
# Wine test drives: a Wine prefix of its own whose drive letters show chosen
# Linux folders and NTFS images, for tests that run the engine on "drives".
#
#   wine_drives.sh init PREFIX             make the prefix once (kept while PREFIX/.ready exists); removes
#                                          dosdevices/z: (the whole Linux root) and reports C: as a CD drive,
#                                          so only the test's own letters count as fixed drives
#   wine_drives.sh map PREFIX X FOLDER [LABEL [SERIAL]]
#                                          X: shows FOLDER; LABEL and SERIAL (8 hex digits) go into the
#                                          folder's .windows-label and .windows-serial files
#   wine_drives.sh image PREFIX X IMAGE    X: shows an NTFS image read-only: X:: is a read-only loop device
#                                          (raw volume reads), X: its read-only ntfs-3g mount (files and
#                                          GetVolumeInformationW, which reports "NTFS"; Wine 8 shows no
#                                          label and a serial made from the letter for such a drive)
#   wine_drives.sh type PREFIX X TYPE      what GetDriveTypeW reports for X: (hd, floppy = removable,
#                                          cdrom, network); Wine reads HKLM\Software\Wine\Drives
#   wine_drives.sh unmap PREFIX X          X: is gone (an image is unmounted and its loop device freed)
#   wine_drives.sh restart PREFIX          wineserver -k: Wine caches labels, serials and drive types,
#                                          so run it after map, image or type and before the program
#   wine_drives.sh run PREFIX EXE [ARGS]   runs EXE (a Linux path) from its own folder, mapped as T:
#                                          (reported as a CD drive, so it is not indexed)
#
# Wine facts the tests rely on: the process is always elevated (clear the
# engine's elevated flag, as /forcescan does, to test the folder route on a
# drive); removing a letter while a program runs makes GetDriveTypeW report it
# as having no root folder; a letter's label and serial are read once and kept
# until wineserver restarts (so a running program never sees a disk change
# under a letter); dangling symbolic links are not listed and links to folders
# are reparse points (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT).
set -eu
command=$1
export WINEPREFIX=$(readlink -f "$2")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
shift 2
devices="$WINEPREFIX/dosdevices"
letter() { echo "$1" | tr 'A-Z' 'a-z'; }

set_type() {
    wine reg add 'HKLM\Software\Wine\Drives' /v "$(letter "$1"):" /d "$2" /f >/dev/null 2>&1
}

unmount_image() {
    local x=$(letter "$1")
    local mount="$WINEPREFIX/mounts/$x"
    if mountpoint -q "$mount" 2>/dev/null; then umount "$mount"; fi
    if [ -L "$devices/$x::" ]; then
        local loop=$(readlink "$devices/$x::")
        rm -f "$devices/$x::"
        case "$loop" in /dev/loop*) losetup -d "$loop" 2>/dev/null || true ;; esac
    fi
}

case "$command" in
init)
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$WINEPREFIX/.ready" ]; then
        rm -rf "$WINEPREFIX"
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w
        rm -f "$devices/z:"
        set_type C cdrom
        set_type T cdrom
        wineserver -w
        touch "$WINEPREFIX/.ready"
    fi
    ;;
map)
    x=$(letter "$1")
    unmount_image "$x"
    ln -sfn "$(readlink -f "$2")" "$devices/$x:"
    if [ $# -ge 3 ]; then printf '%s' "$3" >"$2/.windows-label"; fi
    if [ $# -ge 4 ]; then printf '%s' "$4" >"$2/.windows-serial"; fi
    ;;
image)
    x=$(letter "$1")
    unmount_image "$x"
    loop=$(losetup -r -f --show "$(readlink -f "$2")")
    mkdir -p "$WINEPREFIX/mounts/$x"
    ntfs-3g -o ro "$loop" "$WINEPREFIX/mounts/$x"
    ln -sfn "$loop" "$devices/$x::"
    ln -sfn "$WINEPREFIX/mounts/$x" "$devices/$x:"
    ;;
type)
    set_type "$1" "$2"
    ;;
unmap)
    x=$(letter "$1")
    unmount_image "$x"
    rm -f "$devices/$x:"
    ;;
restart)
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    ;;
run)
    exe=$(readlink -f "$1")
    shift
    ln -sfn "$(dirname "$exe")" "$devices/t:"
    cd "$(dirname "$exe")"
    exec wine "T:\\$(basename "$exe")" "$@"
    ;;
*)
    echo "unknown command: $command" >&2
    exit 2
    ;;
esac
