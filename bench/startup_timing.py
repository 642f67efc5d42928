#!/usr/bin/env python3
"""Start-up and shut-down of the real Orvane.exe under Wine on a virtual display,
over a saved index of the benchmark corpus.

Usage: startup_timing.py [--bin DIR]... ROUNDS SIZE...   (SIZE: 1M, 3M, 8M or 10M;
       DIR: where Orvane.exe, ov_gui.exe and ov_saved_index_timing.exe are, by
       default the Windows build's; with several, their rounds alternate, so
       that builds are compared under the same load)

Each size gets a saved index whose volumes are added folders C:\\Corpus\\<name>,
one per top-level folder of the corpus, listed in the program's IndexedFolders
setting, so the program keeps them at start. The folders do not exist in the
prefix: the first scan of each fails at once ("Can't reach this folder right
now") and is tried again a minute later, so the loaded entries stay what the
program shows, holds and saves at exit. (Drive volumes would not do: under
Wine no change journal can be followed, so each would be read again from its
drive and replaced by what that drive holds.) C: and T: count as CD drives in
this prefix, so nothing else is indexed.

Every round starts from the same saved index and the same settings and runs
`ov_gui measure`: start -> visible window, start -> index loaded, start ->
first non-empty results (the empty search that lists everything once the index
is loaded), memory per entry once the volumes are settled, exit message ->
process gone, and of that the save itself (while its temporary file is
there). The file the program saved at exit is then checked: a new file with
every entry.

Beside each round, without the program's window: the load and the first
search (ov_saved_index_timing --first) of the same entries saved as added
folders and as NTFS volumes, and the floor any start has to pay, the file read
into fresh memory and one parallel sort by name (--floor). The medians follow,
with the ratios between them, and with two sizes what one more entry costs in
memory.
"""
import os
import re
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BIN = os.path.join(ROOT, "build", "windows", "bin")
MAKE_INDEX = os.path.join(ROOT, "build", "native", "bin", "ov_make_saved_index")
DRIVES = os.path.join(ROOT, "tests", "engine", "wine_drives.sh")
PREFIX = os.path.join(ROOT, "build", "startup-prefix")
WORK = os.path.join(BIN, "startup-bench")
BASE = "C:\\Corpus"
ENV = dict(os.environ, WINEPREFIX=PREFIX, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")


def saved_index_summary(path):
    """(entry count, [volume roots]) read from a saved index file."""
    with open(path, "rb") as f:
        head = f.read(28)
        if len(head) < 28 or head[:4] != b"OVDB":
            raise ValueError("%s is no saved index" % path)
        n, a, b = struct.unpack_from("<IQQ", head, 8)
        f.seek(28 + 48 * n + a + b)
        data = f.read()
    pos = 0

    def u32():
        nonlocal pos
        v = struct.unpack_from("<I", data, pos)[0]
        pos += 4
        return v

    def text():
        nonlocal pos
        length = u32()
        s = data[pos:pos + 2 * length].decode("utf-16-le")
        pos += 2 * length
        return s

    roots = []
    for _ in range(u32()):
        if u32() == 0:
            continue
        roots.append(text())
        for _ in range(3):
            text()  # name, file system, label
        pos += 4 * 3 + 8 * 2 + 4 + 8 * 2  # serial, added, kind, journal, next USN, root entry, counts
        records = u32()
        pos += 4 * records  # record map
        links = u32()
        pos += 8 * links  # hard links
    return n, roots


def make_index(size, folders=True):
    """The saved index of size's corpus entries: as added folders, or as NTFS volumes."""
    os.makedirs(WORK, exist_ok=True)
    path = os.path.join(WORK, "index-%s%s.db" % (size, "" if folders else "-ntfs"))
    if not os.path.exists(path) or os.path.getmtime(path) < os.path.getmtime(MAKE_INDEX):
        count = str(int(size[:-1]) * 1000000)
        subprocess.run([MAKE_INDEX] + (["--folders", BASE] if folders else []) + ["@" + size, path, count],
                       check=True)
    return path


def timing_tool(binary, mode, index):
    """One run of ov_saved_index_timing MODE over index (a file in WORK): its name=value pairs."""
    out = subprocess.run([DRIVES, "run", PREFIX, os.path.join(binary, "ov_saved_index_timing.exe"), mode,
                          "T:\\startup-bench\\" + os.path.basename(index)], env=ENV, capture_output=True, text=True,
                         timeout=1800)
    subprocess.run(["wineserver", "-w"], env=ENV)
    values = dict(re.findall(r"(\w+)=([\d.]+)", out.stdout))
    if out.returncode != 0 or not values:
        sys.exit("ov_saved_index_timing %s failed (%d): %s %s" % (mode, out.returncode, out.stdout, out.stderr))
    return {k: float(v) for k, v in values.items()}


def wine(*args, **kw):
    return subprocess.run(["wine", *args], env=ENV, **kw)


def write_settings(roots):
    """IndexedFolders as one line per folder (a REG_SZ with newlines), no stored
    placement; and Wine's windows not left to a window manager, as the virtual
    display has none: else Wine waits 2 s for one each time a window is shown
    or hidden (the main window and the tray's, at start and at exit)."""
    value = "\r\n".join(r.rstrip("\\") for r in roots).encode("utf-16-le") + b"\0\0"
    reg = ("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Keltrax\\Orvane]\r\n"
           '"IndexedFolders"=hex(1):%s\r\n"WindowPlacement"=-\r\n\r\n'
           '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n' %
           ",".join("%02x" % c for c in value))
    # The prefix has no drive for the Linux root: the file goes where C: shows it.
    path = os.path.join(PREFIX, "drive_c", "startup-settings.reg")
    # UTF-16, as Wine's regedit takes hex(1) data byte for byte only from such a file.
    with open(path, "wb") as f:
        f.write(b"\xff\xfe" + reg.encode("utf-16-le"))
    try:
        wine("regedit", "/S", "C:\\startup-settings.reg", check=True, stdout=subprocess.DEVNULL,
             stderr=subprocess.DEVNULL)
    finally:
        os.unlink(path)
    got = wine("reg", "query", "HKCU\\Software\\Keltrax\\Orvane", "/v", "IndexedFolders", capture_output=True,
               text=True).stdout
    if roots[0].rstrip("\\") not in got:
        sys.exit("IndexedFolders was not stored: %s" % got)


def saved_path():
    users = os.path.join(PREFIX, "drive_c", "users")
    user = [u for u in os.listdir(users) if u != "Public"][0]
    folder = os.path.join(users, user, "AppData", "Local", "Keltrax", "Orvane")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, "Orvane.db")


