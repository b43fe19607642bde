#!/usr/bin/env python3
"""What the server sends when little or nothing has to cross the wire.

1. A large file killed at about half way, then fetched again: the bytes nginx
   sent in all ($bytes_sent of both GETs) over the file's size, for ours
   resuming from its part, ours with the part taken away (a whole
   re-download, as before resuming existed) and curl -C - as the peer. The
   tools take turns going first, the disk is synced before each run, and the
   time of the second fetch is shown too. While a flag file exists nginx
   sends slowly (limit_rate), so the kill, made once half the file is on
   disk, lands near the middle.
2. An up-to-date run of a release of many small files: the bytes nginx sent
   and the requests it answered, with the list's GET made whole (no stored
   validator: the behaviour before conditional GETs) and conditional (304).
   Also a changed list fetched plain and gzip-encoded (gzip_static on).

usage: bench/resume_bench.py BUILD_DIR [--big-mb M] [--small N] [--rounds R]
BUILD_DIR holds console/TidewellKiro and console/TidewellMakeList (Release).
"""
import argparse
import os
import random
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import free_port, prepare_install, scratch_env, start_nginx, sync_disk  # noqa: E402

# nginx's rate while the flag file is there: slow enough to kill near the middle.
SLOW_RATE = "256m"
VALIDATOR = "_listfile.txt.tidewell-validator"


def start_resume_nginx(work, www, port):
    """nginx that slows down while www/slow exists and serves the list gzip-encoded."""
    return start_nginx(work, www, port, log_format="$request_method $status $bytes_sent $request_uri",
                       server_extra=("location / { if (-f $document_root/slow) "
                                     f"{{ set $limit_rate {SLOW_RATE}; }} }}\n"
                                     "        location ~ _listfile\\.txt$ { gzip_static on; }"))


class AccessLog:
    """The lines nginx wrote since the last call."""

    def __init__(self, work):
        self.path = os.path.join(work, "access.log")
        self.seen = 0

    def new(self):
        time.sleep(0.2)  # nginx logs just after answering
        with open(self.path) as f:
            lines = f.readlines()
        fresh, self.seen = lines[self.seen:], len(lines)
        return [line.split() for line in fresh]


def settle(path):
    """A time in the past, as a list published a while ago has."""
    past = time.time() - 600
    os.utime(path, (past, past))


def kill_at_half(cmd, watched, size, env):
    """Starts cmd, SIGKILLs it once watched holds half of size bytes."""
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 120
    while time.time() < deadline and proc.poll() is None:
        try:
            if os.path.getsize(watched) >= size // 2:
                break
        except OSError:
            pass
        time.sleep(0.005)
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    return os.path.getsize(watched) if os.path.exists(watched) else 0


