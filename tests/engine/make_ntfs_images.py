#!/usr/bin/env python3
"""Makes the NTFS test volumes and their oracles.

Each image is formatted by mkntfs and filled through an ntfs-3g mount, so the
on-disk structures come from another implementation than ours. The oracle is
the same volume mounted read-only by ntfs-3g and walked from Linux: one line
per file or folder, "path<TAB>D|F<TAB>size<TAB>modified<TAB>created<TAB>attributes"
(times as FILETIME ticks, attributes as the low word of the record's
attributes), sorted. Paths start at "X:" and use "/".

The change-journal test gets a series: journal0.img and journal1..6.img, each
the one before changed through ntfs-3g (renames, moves, deletes, new trees,
hard links, appends, attributes, records freed and taken again at once),
without oracles: the test reads each whole.

Usage: make_ntfs_images.py OUTDIR. Images are made once and kept while this
script is unchanged. make_ntfs_images.py --million IMAGE makes the benchmark's
volume of about a million records the same way, without an oracle. Needs root, /dev/fuse, mkntfs, ntfs-3g and setfattr;
without them OUTDIR/skip-reason.txt says why and the exit code is still 0,
so the tests that need the images skip with that reason.
"""
import fcntl
import hashlib
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

IMAGES = {
    # name: (size in MiB, extra mkntfs options, filler)
    "mixed": (64, [], "fill_mixed"),
    "fragmented": (40, [], "fill_fragmented"),
    "records4k": (48, ["-s", "4096"], "fill_records4k"),
}


def run(*cmd):
    subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def write(path, data=b""):
    with open(path, "wb") as f:
        f.write(data)


def set_attrib(path, value):
    os.setxattr(path, "system.ntfs_attrib", struct.pack("<I", value))


def set_times(path, created, modified):
    # created, last write, last access, record change
    os.setxattr(path, "system.ntfs_times", struct.pack("<4Q", created, modified, modified, modified))


def set_dos_name(path, short):
    os.setxattr(path, "system.ntfs_dos_name", short.encode())


def hard_links(root, count):
    os.makedirs(os.path.join(root, "links", "more"))
    target = os.path.join(root, "links", "target.bin")
    write(target, b"L" * 3000)
    for i in range(count):
        folder = "links" if i % 2 else os.path.join("links", "more")
        os.link(target, os.path.join(root, folder, "link %02d with a longer name.bin" % i))


def unicode_names(root):
    for name in ["Привет мир.txt", "Ёлка", "日本語のファイル.txt", "中文目录", "emoji 😀🎉.txt", "🦀",
                 "Ünïcödé Ñame.TXT", "MiXeD CaSe.Doc", "mixed case.doc"]:
        path = os.path.join(root, name)
        if "." in name:
            write(path, name.encode() * 3)
        else:
            os.mkdir(path)
            write(os.path.join(path, "внутри.txt"), b"x")


def dos_names(root):
    write(os.path.join(root, "Long File Name Document.txt"), b"dos")
    set_dos_name(os.path.join(root, "Long File Name Document.txt"), "LONGFI~1.TXT")
    os.mkdir(os.path.join(root, "Program Files Test"))
    set_dos_name(os.path.join(root, "Program Files Test"), "PROGRA~1")
    write(os.path.join(root, "Program Files Test", "app settings.json"), b"{}")
    set_dos_name(os.path.join(root, "Program Files Test", "app settings.json"), "APPSET~1.JSO")


def many_files(root, folders, per_folder, rng):
    for d in range(folders):
        folder = os.path.join(root, "tree", "folder %03d" % d)
        os.makedirs(folder)
        for f in range(per_folder):
            size = rng.choice([0, 10, 700, 1500, 5000])
            write(os.path.join(folder, "file %04d.dat" % f), b"d" * size)


def deleted_files(root, count):
    folder = os.path.join(root, "gone")
    os.mkdir(folder)
    for i in range(count):
        write(os.path.join(folder, "deleted %d.tmp" % i), b"z" * 100)
    for i in range(count):
        os.remove(os.path.join(folder, "deleted %d.tmp" % i))
    os.rmdir(folder)


def deep_tree(root, levels, name):
    deep = root
    for i in range(levels):
        deep = os.path.join(deep, name % i)
    os.makedirs(deep)
    write(os.path.join(deep, "bottom.txt"), b"deep")


