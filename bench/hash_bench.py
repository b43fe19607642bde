#!/usr/bin/env python3
"""What checking every byte costs: first installs of a 1 GiB release by
TidewellKiro with a signed list that carries SHA-256 hashes, against the same
release listed without hashes, and wget fetching the same files as the peer.
Runs alternate their order, the disk is synced before each, and the medians
are compared (target: with hashes within 10 % of without).

usage: bench/hash_bench.py BUILD_DIR [--big-mb M] [--big-files K] [--rounds N]
BUILD_DIR holds console/TidewellKiro and console/TidewellMakeList (Release).
Besides the times it reports the CPU seconds of each run (updater and nginx),
which on a busy shared machine say more than the wall clock.

On loopback nginx shares the machine's cores with the updater, and hashing
(about 0.75 CPU seconds a GiB with SHA-NI) cannot hide when both are busy.
--link-mbit M serves from a network namespace behind a veth pair shaped to
M Mbit/s (a real link; needs root), where the hash runs while the receiver
waits for the network.
"""
import argparse
import contextlib
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import free_port, prepare_install, scratch_env, start_nginx  # noqa: E402
from update_bench import make_big_release  # noqa: E402


def timed_cpu(cmd, env=None):
    """Runs cmd; returns (seconds, CPU seconds of the child, exit code)."""
    start = time.perf_counter()
    proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime, proc.returncode


