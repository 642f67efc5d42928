#!/usr/bin/env python3
"""Folder scan of a 200,000-item tree under Wine with 2, 8 and 16 walkers,
against find(1) listing and stat-ing the same tree on the Linux side.

Usage: wine_folder_scan.py BUILD_WINDOWS_FOLDER   (after the windows preset is built)
Prints the best of three runs per walker count and its ratio to find's best.
"""
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "engine"))
from wine_drives_test import Driver, big_tree, drives  # noqa: E402


def main():
    build = os.path.abspath(sys.argv[1])
    work = os.path.join(build, "wine-bench")
    prefix = os.path.join(work, "prefix")
    os.makedirs(work, exist_ok=True)
    tree = big_tree(work)
    drives("init", prefix)
    drives("map", prefix, "G", tree)
    drives("restart", prefix)

    find_ms = []
    for _ in range(3):
        t0 = time.perf_counter()
        subprocess.run(["find", tree, "-printf", r"%s\n"], check=True, stdout=subprocess.DEVNULL)
        find_ms.append((time.perf_counter() - t0) * 1000)
    best_find = min(find_ms)
    print("find: %.0f ms" % best_find)

    driver = Driver(prefix, os.path.join(build, "bin", "ov_engine_driver.exe"))
    try:
        driver.ask("elevated 0")
        first = True
        for walkers in (2, 8, 16):
            driver.ask("walkers %d" % walkers)
            runs = []
            for _ in range(3):
                driver.ask("refresh" if first else "rebuild")
                first = False
                driver.ask("wait 300")
                volumes, entries, _ = driver.dump()
                g = [v for v in volumes.values() if v["root"] == "G:\\"][0]
                runs.append(float(g["scanMs"]))
                items = sum(len(e) for e in entries.values())
            best = min(runs)
            print("%2d walkers: %.0f ms for %d entries, %.2f x find" % (walkers, best, items, best / best_find))
    finally:
        driver.close()


if __name__ == "__main__":
    main()