def special_files(root):
    sparse = os.path.join(root, "sparse.bin")
    with open(sparse, "wb") as f:
        f.seek(200 * 1024 * 1024)
        f.write(b"end")
    with open(os.path.join(root, "grown sparse.vhd"), "wb") as f:
        f.truncate(1 << 30)
    streams = os.path.join(root, "with streams.txt")
    write(streams, b"main")
    os.setxattr(streams, "user.small", b"s")
    os.setxattr(streams, "user.large", b"L" * 20000)
    hidden = os.path.join(root, "hidden system.sys")
    write(hidden, b"h")
    set_attrib(hidden, 0x26)
    readonly = os.path.join(root, "read only.txt")
    write(readonly, b"r")
    set_attrib(readonly, 0x21)
    timed = os.path.join(root, "timed.txt")
    write(timed, b"t")
    set_times(timed, 125000000000000000, 130000000000000000)
    os.mkdir(os.path.join(root, "timed folder"))
    set_times(os.path.join(root, "timed folder"), 126000000000000000, 129000000000000000)
    os.mkdir(os.path.join(root, "empty folder"))
    deep_tree(root, 70, "level%02d")


def fill_mixed(root):
    rng = random.Random(11)
    unicode_names(root)
    dos_names(root)
    hard_links(root, 45)
    special_files(root)
    deleted_files(root, 300)
    many_files(root, 30, 100, rng)


def fill_records4k(root):
    rng = random.Random(12)
    unicode_names(root)
    dos_names(root)
    hard_links(root, 60)
    special_files(root)
    deleted_files(root, 100)
    many_files(root, 10, 80, rng)


def fill_fragmented(root):
    # Fill the volume with one-cluster files, free every other one, then make
    # so many records that the table grows through the holes.
    folder = os.path.join(root, "fill")
    os.mkdir(folder)
    made = 0
    try:
        while True:
            write(os.path.join(folder, "f%05d" % made), b"c" * 4096)
            made += 1
    except OSError:
        pass
    for i in range(0, made, 2):
        path = os.path.join(folder, "f%05d" % i)
        if os.path.exists(path):
            os.remove(path)
    again = os.path.join(root, "again")
    os.mkdir(again)
    for i in range(made * 2):
        try:
            write(os.path.join(again, "g%05d" % i))
        except OSError:
            break


def fill_journal0(root):
    for folder in ["docs/old", "projects/alpha/src", "projects/alpha/build/obj", "projects/beta", "photos/2020",
                   "photos/2021", "swap/X/Y", "leaving/sub", "bulk"]:
        os.makedirs(os.path.join(root, folder))
    for name, size in [("docs/report.txt", 1000), ("docs/notes.txt", 20), ("docs/Readme.md", 300),
                       ("docs/old/a.txt", 5), ("docs/old/b.txt", 6), ("projects/alpha/src/main.c", 900),
                       ("projects/alpha/src/util.c", 400), ("projects/alpha/build/obj/out.o", 7000),
                       ("projects/beta/x.txt", 1), ("swap/X/Y/inside.txt", 11), ("swap/X/x.txt", 12),
                       ("leaving/stay.txt", 13), ("leaving/mover.txt", 14), ("leaving/sub/deep.txt", 15),
                       ("attrs.txt", 16), ("times.txt", 17)]:
        write(os.path.join(root, name), b"j" * size)
    for year in ("2020", "2021"):
        for i in range(15):
            write(os.path.join(root, "photos", year, "img%02d.jpg" % i), b"p" * (100 * i))
    for i in range(150):
        write(os.path.join(root, "bulk", "file%03d.dat" % i), b"b" * (i % 7 * 300))
    hard_links(root, 10)
    dos_names(root)
    deep_tree(root, 40, "d%02d")


def journal_stage1(root):
    j = lambda *parts: os.path.join(root, *parts)
    os.rename(j("docs", "report.txt"), j("docs", "report-final.txt"))
    os.rename(j("docs", "notes.txt"), j("docs", "NOTES.txt"))
    os.rename(j("projects", "beta"), j("projects", "Beta"))
    os.rename(j("docs", "old", "a.txt"), j("projects", "alpha", "a.txt"))
    os.rename(j("projects", "alpha", "build"), j("docs", "build"))
    os.rename(j("Long File Name Document.txt"), j("Renamed Long Document.txt"))
    level = j("new")
    for i, name in enumerate(["one", "two", "three", "four"]):
        level = os.path.join(level, name)
        os.makedirs(level)
        write(os.path.join(level, "at level %d.txt" % i), b"n" * (i + 1) * 100)
    os.link(j("links", "target.bin"), j("new", "one", "link.bin"))
    os.link(j("links", "target.bin"), j("links", "extra link.bin"))
    with open(j("docs", "Readme.md"), "ab") as f:
        f.write(b"appended" * 500)
    set_attrib(j("attrs.txt"), 0x22)
    set_times(j("times.txt"), 125000000000000000, 131000000000000000)
    os.remove(j("docs", "old", "b.txt"))


