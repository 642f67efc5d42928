#!/usr/bin/env python3
"""The search benchmark of the native build and of the Windows build side by side.

Usage: side_by_side.py FILTER NATIVE_JSON WINE_RUN TIMING_EXE

NATIVE_JSON is Google Benchmark's JSON output of the native run. The Windows
build's timing driver (TIMING_EXE, run through WINE_RUN) times the same cases
over the 10-million-entry corpus with the same filter, so this prints, per row:
both medians, their ratio, both hit counts, and per case the gain from one
thread to all of them in each build.
"""
import json
import os
import re
import subprocess
import sys

ENTRIES = 10000000
ROW = re.compile(r"^(BM_(?:Search|Floor)_[^/]+)/entries:%d/threads:(\d+)" % ENTRIES)


def corpus_file():
    # Where bench/corpus.cpp keeps the corpus.
    cache = os.environ.get("XDG_CACHE_HOME", "")
    if not cache.startswith("/"):
        home = os.environ.get("HOME", "")
        if not home.startswith("/"):
            return None
        cache = os.path.join(home, ".cache")
    return os.path.join(cache, "orvane-corpus", "corpus-10M.txt")


def native_rows(path):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}
    rows = {}
    with open(path) as f:
        for b in json.load(f).get("benchmarks", []):
            if b.get("aggregate_name") != "median":
                continue
            m = ROW.match(b.get("run_name", ""))
            if m:
                rows[(m.group(1), int(m.group(2)))] = (b["real_time"] * scale[b["time_unit"]], b.get("hits"))
    return rows


def windows_rows(filter_spec, wine_run, exe):
    corpus = corpus_file()
    if not corpus or not os.path.exists(corpus):
        sys.exit("side_by_side: no corpus at %s (the native run builds it)" % corpus)
    rows = {}
    with open(corpus, "rb") as stdin:
        out = subprocess.run([wine_run, exe, "--entries=%d" % ENTRIES, "--filter=" + filter_spec], stdin=stdin,
                             stdout=subprocess.PIPE, text=True, check=True).stdout
    for line in out.splitlines():
        name, ms, hits = line.split("\t")
        m = ROW.match(name)
        if m:
            rows[(m.group(1), int(m.group(2)))] = (float(ms), float(hits))
    return rows


def main():
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    filter_spec, native_json, wine_run, exe = sys.argv[1:]
    native = native_rows(native_json)
    if not native:
        print("No search rows at %d entries selected: the Windows build was not timed." % ENTRIES)
        return
    print("\nTiming the Windows build under Wine (reading the corpus, building the index, then every row)...",
          flush=True)
    windows = windows_rows(filter_spec, wine_run, exe)

    print("\n%-42s %7s %11s %11s %8s %10s" % ("row (10M entries)", "threads", "native ms", "Windows ms", "ratio",
                                              "hits"))
    for key in native:
        n_ms, n_hits = native[key]
        w_ms, w_hits = windows.get(key, (None, None))
        ratio = "%.2fx" % (w_ms / n_ms) if w_ms else "-"
        hits = "%d" % n_hits if n_hits is not None else "-"
        if w_hits is not None and n_hits is not None and int(w_hits) != int(n_hits):
            hits += " (Windows %d)" % w_hits
        w_text = "%.2f" % w_ms if w_ms else "-"
        print("%-42s %7d %11.2f %11s %8s %10s" % (key[0], key[1], n_ms, w_text, ratio, hits))

    print("\n%-42s %18s %18s" % ("gain from 1 thread to all", "native", "Windows"))
    for name in dict.fromkeys(k[0] for k in native):
        threads = sorted(t for (n, t) in native if n == name)
        if len(threads) < 2:
            continue
        one, many = threads[0], threads[-1]

        def gain(rows):
            if (name, one) in rows and (name, many) in rows and rows[(name, many)][0]:
                return "%.1fx" % (rows[(name, one)][0] / rows[(name, many)][0])
            return "-"

        print("%-42s %18s %18s" % (name, gain(native), gain(windows)))


if __name__ == "__main__":
    main()
