#!/usr/bin/env python3
"""Listing a large release: TidewellMakeList over a tree of 1,000,000 small
files, compared with find -printf '%s %T@ %p\\n' over the same tree.

What is fair: find only reads folders and stats each file, so it is compared
with our run that does the same (--no-hash: walk, stat, write each record;
target <= 3x find's time). A list with a SHA-256 per file also reads every
byte; that run is compared with find piped into sha256sum, which reads the
same bytes, on one part of the tree (100,000 files: a list of the whole tree
is larger than the 16 MiB clients read; the tool writes it with a warning). Its ratio to find alone is printed as well, for what hashing costs.

Both tools see the same caches: one untimed run of each warms them, the disk
is synced before every timed run, the order alternates from round to round,
and medians are compared. Peak RSS is each run's maximum resident size.

usage: bench/list_bench.py BUILD_DIR [--files N] [--rounds R] [--tree DIR]
BUILD_DIR holds console/TidewellMakeList (a Release build). --tree keeps the
generated tree in DIR for later runs (it is made once, if missing).
"""
import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

PARTS = 10  # the tree's top folders; the hashed comparison uses the first


def make_tree(root, count):
    """count files of 0 to 1 KiB below root/pN/dNNN/, 1,000 to a folder."""
    rnd = random.Random(14)
    per_part = count // PARTS
    data = rnd.randbytes(1024)
    for i in range(count):
        part, j = divmod(i, per_part)
        folder = os.path.join(root, "p%d" % part, "d%03d" % (j // 1000))
        if j % 1000 == 0:
            os.makedirs(folder, exist_ok=True)
        size = rnd.randint(0, 1024)
        fd = os.open(os.path.join(folder, "file-%06d.dat" % j), os.O_WRONLY | os.O_CREAT, 0o644)
        os.write(fd, data[:size])
        os.close(fd)


def timed(cmd, rss_file):
    """Runs cmd (a list, or a shell line) under GNU time with its output to
    files; (seconds, CPU seconds, peak RSS in MiB). time's own fork is small,
    where this Python's would mask the tool's peak."""
    argv = cmd if isinstance(cmd, list) else ["sh", "-c", cmd]
    subprocess.check_call(["sync"])
    start = time.perf_counter()
    proc = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", rss_file] + argv,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    seconds = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"{cmd} failed ({code}): {err}")
    with open(rss_file) as f:
        rss_kib = int(f.read().split()[-1])
    return seconds, usage.ru_utime + usage.ru_stime, rss_kib / 1024.0


def quote(path):
    return "'" + path.replace("'", "'\\''") + "'"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--files", type=int, default=1000000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--tree")
    args = parser.parse_args()
    make_list = os.path.join(os.path.abspath(args.build), "console", "TidewellMakeList")

    work = tempfile.mkdtemp(prefix="tidewell-list-bench-")
    tree = os.path.abspath(args.tree) if args.tree else os.path.join(work, "tree")
    try:
        if not os.path.isdir(tree):
            start = time.perf_counter()
            make_tree(tree, args.files)
            print(f"made {args.files} files in {time.perf_counter() - start:.0f} s")
        part = os.path.join(tree, "p0")
        out = os.path.join(work, "out.txt")
        tools = {
            "ours --no-hash": [make_list, "--no-hash", "-o", out, tree],
            "find -printf": f"find {quote(tree)} -printf '%s %T@ %p\\n' > {quote(out)}",
            "ours, hashed (p0)": [make_list, "-o", out, part],
            "find -printf (p0)": f"find {quote(part)} -printf '%s %T@ %p\\n' > {quote(out)}",
            "find|sha256sum (p0)": f"find {quote(part)} -type f -print0 | "
                                   f"xargs -0 sha256sum > {quote(out)}",
        }
        names = list(tools)
        rss_file = os.path.join(work, "rss.txt")
        for name in names:  # warms the caches for everyone alike
            timed(tools[name], rss_file)
        runs = {name: [] for name in names}
        for rnd in range(args.rounds):
            order = names[rnd % len(names):] + names[:rnd % len(names)]
            for name in order:
                runs[name].append(timed(tools[name], rss_file))

        med = {}
        for name in names:
            secs = [r[0] for r in runs[name]]
            med[name] = statistics.median(secs)
            cpu = statistics.median(r[1] for r in runs[name])
            rss = max(r[2] for r in runs[name])
            print(f"{name:20s} median {med[name]:6.2f} s, CPU {cpu:6.2f} s, peak RSS "
                  f"{rss:7.1f} MiB; runs " + " ".join(f"{s:.2f}" for s in secs))
        ratio = med["ours --no-hash"] / med["find -printf"]
        print(f"{args.files} files: ours --no-hash / find -printf = {ratio:.2f} (target <= 3)")
        print(f"{args.files // PARTS} files, hashed: ours / (find | sha256sum) = "
              f"{med['ours, hashed (p0)'] / med['find|sha256sum (p0)']:.2f}, ours / find -printf = "
              f"{med['ours, hashed (p0)'] / med['find -printf (p0)']:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