def journal_stage2(root):
    j = lambda *parts: os.path.join(root, *parts)
    # Moves into folders made in the same batch, and a folder that goes after
    # what it held moved out.
    os.mkdir(j("fresh"))
    os.rename(j("photos", "2021"), j("fresh", "2021"))
    os.rename(j("docs", "Readme.md"), j("fresh", "Readme.md"))
    os.makedirs(j("fresh", "inner"))
    os.rename(j("photos", "2020"), j("fresh", "inner", "2020"))
    os.rename(j("leaving", "mover.txt"), j("docs", "mover.txt"))
    os.rename(j("leaving", "sub"), j("docs", "sub"))
    os.remove(j("leaving", "stay.txt"))
    os.rmdir(j("leaving"))
    # /swap/X/Y becomes /swap/Y/X.
    os.rename(j("swap", "X", "Y"), j("swap", "Y"))
    os.rename(j("swap", "X"), j("swap", "Y", "X"))
    shutil.rmtree(j("new", "one", "two"))
    for i in range(0, 150, 2):
        os.remove(j("bulk", "file%03d.dat" % i))
    # So many names that the record's attribute list leaves the record.
    os.mkdir(j("big"))
    write(j("big", "linked.dat"), b"k" * 5000)
    for i in range(300):
        os.link(j("big", "linked.dat"), j("big", "name number %03d of a much linked file.dat" % i))
    os.mkdir(j("reuse"))
    for i in range(40):
        write(j("reuse", "r%02d.txt" % i), b"r" * i)


def journal_stage3(root):
    j = lambda *parts: os.path.join(root, *parts)
    for name in os.listdir(j("big")):
        os.remove(j("big", name))
    os.rename(j("fresh"), j("Fresh Renamed"))
    set_attrib(j("docs"), 0x12)
    for i in range(0, 40, 3):
        os.remove(j("reuse", "r%02d.txt" % i))
    for i in range(60):
        write(j("bulk", "again%02d.dat" % i), b"a" * i)
    shutil.rmtree(j("swap", "Y", "X"))


def journal_stage4(root):
    j = lambda *parts: os.path.join(root, *parts)
    # A folder moved into a new one that then moves into a folder made later,
    # perhaps on the record of a file deleted just before.
    os.mkdir(j("made first"))
    for i in range(16):
        write(j("made first", "inside %02d.txt" % i), b"i" * i)
    os.rename(j("docs", "build"), j("made first", "build"))
    os.remove(j("times.txt"))
    os.mkdir(j("made later"))
    os.rename(j("made first"), j("made later", "made first"))
    # A folder moved, its child leaves it and takes it in (a swap), then the
    # folder goes once empty.
    os.rename(j("projects", "alpha"), j("alpha moved"))
    os.rename(j("alpha moved", "src"), j("src out"))
    os.rename(j("alpha moved"), j("src out", "alpha"))
    os.remove(j("src out", "alpha", "a.txt"))
    os.rmdir(j("src out", "alpha"))


def take_record(record, make, spare):
    """Makes entries with make() until one gets the file record `record` (or
    one of a set) (ntfs-3g shows record numbers as inode numbers); the others
    are renamed into the folder spare. Returns the entry's path."""
    records = record if isinstance(record, set) else {record}
    for i in range(5000):
        path = make()
        if os.stat(path).st_ino in records:
            return path
        os.rename(path, os.path.join(spare, "spare %04d" % len(os.listdir(spare))))
    raise RuntimeError("record %d was not taken again" % record)


def make_file(path, data):
    def make():
        write(path, data)
        return path
    return make


def make_folder(path):
    def make():
        os.mkdir(path)
        return path
    return make


