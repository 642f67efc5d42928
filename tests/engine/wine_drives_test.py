#!/usr/bin/env python3
"""The engine on drives of a Wine prefix, against find(1) on the Linux side.

Usage: wine_drives_test.py DRIVER.exe WORK_FOLDER

Maps scratch folders as drive letters (tests/engine/wine_drives.sh), runs the
engine's driver program with the elevated flag cleared (/forcescan: the folder
route) and checks what it indexed, the status texts and the posted messages.
Wine does not list dangling symbolic links, so find's view leaves them out.
Given the folder of the NTFS test images, it also maps one as a raw drive and
checks that the elevated engine reads it through its file table.
"""
import os
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
HARNESS = os.path.join(HERE, "wine_drives.sh")
failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
        print("FAILED:", what)


def drives(command, prefix, *args):
    subprocess.run([HARNESS, command, prefix, *args], check=True)


class Driver:
    def __init__(self, prefix, exe):
        self.process = subprocess.Popen([HARNESS, "run", prefix, exe], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, encoding="utf-8", errors="surrogateescape")

    def ask(self, line):
        self.process.stdin.write(line + "\n")
        self.process.stdin.flush()
        answer = []
        for out in self.process.stdout:
            out = out.rstrip("\r\n")
            if out == "end":
                return answer
            answer.append(out)
        raise RuntimeError("the driver ended while answering " + line)

    def dump(self):
        volumes, entries, messages = {}, {}, None
        for line in self.ask("dump"):
            f = line.split("\t")
            if f[0] == "V":
                volumes[int(f[1])] = {"serial": f[2], "kind": int(f[3]), "added": f[4] == "1", "root": f[5],
                                      "label": f[6], "fs": f[7], "status": f[8], "scanMs": f[9]}
            elif f[0] == "E":
                entries.setdefault(int(f[1]), {})[f[4].replace("\\", "/")] = (int(f[2], 16), int(f[3]))
            elif f[0] == "M":
                messages = (int(f[1]), int(f[2]))
        return volumes, entries, messages

    def close(self):
        self.process.stdin.write("quit\n")
        self.process.stdin.close()
        self.process.wait(timeout=60)


def find_tree(root):
    out = subprocess.run(["find", root, "-mindepth", "1", "!", "-xtype", "l", "-printf", r"%P\t%y\t%s\n"],
                         check=True, capture_output=True, encoding="utf-8", errors="surrogateescape").stdout
    tree = {}
    for line in out.splitlines():
        path, kind, size = line.split("\t")
        tree[path] = (kind, int(size) if kind == "f" else 0)
    return tree


def index_tree(entries):
    """Index entries of one slot as find shows them: d, f or l (a link, listed but not entered)."""
    tree = {}
    for path, (flags, size) in entries.items():
        if path == "":
            continue
        kind = "l" if flags & 0x400 else "d" if flags & 0x80000000 else "f"
        tree[path] = (kind, size if kind == "f" else 0)
    return tree


def check_sizes(entries, what):
    """Every folder's size is the sum of the files below it."""
    below = {}
    for path, (flags, size) in entries.items():
        if flags & 0x80000000:
            continue
        parts = path.split("/")
        for depth in range(len(parts)):
            folder = "/".join(parts[:depth])
            below[folder] = below.get(folder, 0) + size
    for path, (flags, size) in entries.items():
        if flags & 0x80000000 and not flags & 0x400:
            expect(size == below.get(path, 0), "%s: folder %r holds %d bytes, its files %d" %
                   (what, path, size, below.get(path, 0)))