def start_display():
    fd, name = tempfile.mkstemp()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(fd), "-screen", "0", "1400x900x24", "-nolisten", "tcp"],
                            pass_fds=(fd,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(fd)
    for _ in range(100):
        with open(name) as f:
            number = f.read().strip()
        if number:
            break
        time.sleep(0.1)
    os.unlink(name)
    if not number:
        xvfb.kill()
        sys.exit("Xvfb did not start")
    return xvfb, ":" + number


def one_round(binary, index, entries, display):
    saved = saved_path()
    for p in (saved, saved + ".tmp"):
        if os.path.exists(p):
            os.unlink(p)
    os.link(index, saved)  # the exit save replaces the link, never the pristine file
    pristine = os.stat(index).st_ino
    out = subprocess.run([DRIVES, "run", PREFIX, os.path.join(binary, "ov_gui.exe"), "measure", "T:\\Orvane.exe"],
                         env=dict(ENV, DISPLAY=display), capture_output=True, text=True, timeout=1800)
    subprocess.run(["wineserver", "-w"], env=ENV)
    line = out.stdout.strip().splitlines()[-1] if out.stdout.strip() else ""
    values = dict(re.findall(r"(\w+)=([\d.]+)", line))
    if out.returncode != 0 or "exit_ms" not in values:
        sys.exit("ov_gui measure failed (%d): %s %s" % (out.returncode, out.stdout, out.stderr))
    saved_entries, _ = saved_index_summary(saved)
    if os.stat(saved).st_ino == pristine or saved_entries != entries:
        sys.exit("the exit did not save the index: %d entries saved, %d loaded" % (saved_entries, entries))
    values = {k: float(v) for k, v in values.items()}
    values["saved_mb"] = os.path.getsize(saved) / 1e6
    return values


def main():
    args = sys.argv[1:]
    binaries = []
    while len(args) >= 2 and args[0] == "--bin":
        binaries.append(os.path.abspath(args[1]))
        args = args[2:]
    binaries = binaries or [BIN]
    if len(args) < 2:
        sys.exit(__doc__)
    rounds = int(args[0])
    sizes = args[1:]
    subprocess.run([DRIVES, "init", PREFIX], check=True)
    # Programs run with their own folder as T:, where the indexes must show too.
    for binary in binaries:
        link = os.path.join(binary, "startup-bench")
        os.makedirs(WORK, exist_ok=True)
        if binary != BIN and not os.path.exists(link):
            os.symlink(WORK, link)
    xvfb, display = start_display()
    load = open("/proc/loadavg").read().split()[:3]
    rows = []
    try:
        for size in sizes:
            index = make_index(size)
            ntfs = make_index(size, folders=False)
            entries, roots = saved_index_summary(index)
            write_settings(roots)
            subprocess.run(["wineserver", "-w"], env=ENV)
            runs = {b: [] for b in binaries}
            for r in range(rounds):
                for binary in binaries:
                    v = one_round(binary, index, entries, display)
                    print("%s %s round %d: window %d ms, loaded %d ms, results %d ms (%d shown), settled %d ms, %.0f MB "
                          "private (%.1f B/entry), %.0f MB working set (%.1f B/entry), exit %d ms (save %d ms), saved "
                          "%.0f MB" % (os.path.basename(binary), size, r + 1, v["window_ms"], v["loaded_ms"],
                                       v["results_ms"], v["results"], v["indexed_ms"], v["private_bytes"] / 1e6,
                                       v["bytes_per_entry"], v["working_set"] / 1e6, v["ws_per_entry"], v["exit_ms"],
                                       v["save_ms"], v["saved_mb"]), flush=True)
                    for name, mode, path in (("folders", "--first", index), ("ntfs", "--first", ntfs),
                                             ("floor", "--floor", index)):
                        t = timing_tool(binary, mode, path)
                        for k, x in t.items():
                            v[name + "_" + k] = x
                    print("  load + first search: added folders %d ms (prepare %d, name order %d), NTFS volumes %d ms "
                          "(prepare %d, name order %d); floor %d ms (read %d, sort %d)" %
                          (v["folders_first_ms"], v["folders_prepare_ms"], v["folders_sort_ms"], v["ntfs_first_ms"],
                           v["ntfs_prepare_ms"], v["ntfs_sort_ms"], v["floor_floor_ms"], v["floor_read_ms"],
                           v["floor_sort_ms"]), flush=True)
                    runs[binary].append(v)
            for binary in binaries:
                rows.append(("%s %s" % (os.path.basename(binary), size), entries,
                             {k: statistics.median(r[k] for r in runs[binary]) for k in runs[binary][0]}))
    finally:
        xvfb.kill()
        xvfb.wait()
    print("\nload average before: %s, after: %s" % (" ".join(load), " ".join(open("/proc/loadavg").read().split()[:3])))
    print("programs from %s; medians of %d rounds" % (", ".join(binaries), rounds))
    print("| index | entries | start -> window | start -> index loaded | start -> first results | private B/entry "
          "| working set B/entry | exit with save | of which the save |")
    print("|---|---|---|---|---|---|---|---|---|")
    for size, entries, m in rows:
        print("| %s | %s | %d ms | %d ms | %d ms | %.1f | %.1f | %d ms | %d ms |" %
              (size, format(entries, ","), m["window_ms"], m["loaded_ms"], m["results_ms"], m["bytes_per_entry"],
               m["ws_per_entry"], m["exit_ms"], m["save_ms"]))
    print("\nload + first search without the window, against the floor (file read into fresh memory + one sort by name)")
    print("| index | added folders | NTFS volumes | floor | folders / NTFS | folders / floor | NTFS / floor "
          "| program's start -> results / floor |")
    print("|---|---|---|---|---|---|---|---|")
    for size, entries, m in rows:
        floor = m["floor_floor_ms"]
        print("| %s | %d ms | %d ms | %d ms | %.2f | %.2f | %.2f | %.2f |" %
              (size, m["folders_first_ms"], m["ntfs_first_ms"], floor, m["folders_first_ms"] / m["ntfs_first_ms"],
               m["folders_first_ms"] / floor, m["ntfs_first_ms"] / floor, m["results_ms"] / floor))
    # What one more entry costs, without the program's and Wine's fixed part.
    if len(sizes) >= 2 and rows[-1][1] != rows[0][1]:
        (a, n0, m0), (b, n1, m1) = rows[len(binaries) - 1], rows[-1]
        print("per added entry (%s to %s): %.1f B private, %.1f B working set" %
              (a, b, (m1["private_bytes"] - m0["private_bytes"]) / (n1 - n0),
               (m1["working_set"] - m0["working_set"]) / (n1 - n0)))


if __name__ == "__main__":
    main()
