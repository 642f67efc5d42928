#!/usr/bin/env python3
"""Which moves into a just-made folder a recursive folder watch under Wine
reports: ROUNDS times, a folder is made and a file moved into it at once
(the folder-watch suite's random script does so); the watch's lines are
compared with the moves. Prints the moves not reported.

Usage: watch_probe.py BUILD_DIR [ROUNDS [DELAY_MS [inner]]]   (after the Windows
build; DELAY_MS between making the folder and the move, 0 by default; with
"inner" the file goes into the folder made inside the new one)
"""
import os
import shutil
import subprocess
import sys
import time

build = os.path.abspath(sys.argv[1])
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 50
delay = int(sys.argv[3]) / 1000 if len(sys.argv) > 3 else 0
into = "inner" if len(sys.argv) > 4 and sys.argv[4] == "inner" else ""
root = os.path.join(build, "bin", "watch-probe")
shutil.rmtree(root, ignore_errors=True)
os.makedirs(root)
probe = subprocess.Popen([os.path.join(build, "wine-run.sh"), os.path.join(build, "bin", "watch_probe.exe"),
                          "T:\\watch-probe", str(30 + rounds)],
                         stdout=subprocess.PIPE, text=True)
assert probe.stdout.readline().strip() == "ready"
time.sleep(1)
moved = []
for i in range(rounds):
    source = os.path.join(root, "f%d.dat" % i)
    with open(source, "w") as f:
        f.write("x")
    folder = os.path.join(root, "n%d" % i)
    os.makedirs(os.path.join(folder, "inner"))
    time.sleep(delay)
    os.rename(source, os.path.join(folder, into, "f%d.moved" % i))
    moved.append("n%d\\%sf%d.moved" % (i, into + "\\" if into else "", i))
    time.sleep(0.2)
time.sleep(3)
probe.kill()
seen = {line.rstrip("\n").split("\t", 1)[1] for line in probe.stdout if "\t" in line}
missed = [m for m in moved if m not in seen]
print("%d of %d moves into %s folder made %d ms before were not reported: %s" %
      (len(missed), len(moved), "the inner" if into else "a", delay * 1000, missed[:10]))
print("folders whose creation was reported: %d of %d" % (sum(("n%d" % i) in seen for i in range(rounds)), rounds))
shutil.rmtree(root, ignore_errors=True)