def make_tree(root):
    os.makedirs(os.path.join(root, "sub", "deeper"))
    for name in ["Ünïcödé ß.txt", "日本語", "emoji 😀.md", ".profile", "sub/.hidden", "sub/deeper/x"]:
        with open(os.path.join(root, name), "w") as f:
            f.write(name)
    with open(os.path.join(root, "five.bin"), "wb") as f:
        f.truncate(5 * 1024 * 1024)
    deep = os.path.join(root, *[chr(ord("a") + i) * 100 for i in range(7)])
    os.makedirs(deep)
    with open(os.path.join(deep, "end.txt"), "w") as f:
        f.write("long")
    os.symlink("..", os.path.join(root, "sub", "loop"))
    os.symlink("/nonexistent-ov-target", os.path.join(root, "dangling"))


def big_tree(work):
    """200 folders of 1,000 empty files, made once per work folder."""
    root = os.path.join(work, "big")
    if not os.path.exists(os.path.join(root, ".complete")):
        shutil.rmtree(root, ignore_errors=True)
        for i in range(200):
            folder = os.path.join(root, "folder%03d" % i)
            os.makedirs(folder)
            for j in range(1000):
                open(os.path.join(folder, "file%04d.txt" % j), "w").close()
        open(os.path.join(root, ".complete"), "w").close()
    return root


def oracle_tree(path):
    """The image oracle (made from a read-only ntfs-3g mount) as index_tree shows it."""
    tree = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            rel, kind, size = line.rstrip("\n").split("\t")[:3]
            if rel != "X:":
                tree[rel[len("X:/"):]] = ("d" if kind == "D" else "f", int(size))
    return tree


def check_file_table_route(prefix, driver_exe, images):
    image = os.path.join(images, "mixed.img")
    if not os.path.exists(image):
        print("SKIPPED: no NTFS test image in %s (the ntfs_images fixture makes them as root)" % images)
        return
    drives("image", prefix, "X", image)
    drives("restart", prefix)  # Wine takes new drives in at its start
    driver = Driver(prefix, driver_exe)
    try:
        driver.ask("elevated 1")
        driver.ask("refresh")
        expect(driver.ask("wait 120") == ["idle"], "the file-table read ends")
        volumes, entries, _ = driver.dump()
        x = [s for s, v in volumes.items() if v["root"] == "X:\\"]
        expect(len(x) == 1, "X: is a volume")
        if not x:
            return
        status = volumes[x[0]]["status"]
        expect(volumes[x[0]]["kind"] == 1 and "(read the NTFS file table, " in status, "X: status: " + status)
        got = {p: (k, size) for p, (k, size) in index_tree(entries.get(x[0], {})).items()}
        want = oracle_tree(os.path.join(images, "mixed.oracle"))
        expect(got == want, "X: holds what the read-only mount shows (%d entries, %d expected; first differences %s)" %
               (len(got), len(want), sorted(set(got.items()) ^ set(want.items()))[:6]))
    finally:
        driver.close()
        drives("unmap", prefix, "X")