def journal_stage5(root):
    j = lambda *parts: os.path.join(root, *parts)
    os.mkdir(j("spare5"))
    # A folder removed, its record taken by a file elsewhere.
    old = os.stat(j("docs", "old")).st_ino
    os.rmdir(j("docs", "old"))
    take_record(old, make_file(j("projects", "took old.txt"), b"t" * 33), j("spare5"))
    # A folder removed, its record taken by a folder that receives children
    # moved from elsewhere.
    beta = os.stat(j("projects", "Beta")).st_ino
    os.rename(j("projects", "Beta", "x.txt"), j("x from beta.txt"))
    os.rmdir(j("projects", "Beta"))
    took = take_record(beta, make_folder(j("docs", "took beta")), j("spare5"))
    os.rename(j("docs", "sub"), os.path.join(took, "sub"))
    os.rename(j("docs", "mover.txt"), os.path.join(took, "mover.txt"))
    # A folder removed, its record taken by an empty folder.
    inner = os.stat(j("Fresh Renamed", "inner", "2020")).st_ino
    shutil.rmtree(j("Fresh Renamed", "inner", "2020"))
    take_record(inner, make_folder(j("Fresh Renamed", "new 2020")), j("spare5"))


def journal_stage6(root):
    j = lambda *parts: os.path.join(root, *parts)
    # What the next stage frees and takes again.
    os.makedirs(j("A", "B", "b inner"))
    write(j("A", "B", "b.txt"), b"b")
    os.makedirs(j("C", "c inner"))
    write(j("C", "c inner", "c.txt"), b"c" * 3)
    os.mkdir(j("D"))
    for outer in ("G1", "G2"):
        os.makedirs(j(outer, "K", "k inner"))
        write(j(outer, "K", "k.txt"), b"k")


def journal_stage7(root):
    j = lambda *parts: os.path.join(root, *parts)
    os.mkdir(j("spare7"))
    # A is moved and renamed twice; its child B goes and B's record becomes a
    # file inside what B held.
    os.rename(j("A"), j("docs", "A moved"))
    os.rename(j("docs", "A moved"), j("src out", "A twice"))
    a = j("src out", "A twice")
    b = os.stat(os.path.join(a, "B")).st_ino
    os.rename(os.path.join(a, "B", "b inner"), os.path.join(a, "b inner"))
    os.remove(os.path.join(a, "B", "b.txt"))
    os.rmdir(os.path.join(a, "B"))
    take_record(b, make_file(os.path.join(a, "b inner", "was B.txt"), b"w" * 7), j("spare7"))
    # C moves into D and out again, D goes and its record becomes a folder;
    # then C goes and its record becomes a folder in A that takes in what C
    # held, with D's new folder inside it: two levels of reuse, one inside
    # the other, below the moved A.
    os.rename(j("C"), j("D", "C"))
    os.rename(j("D", "C"), j("C back"))
    d = os.stat(j("D")).st_ino
    os.rmdir(j("D"))
    took_d = take_record(d, make_folder(j("took D")), j("spare7"))
    c = os.stat(j("C back")).st_ino
    os.rename(j("C back", "c inner"), j("c inner out"))
    os.rmdir(j("C back"))
    took_c = take_record(c, make_folder(os.path.join(a, "took C")), j("spare7"))
    os.rename(j("c inner out"), os.path.join(took_c, "c inner"))
    os.rename(took_d, os.path.join(took_c, "c inner", "took D"))
    os.rename(os.path.join(a, "b inner"), os.path.join(took_c, "c inner", "took D", "b inner"))
    # A folder inside a folder, both removed: the inner one's record becomes a
    # file; the outer one's stays free, or becomes a file too.
    for outer, outer_too in (("G1", False), ("G2", True)):
        wanted = {os.stat(j(outer, "K")).st_ino: j("was %s K.txt" % outer)}
        if outer_too:
            wanted[os.stat(j(outer)).st_ino] = j("was %s.txt" % outer)
        shutil.rmtree(j(outer))
        while wanted:
            path = take_record(set(wanted), make_file(j("spare7", "taking"), b"g" * 5), j("spare7"))
            os.rename(path, wanted.pop(os.stat(path).st_ino))


JOURNAL_STAGES = [journal_stage1, journal_stage2, journal_stage3, journal_stage4, journal_stage5, journal_stage6,
                  journal_stage7]


def make_journal(outdir):
    previous = os.path.join(outdir, "journal0.img")
    make_image(previous, 32, [], fill_journal0)
    for i, stage in enumerate(JOURNAL_STAGES, 1):
        image = os.path.join(outdir, "journal%d.img" % i)
        partial = image + ".partial"
        subprocess.run(["cp", "--sparse=always", previous, partial], check=True)
        mount = tempfile.mkdtemp(prefix="ov-ntfs-")
        try:
            run("ntfs-3g", partial, mount)
            try:
                stage(mount)
            finally:
                run("umount", mount)
            os.rename(partial, image)
        finally:
            os.rmdir(mount)
        previous = image