def bench_resume(args, build, work, www, port, log, env):
    rel = os.path.join(www, "big")
    os.makedirs(rel)
    size = args.big_mb << 20
    with open(os.path.join(rel, "big.bin"), "wb") as f:
        block = os.urandom(1 << 20)
        for _ in range(args.big_mb):
            f.write(block)
            block = block[1:] + block[:1]
    subprocess.check_call([os.path.join(build, "console", "TidewellMakeList"), rel])
    flag = os.path.join(www, "slow")
    url = f"http://127.0.0.1:{port}/big/big.bin"
    ours_cmd = ["--headless", "--assume-yes", "1"]
    results = {"ours resumed": [], "ours whole": [], "curl -C -": []}
    times = {name: [] for name in results}

    def sent(lines):
        return sum(int(fields[2]) for fields in lines if fields[3] == "/big/big.bin")

    # (bytes of the killed GET, bytes of the second fetch, bytes on disk at the kill)

    def run_ours(name, keep_part):
        install = prepare_install(work, "big-install", build, port, "big")
        part = os.path.join(install, ".big.bin.tidewell-part")
        exe = os.path.join(install, "TidewellKiro")
        sync_disk()
        log.new()
        open(flag, "w").close()
        kept = kill_at_half([exe] + ours_cmd, part, size, env)
        os.unlink(flag)
        first = sent(log.new())
        if not keep_part:
            os.unlink(part)
        sync_disk()
        start = time.perf_counter()
        rc = subprocess.call([exe] + ours_cmd, env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        times[name].append(time.perf_counter() - start)
        if rc != 0 or os.path.getsize(os.path.join(install, "big.bin")) != size:
            sys.exit(f"{name}: the second run failed ({rc})")
        results[name].append((first, sent(log.new()), kept))
        shutil.rmtree(install)

    def run_curl():
        out = os.path.join(work, "curl-big.bin")
        if os.path.exists(out):
            os.unlink(out)
        sync_disk()
        log.new()
        open(flag, "w").close()
        kept = kill_at_half(["curl", "-s", "-o", out, url], out, size, env)
        os.unlink(flag)
        first = sent(log.new())
        sync_disk()
        start = time.perf_counter()
        rc = subprocess.call(["curl", "-s", "-C", "-", "-o", out, url], env=env)
        times["curl -C -"].append(time.perf_counter() - start)
        if rc != 0 or os.path.getsize(out) != size:
            sys.exit(f"curl -C - failed ({rc})")
        results["curl -C -"].append((first, sent(log.new()), kept))
        os.unlink(out)

    runs = [lambda: run_ours("ours resumed", True), lambda: run_ours("ours whole", False),
            run_curl]
    for round_no in range(args.rounds):
        order = runs[round_no % len(runs):] + runs[:round_no % len(runs)]
        for run in order:
            run()
    print(f"{args.big_mb} MiB file killed at about half way, then fetched again; medians of "
          f"{args.rounds} rounds, bytes nginx sent / file size:")
    medians = {}
    for name, values in results.items():
        second = statistics.median(b / size for _, b, _ in values)
        total = statistics.median((a + b) / size for a, b, _ in values)
        at = statistics.median(k / size for _, _, k in values)
        medians[name] = second
        print(f"  {name:13s} second fetch {second * 100:6.1f} %, both GETs {total * 100:6.1f} % "
              f"(on disk at the kill {at * 100:.1f} %; second fetch took "
              f"{statistics.median(times[name]):.2f} s)")
    print(f"  ratio resumed/whole {medians['ours resumed'] / medians['ours whole']:.2f}, "
          f"resumed/curl {medians['ours resumed'] / medians['curl -C -']:.2f}; "
          f"target: the resumed fetch sends <= 55 %")
    shutil.rmtree(rel)


def bench_list(args, build, work, www, port, log, env):
    rel = os.path.join(www, "small")
    rnd = random.Random(7)
    for i in range(args.small):
        folder = os.path.join(rel, "d%03d" % (i % 100))
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "f%05d.dat" % i), "wb") as f:
            f.write(rnd.randbytes(rnd.randint(20, 200)))
    subprocess.check_call([os.path.join(build, "console", "TidewellMakeList"), rel])
    listed = os.path.join(rel, "_listfile.txt")
    settle(listed)
    install = prepare_install(work, "small-install", build, port, "small")
    exe = [os.path.join(install, "TidewellKiro"), "--headless", "--assume-yes", "1"]

    def run():
        sync_disk()
        start = time.perf_counter()
        if subprocess.call(exe, env=env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL) != 0:
            sys.exit("TidewellKiro failed on the small release")
        elapsed = time.perf_counter() - start
        lines = log.new()
        return sum(int(fields[2]) for fields in lines), len(lines), elapsed, lines

    # The first install stores the list's validator; so does every whole run.
    run()
    whole, conditional = [], []

    def run_whole():
        os.unlink(os.path.join(install, VALIDATOR))
        whole.append(run())

    def run_conditional():
        conditional.append(run())

    for round_no in range(args.rounds):
        for step in ((run_whole, run_conditional) if round_no % 2 == 0
                     else (run_conditional, run_whole)):
            step()
    for name, values in (("list fetched whole (before)", whole),
                         ("conditional list GET (304)", conditional)):
        print(f"up-to-date run, {args.small} files, {name}: nginx sent "
              f"{statistics.median(v[0] for v in values):.0f} bytes in "
              f"{statistics.median(v[1] for v in values):.0f} requests ("
              + ", ".join(f"{f[0]} {f[1]}" for f in values[-1][3]) + "), "
              f"{statistics.median(v[2] for v in values):.2f} s")
    b_whole = statistics.median(v[0] for v in whole)
    b_cond = statistics.median(v[0] for v in conditional)
    print(f"  ratio conditional/whole {b_cond / b_whole:.4f}; target <= 2048 bytes, "
          f"same request count")

    # A changed list, plain and gzip-encoded.
    subprocess.check_call(["gzip", "-k", "-f", listed])
    settle(listed + ".gz")
    os.unlink(os.path.join(install, VALIDATOR))
    gz_bytes, _, _, _ = run()
    print(f"changed list of {os.path.getsize(listed)} bytes fetched gzip-encoded: nginx sent "
          f"{gz_bytes} bytes ({gz_bytes / b_whole:.2f} of the plain fetch)")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--big-mb", type=int, default=1024)
    parser.add_argument("--small", type=int, default=10000)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    work = tempfile.mkdtemp(prefix="tidewell-resume-bench-")
    try:
        www = os.path.join(work, "www")
        os.makedirs(www)
        port = free_port()
        nginx = start_resume_nginx(work, www, port)
        env = scratch_env(work)
        log = AccessLog(work)
        try:
            bench_resume(args, build, work, www, port, log, env)
            bench_list(args, build, work, www, port, log, env)
        finally:
            nginx.terminate()
            nginx.wait()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