def main():
    driver_exe, work = sys.argv[1], sys.argv[2]
    images = sys.argv[3] if len(sys.argv) > 3 else ""
    prefix = os.path.join(work, "prefix")
    trees = os.path.join(work, "trees")
    shutil.rmtree(trees, ignore_errors=True)
    os.makedirs(work, exist_ok=True)
    drive_d, drive_e, drive_f = (os.path.join(trees, n) for n in ["d", "e", "f"])
    make_tree(drive_d)
    make_tree(os.path.join(drive_e, "added"))
    os.makedirs(os.path.join(drive_e, "empty"))
    os.makedirs(drive_f)
    open(os.path.join(drive_f, "stick.txt"), "w").close()

    drive_g = os.path.join(trees, "g")
    os.makedirs(drive_g)
    drives("init", prefix)
    drives("map", prefix, "G", drive_g)  # empty until the stop test shows the big tree there
    drives("map", prefix, "D", drive_d, "Data One", "1234abcd")
    drives("map", prefix, "E", drive_e)
    drives("type", prefix, "E", "cdrom")  # only its added folders count
    drives("map", prefix, "F", drive_f)
    drives("type", prefix, "F", "floppy")
    drives("restart", prefix)

    driver = Driver(prefix, driver_exe)
    try:
        for line in ["elevated 0", "folder E:\\added", "folder E:\\ADDED\\", "folder E:\\empty",
                     "folder E:\\missing", "refresh"]:
            driver.ask(line)
        expect(driver.ask("wait 300") == ["idle"], "first scans end")
        volumes, entries, messages = driver.dump()
        roots = {v["root"]: s for s, v in volumes.items()}
        expect(sorted(roots) == ["D:\\", "E:\\added\\", "E:\\empty\\", "E:\\missing\\", "G:\\"],
               "volumes: %s (a removable drive only with the option, E:\\ADDED\\ is E:\\added\\)" % sorted(roots))
        d = roots.get("D:\\")
        expect(volumes[d]["label"] == "Data One" and volumes[d]["serial"] == "1234abcd", "label and serial of D:")
        expect(index_tree(entries.get(d, {})) == find_tree(drive_d), "D: holds what find sees")
        check_sizes(entries.get(d, {}), "D:")
        expect(volumes[d]["status"].endswith(" (scanned folders - run Orvane as administrator for the instant "
                                             "NTFS method)"), "D: done text: " + volumes[d]["status"])
        added = roots.get("E:\\added\\")
        expect(index_tree(entries.get(added, {})) == find_tree(os.path.join(drive_e, "added")),
               "the added folder holds what find sees")
        check_sizes(entries.get(added, {}), "E:\\added")
        expect(volumes[added]["status"].endswith(" (scanned folders)"), "added folder text")
        empty = roots.get("E:\\empty\\")
        expect(list(entries.get(empty, {})) == [""], "an empty folder is its root alone")
        expect(volumes[empty]["status"].startswith("Indexed 0 files and 0 folders in "), volumes[empty]["status"])
        missing = volumes[roots.get("E:\\missing\\")]["status"]
        expect(missing in ("Can't reach this folder right now (2)", "Can't reach this folder right now (3)"), missing)
        expect(messages is not None and messages[0] >= 1 and messages[1] >= 1, "posted messages %s" % (messages,))

        driver.ask("removable 1")
        driver.ask("refresh")
        driver.ask("wait 120")
        volumes, entries, _ = driver.dump()
        f = [s for s, v in volumes.items() if v["root"] == "F:\\"]
        expect(len(f) == 1 and list(index_tree(entries.get(f[0], {}))) == ["stick.txt"], "F: with the option")

        drives("unmap", prefix, "D")
        driver.ask("refresh")
        volumes, entries, _ = driver.dump()
        expect(d not in volumes and d not in entries, "a removed letter drops its volume and entries")
        drives("map", prefix, "D", drive_d)
        driver.ask("refresh")
        driver.ask("wait 120")
        volumes, entries, _ = driver.dump()
        expect(volumes.get(d, {}).get("root") == "D:\\" and index_tree(entries.get(d, {})) == find_tree(drive_d),
               "a restored letter is scanned again into the lowest free slot")

        # A stop during a rescan of 200,000 items returns at once, leaves the index
        # as it was and ends every volume's first pass exactly once.
        drives("map", prefix, "G", big_tree(work))
        driver.ask("rebuild")
        stopped = driver.ask("stop")
        ms = int(stopped[0].split("\t")[1]) if stopped else 99999
        expect(ms < 1000, "Stop took %d ms" % ms)
        expect(driver.ask("wait 30") == ["idle"], "busy volumes back to 0 after the stop")
        volumes, entries, _ = driver.dump()
        g = [s for s, v in volumes.items() if v["root"] == "G:\\"]
        expect(len(g) == 1 and list(entries.get(g[0], {})) == [""], "a stopped scan merges nothing: %s %s" % (
            [volumes[s] for s in g], [len(entries.get(s, {})) for s in g]))
    finally:
        driver.close()
    if images:
        check_file_table_route(prefix, driver_exe, images)
    print("%d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
