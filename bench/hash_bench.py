#!/usr/bin/env python3
"""What checking every byte costs: first installs of a 1 GiB release by
TidewellKiro with a signed list that carries SHA-256 hashes, against the same
release listed without hashes, and wget fetching the same files as the peer.
Runs alternate their order, the disk is synced before each, and the medians
are compared (target: with hashes within 10 % of without).

usage: bench/hash_bench.py BUILD_DIR [--big-mb M] [--big-files K] [--rounds N]
                           [--rate-mb R]
BUILD_DIR holds console/TidewellKiro and console/TidewellMakeList (Release).
--rate-mb R has nginx send each connection at most R MiB/s, as a real link
would, instead of as fast as loopback goes.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from update_bench import free_port, make_big_release, prepare_install, start_nginx, timed  # noqa: E402


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
    parser.add_argument("--rate-mb", type=int, default=0)
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
        nginx = start_nginx(work, www, port,
                            f"limit_rate {args.rate_mb}m;" if args.rate_mb > 0 else "")
        env = dict(os.environ, XDG_DESKTOP_DIR=work, XDG_DATA_HOME=work + "/xdg",
                   XDG_CONFIG_HOME=work + "/xdgc", WINEPREFIX=work + "/wine")
        urls = os.path.join(work, "urls.txt")
        with open(urls, "w") as f:
            for name in names:
                f.write(f"http://127.0.0.1:{port}/plain/{name}\n")

        def run_ours(name, base_url, key_line):
            install = prepare_install(work, name, build, port, base_url)
            if key_line:
                with open(os.path.join(install, "config", "Tidewell.ini"), "a") as f:
                    f.write(key_line)
            subprocess.check_call(["sync"])
            seconds, _, rc = timed([os.path.join(install, "TidewellKiro"), "--headless",
                                    "--assume-yes", "1"], env=env)
            if rc != 0:
                sys.exit(f"TidewellKiro failed on the {base_url} release ({rc})")
            return install, seconds

        def run_hashed():
            install, seconds = run_ours("install-hashed", "hashed",
                                        f"LIST_PUBLIC_KEY={public_key}\n")
            with open(os.path.join(install, "config", "Tidewell.ini")) as f:
                if "LIST_VERSION=" not in f.read():
                    sys.exit("the signed list was not taken")
            return install, seconds

        def run_plain():
            return run_ours("install-plain", "plain", "")

        def run_wget():
            target = os.path.join(work, "install-wget")
            subprocess.check_call(["sync"])
            seconds, _, rc = timed(["wget", "-q", "-x", "-nH", "-P", target, "-i", urls])
            if rc != 0:
                sys.exit("wget failed")
            return target, seconds

        tools = [("hashed", run_hashed), ("plain", run_plain), ("wget", run_wget)]
        times = {name: [] for name, _ in tools}
        try:
            for rnd in range(args.rounds):
                order = tools[rnd % len(tools):] + tools[:rnd % len(tools)]
                for name, run in order:
                    folder, seconds = run()
                    times[name].append(seconds)
                    shutil.rmtree(folder)
                    subprocess.check_call(["sync"])
        finally:
            nginx.terminate()
            nginx.wait()

        med = {name: statistics.median(values) for name, values in times.items()}
        for name, values in times.items():
            print(f"{name:7s} median {med[name]:.2f} s  runs " +
                  " ".join(f"{v:.2f}" for v in values))
        link = f"{args.rate_mb} MiB/s link" if args.rate_mb > 0 else "unlimited loopback"
        print(f"first install of {args.big_mb} MiB in {args.big_files} files ({link}): with hashes "
              f"{med['hashed']:.2f} s, without {med['plain']:.2f} s, ratio "
              f"{med['hashed'] / med['plain']:.3f} (target <= 1.10); wget {med['wget']:.2f} s, "
              f"ratio wget/hashed {med['wget'] / med['hashed']:.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