def fill_million(root):
    rng = random.Random(13)
    words = ["report", "invoice", "photo", "IMG", "backup", "notes", "Setup", "readme", "данные", "資料", "draft"]
    exts = [".txt", ".jpg", ".pdf", ".docx", ".dll", ".log", ""]
    for d in range(1000):
        folder = os.path.join(root, "folder %04d" % d, "sub %d" % (d % 7))
        os.makedirs(folder)
        for f in range(999):
            name = "%s %06d %s%s" % (rng.choice(words), d * 1000 + f, rng.choice(words), rng.choice(exts))
            write(os.path.join(folder, name), b"x" * rng.choice([0, 0, 0, 100, 600]))


def make_million(image):
    make_image(image, 3 << 10, [], fill_million)


def oracle_line(path, rel, is_dir):
    st = os.lstat(path)
    created, modified = struct.unpack("<4Q", os.getxattr(path, "system.ntfs_times"))[:2]
    attributes = struct.unpack("<I", os.getxattr(path, "system.ntfs_attrib"))[0] & 0xFFFF
    return "%s\t%s\t%d\t%d\t%d\t%d" % (rel, "D" if is_dir else "F", 0 if is_dir else st.st_size, modified, created,
                                       attributes)


def oracle(mount):
    lines = [oracle_line(mount, "X:", True)]
    for folder, dirs, files in os.walk(mount):
        rel = "X:" + folder[len(mount):]
        for d in dirs:
            lines.append(oracle_line(os.path.join(folder, d), rel + "/" + d, True))
        for f in files:
            lines.append(oracle_line(os.path.join(folder, f), rel + "/" + f, False))
    return sorted(lines)


def make_image(image, size, options, fill, with_oracle=None):
    partial = image + ".partial"
    mount = tempfile.mkdtemp(prefix="ov-ntfs-")
    try:
        if os.path.exists(partial):
            os.remove(partial)
        with open(partial, "wb") as f:
            f.truncate(size << 20)
        run("mkntfs", "-F", "-f", "-q", *options, partial)
        run("ntfs-3g", partial, mount)
        try:
            fill(mount)
        finally:
            run("umount", mount)
        if with_oracle:
            run("ntfs-3g", "-o", "ro", partial, mount)
            try:
                lines = oracle(mount)
            finally:
                run("umount", mount)
            with open(with_oracle, "w", encoding="utf-8") as f:
                f.write("\n".join(lines) + "\n")
        os.rename(partial, image)
    finally:
        os.rmdir(mount)


def make(outdir, name):
    size, options, filler = IMAGES[name]
    make_image(os.path.join(outdir, name + ".img"), size, options, globals()[filler],
               os.path.join(outdir, name + ".oracle"))


def missing_tools():
    if os.geteuid() != 0:
        return "making NTFS test images needs root (for FUSE mounts)"
    if not os.path.exists("/dev/fuse"):
        return "making NTFS test images needs /dev/fuse"
    for tool in ("mkntfs", "ntfs-3g", "umount"):
        if not shutil.which(tool):
            return "making NTFS test images needs %s (packages ntfs-3g, mount)" % tool
    return None


def main():
    if sys.argv[1] == "--million":
        reason = missing_tools()
        if reason:
            print("SKIP: " + reason)
            return 1
        make_million(os.path.abspath(sys.argv[2]))
        return 0
    outdir = os.path.abspath(sys.argv[1])
    os.makedirs(outdir, exist_ok=True)
    stamp = hashlib.sha256(open(__file__, "rb").read()).hexdigest()
    with open(os.path.join(outdir, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        stamp_path = os.path.join(outdir, "stamp")
        skip_path = os.path.join(outdir, "skip-reason.txt")
        if os.path.exists(stamp_path) and open(stamp_path).read() == stamp:
            return 0
        reason = missing_tools()
        if reason:
            write(skip_path, reason.encode())
            print("SKIP: " + reason)
            return 0
        if os.path.exists(skip_path):
            os.remove(skip_path)
        for name in IMAGES:
            for ext in (".img", ".oracle"):
                if os.path.exists(os.path.join(outdir, name + ext)):
                    os.remove(os.path.join(outdir, name + ext))
            make(outdir, name)
        for i in range(len(JOURNAL_STAGES) + 1):
            path = os.path.join(outdir, "journal%d.img" % i)
            if os.path.exists(path):
                os.remove(path)
        make_journal(outdir)
        write(stamp_path, stamp.encode())
    return 0


if __name__ == "__main__":
    sys.exit(main())
