#!/usr/bin/env python3
"""First installs of a release of many small files through a latency proxy
(bench/latency_proxy.py, 20 ms each way = 40 ms round trip) in front of nginx
on loopback, as a user far from the server sees them:

  ours N=1   TidewellKiro with PARALLEL_TRANSFERS=1 (one request at a time)
  ours N=8   TidewellKiro with PARALLEL_TRANSFERS=8
  wget       wget -i (one kept-alive connection)
  aria2c     aria2c -j8 -i (eight downloads at a time)

Fair by construction: one run, the tools take turns in a rotating order,
every round installs into fresh folders, the disk is synced before each
timed run, and medians are reported. Each installed tree is checked against
the release. Prints the medians and the ratios the targets name:
N=1 / N=8 and wget / N=8 (target >= 5), aria2c / N=8 (target >= 1).

usage: bench/latency_bench.py BUILD_DIR [--files 2000] [--size 4096]
                              [--rounds 3] [--delay-ms 20] [--parallel 8]
BUILD_DIR holds console/TidewellKiro and console/TidewellMakeList (Release).
"""
import argparse
import filecmp
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from latency_proxy import LatencyProxy  # noqa: E402
from bench_common import free_port, prepare_install, scratch_env, start_nginx, sync_disk  # noqa: E402

# Every run ends by itself: a stuck tool is killed after this long.
RUN_LIMIT_SECONDS = 900


def make_release(root, count, size):
    rnd = random.Random(11)
    files = []
    for i in range(count):
        rel = os.path.join("d%02d" % (i % 50), "f%05d.dat" % i)
        os.makedirs(os.path.join(root, os.path.dirname(rel)), exist_ok=True)
        with open(os.path.join(root, rel), "wb") as f:
            f.write(rnd.randbytes(size))
        files.append(rel)
    return files


def timed(cmd, env=None, cwd=None):
    start = time.perf_counter()
    rc = subprocess.call(cmd, env=env, cwd=cwd, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL, timeout=RUN_LIMIT_SECONDS)
    return time.perf_counter() - start, rc


def failure_lines(install):
    """The warning and error lines of a run's log, to say why it failed."""
    lines = []
    log_dir = os.path.join(install, "log")
    for name in sorted(os.listdir(log_dir)) if os.path.isdir(log_dir) else []:
        with open(os.path.join(log_dir, name), errors="replace") as f:
            lines += [line.rstrip() for line in f if " WARN " in line or " ERROR" in line]
    return "\n".join(lines[:40])


def same_tree(release, files, target):
    return all(os.path.exists(os.path.join(target, rel)) and
               filecmp.cmp(os.path.join(release, rel), os.path.join(target, rel), shallow=False)
               for rel in files)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--files", type=int, default=2000)
    parser.add_argument("--size", type=int, default=4096)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--delay-ms", type=float, default=20.0)
    parser.add_argument("--parallel", type=int, default=8)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    for name in ("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"):
        os.environ.pop(name, None)

    work = tempfile.mkdtemp(prefix="tidewell-latency-bench-")
    nginx = None
    try:
        www = os.path.join(work, "www")
        release = os.path.join(www, "rel")
        files = make_release(release, args.files, args.size)
        subprocess.check_call([os.path.join(build, "console", "TidewellMakeList"), release],
                              stdout=subprocess.DEVNULL)
        nginx_port = free_port()
        nginx = start_nginx(work, www, nginx_port)
        env = scratch_env(work)
        with LatencyProxy(nginx_port, args.delay_ms) as proxy:
            urls = os.path.join(work, "urls.txt")
            with open(urls, "w") as f:
                for rel in files:
                    f.write(f"http://127.0.0.1:{proxy.port}/rel/{rel}\n")
            aria_input = os.path.join(work, "aria2.txt")
            with open(aria_input, "w") as f:
                for rel in files:
                    f.write(f"http://127.0.0.1:{proxy.port}/rel/{rel}\n  out={rel}\n")

            times = {"ours N=1": [], f"ours N={args.parallel}": [], "wget": [], "aria2c": []}

            def run_ours(parallel, round_no):
                install = prepare_install(work, f"ours{parallel}-{round_no}", build, proxy.port,
                                          "rel")
                with open(os.path.join(install, "config", "Tidewell.ini"), "a") as f:
                    f.write(f"PARALLEL_TRANSFERS={parallel}\n")
                sync_disk()
                t, rc = timed([os.path.join(install, "TidewellKiro"), "--headless",
                               "--assume-yes", "1"], env=env)
                if rc != 0 or not same_tree(release, files, install):
                    sys.exit(f"TidewellKiro N={parallel} failed ({rc}):\n" + failure_lines(install))
                times[f"ours N={parallel}"].append(t)
                shutil.rmtree(install, ignore_errors=True)

            def run_wget(round_no):
                target = os.path.join(work, f"wget-{round_no}")
                sync_disk()
                t, rc = timed(["wget", "-q", "-x", "-nH", "--cut-dirs=1", "-P", target, "-i",
                               urls])
                if rc != 0 or not same_tree(release, files, target):
                    sys.exit(f"wget failed ({rc})")
                times["wget"].append(t)
                shutil.rmtree(target, ignore_errors=True)

            def run_aria2c(round_no):
                target = os.path.join(work, f"aria2c-{round_no}")
                sync_disk()
                t, rc = timed(["aria2c", "-q", f"-j{args.parallel}", "-d", target,
                               "--file-allocation=none", "--auto-file-renaming=false",
                               "--allow-overwrite=true", "-i", aria_input])
                if rc != 0 or not same_tree(release, files, target):
                    sys.exit(f"aria2c failed ({rc})")
                times["aria2c"].append(t)
                shutil.rmtree(target, ignore_errors=True)

            runs = [lambda r: run_ours(1, r), lambda r: run_ours(args.parallel, r),
                    run_wget, run_aria2c]
            for round_no in range(args.rounds):
                shift = round_no % len(runs)
                for run in runs[shift:] + runs[:shift]:
                    run(round_no)

        med = {name: statistics.median(values) for name, values in times.items()}
        many = med[f"ours N={args.parallel}"]
        print(f"first install of {args.files} files of {args.size} bytes through a "
              f"{2 * args.delay_ms:.0f} ms round trip, medians of {args.rounds}:")
        for name, value in med.items():
            print(f"  {name:<10} {value:8.2f} s   "
                  + " ".join(f"{v:.2f}" for v in times[name]))
        print(f"ratios: N=1 / N={args.parallel} {med['ours N=1'] / many:.2f} (target >= 5), "
              f"wget / N={args.parallel} {med['wget'] / many:.2f} (target >= 5), "
              f"aria2c / N={args.parallel} {med['aria2c'] / many:.2f} (target >= 1)")
    finally:
        if nginx is not None:
            nginx.terminate()
            nginx.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