def process_cpu(pid):
    """CPU seconds a running process has used so far."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


@contextlib.contextmanager
def shaped_link(mbit):
    """A namespace with a veth pair whose server side sends at mbit Mbit/s;
    yields (server address, command prefix that runs inside it)."""
    ns = f"tidewell-bench-{os.getpid()}"
    host, peer = "10.231.0.1", "10.231.0.2"
    cmds = [
        ["ip", "netns", "add", ns],
        ["ip", "link", "add", ns[:10] + "h", "type", "veth", "peer", "name", ns[:10] + "n"],
        ["ip", "link", "set", ns[:10] + "n", "netns", ns],
        ["ip", "addr", "add", host + "/24", "dev", ns[:10] + "h"],
        ["ip", "link", "set", ns[:10] + "h", "up"],
        ["ip", "netns", "exec", ns, "ip", "addr", "add", peer + "/24", "dev", ns[:10] + "n"],
        ["ip", "netns", "exec", ns, "ip", "link", "set", ns[:10] + "n", "up"],
        ["ip", "netns", "exec", ns, "ip", "link", "set", "lo", "up"],
        ["ip", "netns", "exec", ns, "tc", "qdisc", "add", "dev", ns[:10] + "n", "root", "tbf",
         "rate", f"{mbit}mbit", "burst", "256kb", "latency", "50ms"],
    ]
    try:
        for cmd in cmds:
            subprocess.check_call(cmd)
        yield peer, ["ip", "netns", "exec", ns]
    finally:
        subprocess.call(["ip", "link", "del", ns[:10] + "h"], stderr=subprocess.DEVNULL)
        subprocess.call(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)


def strip_hashes(list_path, out_path):
    """The same records without their hash field, and no signature lines."""
    with open(list_path) as f, open(out_path, "w") as out:
        for line in f:
            if line.startswith("#"):
                continue
            out.write(",".join(line.rstrip("\n").split(",")[:6]) + "\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--big-mb", type=int, default=1024)
    parser.add_argument("--big-files", type=int, default=200)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--link-mbit", type=int, default=0)
    args = parser.parse_args()
    build = os.path.abspath(args.build)
    make_list = os.path.join(build, "console", "TidewellMakeList")

    work = tempfile.mkdtemp(prefix="tidewell-hash-bench-")
    try:
        www = os.path.join(work, "www")
        hashed = os.path.join(www, "hashed")
        plain = os.path.join(www, "plain")
        make_big_release(hashed, args.big_mb, args.big_files)
        key = os.path.join(work, "release.pem")
        subprocess.check_call([make_list, "--new-key", key], stdout=subprocess.DEVNULL)
        with open(key + ".pub") as f:
            public_key = f.read().strip()
        subprocess.check_call([make_list, "--key", key, hashed])
        # The plain release shares the files (hard links), only its list differs.
        os.makedirs(plain)
        names = sorted(n for n in os.listdir(hashed) if n != "_listfile.txt")
        for name in names:
            os.link(os.path.join(hashed, name), os.path.join(plain, name))
        strip_hashes(os.path.join(hashed, "_listfile.txt"), os.path.join(plain, "_listfile.txt"))

        port = free_port()
        link = shaped_link(args.link_mbit) if args.link_mbit else contextlib.nullcontext(
            ("127.0.0.1", []))
        stack = contextlib.ExitStack()
        host, prefix = stack.enter_context(link)
        nginx = start_nginx(work, www, port, host, prefix)
        env = scratch_env(work)
        urls = os.path.join(work, "urls.txt")
        with open(urls, "w") as f:
            for name in names:
                f.write(f"http://{host}:{port}/plain/{name}\n")

        def run_ours(name, base_url, key_line):
            install = prepare_install(work, name, build, port, base_url, host)
            if key_line:
                with open(os.path.join(install, "config", "Tidewell.ini"), "a") as f:
                    f.write(key_line)
            subprocess.check_call(["sync"])
            seconds, cpu, rc = timed_cpu([os.path.join(install, "TidewellKiro"), "--headless",
                                          "--assume-yes", "1"], env=env)
            if rc != 0:
                sys.exit(f"TidewellKiro failed on the {base_url} release ({rc})")
            return install, seconds, cpu

        def run_hashed():
            install, seconds, cpu = run_ours("install-hashed", "hashed",
                                             f"LIST_PUBLIC_KEY={public_key}\n")
            with open(os.path.join(install, "config", "Tidewell.ini")) as f:
                if "LIST_VERSION=" not in f.read():
                    sys.exit("the signed list was not taken")
            return install, seconds, cpu

        def run_plain():
            return run_ours("install-plain", "plain", "")

        def run_wget():
            target = os.path.join(work, "install-wget")
            subprocess.check_call(["sync"])
            seconds, cpu, rc = timed_cpu(["wget", "-q", "-x", "-nH", "-P", target, "-i", urls])
            if rc != 0:
                sys.exit("wget failed")
            return target, seconds, cpu

        tools = [("hashed", run_hashed), ("plain", run_plain), ("wget", run_wget)]
        times = {name: [] for name, _ in tools}
        cpus = {name: [] for name, _ in tools}
        server_cpus = {name: [] for name, _ in tools}
        try:
            for rnd in range(args.rounds):
                order = tools[rnd % len(tools):] + tools[:rnd % len(tools)]
                for name, run in order:
                    served_before = process_cpu(nginx.pid)
                    folder, seconds, cpu = run()
                    server_cpus[name].append(process_cpu(nginx.pid) - served_before)
                    times[name].append(seconds)
                    cpus[name].append(cpu)
                    shutil.rmtree(folder)
                    subprocess.check_call(["sync"])
        finally:
            nginx.terminate()
            nginx.wait()
            stack.close()

        med = {name: statistics.median(values) for name, values in times.items()}
        for name, values in times.items():
            print(f"{name:7s} median {med[name]:.2f} s, CPU {statistics.median(cpus[name]):.2f} s "
                  f"(nginx {statistics.median(server_cpus[name]):.2f} s); runs " +
                  " ".join(f"{v:.2f}" for v in values))
        where = f"over a {args.link_mbit} Mbit/s link" if args.link_mbit else "on loopback"
        print(f"first install of {args.big_mb} MiB in {args.big_files} files {where}: with hashes "
              f"{med['hashed']:.2f} s, without {med['plain']:.2f} s, ratio "
              f"{med['hashed'] / med['plain']:.3f} (target <= 1.10); wget {med['wget']:.2f} s, "
              f"ratio wget/hashed {med['wget'] / med['hashed']:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
