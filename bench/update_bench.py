#!/usr/bin/env python3
"""Whole update runs of TidewellKiro against nginx on loopback, compared with
wget fetching the same URLs over one kept-alive connection, and the
up-to-date run compared with rsync's own size-and-time check.

Fair by construction: every round installs into fresh folders, the two tools
take turns going first, the disk is synced before each timed run (so neither
pays for the other's writeback) and medians are reported. Our runs sync their
data to the disk before they report success; wget does not, so its time is
also shown with the sync that its data still needed.

usage: bench/update_bench.py BUILD_DIR [--small N] [--big-mb M] [--big-files K]
                             [--rounds R]
BUILD_DIR holds console/TidewellKiro and console/TidewellMakeList (Release).
"""
import argparse
import os
import statistics
import random
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import (free_port, prepare_install, scratch_env, start_nginx, sync_disk,  # noqa: E402
                          timed)


def make_small_release(root, count):
    rnd = random.Random(7)
    for i in range(count):
        folder = os.path.join(root, "d%03d" % (i % 100))
        os.makedirs(folder, exist_ok=True)
        size = rnd.randint(200, 4000)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            f.write(rnd.randbytes(size))


def make_big_release(root, total_mb, files):
    os.makedirs(root, exist_ok=True)
    size = total_mb * 1024 * 1024 // files
    block = os.urandom(1 << 20)
    for i in range(files):
        with open(os.path.join(root, "big%03d.bin" % i), "wb") as f:
            left = size
            while left > 0:
                n = min(left, len(block))
                f.write(block[:n])
                left -= n


def access_lines(work):
    with open(os.path.join(work, "access.log")) as f:
        return f.readlines()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--small", type=int, default=10000)
    parser.add_argument("--big-mb", type=int, default=1024)
    parser.add_argument("--big-files", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    work = tempfile.mkdtemp(prefix="tidewell-update-bench-")
    try:
        www = os.path.join(work, "www")
        small = os.path.join(www, "small")
        big = os.path.join(www, "big")
        make_small_release(small, args.small)
        make_big_release(big, args.big_mb, args.big_files)
        for rel in (small, big):
            subprocess.check_call([os.path.join(build, "console", "TidewellMakeList"), rel])
        port = free_port()
        nginx = start_nginx(work, www, port)
        env = scratch_env(work)
        try:
            results = {}
            for name, rel in (("small", small), ("big", big)):
                files = sorted(os.path.relpath(os.path.join(d, f), www)
                               for d, _, fs in os.walk(rel) for f in fs
                               if f != "_listfile.txt")
                urls = os.path.join(work, name + "-urls.txt")
                with open(urls, "w") as f:
                    for path in files:
                        f.write(f"http://127.0.0.1:{port}/{path}\n")
                ours, wget, wget_sync, peaks = [], [], [], []
                for round_no in range(args.rounds):
                    wget_dir = os.path.join(work, f"{name}-wget-{round_no}")
                    install = prepare_install(work, f"{name}-install-{round_no}", build, port,
                                              name)

                    def run_wget():
                        sync_disk()
                        t, _, rc = timed(["wget", "-q", "-x", "-nH", "-P", wget_dir, "-i", urls])
                        if rc != 0:
                            sys.exit("wget failed")
                        wget.append(t)
                        wget_sync.append(t + sync_disk())

                    def run_ours():
                        sync_disk()
                        t, peak, rc = timed([os.path.join(install, "TidewellKiro"), "--headless",
                                             "--assume-yes", "1"], env=env)
                        if rc != 0:
                            sys.exit(f"TidewellKiro failed on the {name} release ({rc})")
                        ours.append(t)
                        peaks.append(peak)

                    for run in ((run_ours, run_wget) if round_no % 2 == 0
                                else (run_wget, run_ours)):
                        run()
                    results[name] = (install, rel)
                    if round_no + 1 < args.rounds:
                        shutil.rmtree(wget_dir, ignore_errors=True)
                t_ours, t_wget = statistics.median(ours), statistics.median(wget)
                t_wget_sync = statistics.median(wget_sync)
                print(f"first install, {name} release ({len(files)} files), medians of "
                      f"{args.rounds}: ours {t_ours:.2f} s (data synced), wget {t_wget:.2f} s, "
                      f"wget + sync {t_wget_sync:.2f} s; ratio wget/ours {t_wget / t_ours:.2f}, "
                      f"(wget + sync)/ours {t_wget_sync / t_ours:.2f} (>= 1 means as fast); "
                      f"our peak memory {max(peaks) / 1024:.1f} MiB")

            install, rel = results["small"]
            ours, rsync = [], []
            for round_no in range(args.rounds):
                def run_ours():
                    sync_disk()
                    before = len(access_lines(work))
                    t, peak, _ = timed([os.path.join(install, "TidewellKiro"), "--headless",
                                        "--assume-yes", "1"], env=env)
                    ours.append((t, peak, access_lines(work)[before:]))

                def run_rsync():
                    sync_disk()
                    t, _, _ = timed(["rsync", "-an", "--exclude", "_listfile.txt",
                                     rel + "/", install + "/"])
                    rsync.append(t)

                for run in ((run_ours, run_rsync) if round_no % 2 == 0
                            else (run_rsync, run_ours)):
                    run()
            t_ours = statistics.median(t for t, _, _ in ours)
            peak = max(p for _, p, _ in ours)
            requests = ours[-1][2]
            t_rsync = statistics.median(rsync)
            print(f"up-to-date run, {args.small} files, medians of {args.rounds}: ours {t_ours:.2f} s, "
                  f"rsync -an {t_rsync:.2f} s, ratio ours/rsync {t_ours / t_rsync:.2f} "
                  f"(target <= 2), requests {len(requests)}: "
                  + ", ".join(" ".join(r.split('"')[1].split()[:2]) for r in requests)
                  + f", peak memory {peak / 1024:.1f} MiB")
        finally:
            nginx.terminate()
            nginx.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
