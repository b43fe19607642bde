#!/usr/bin/env python3
"""Times zip extraction: our reader (through zip_bench) against `unzip -o -q`,
on one archive of mixed compressible and incompressible members, each run
into a fresh folder, alternating, in one run. Needs free space in the temp
folder for the archive and 2 x rounds copies of the data.

Usage: zip_bench.py <path to zip_bench> [size in MiB] [members] [rounds]
       (or ZIP_BENCH_MB, ZIP_BENCH_MEMBERS, ZIP_BENCH_ROUNDS)
"""
import filecmp
import os
import random
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zipfile

MIB = 1 << 20
FOLDERS = 100


def text_pool(rnd, size):
    words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz_') for _ in range(rnd.randint(2, 12)))
             for _ in range(4000)]
    lines, total = [], 0
    while total < size:
        line = ('%s(%d, 0x%08x);\n' % (' '.join(rnd.choice(words) for _ in range(rnd.randint(2, 10))),
                                         rnd.randint(0, 99999), rnd.getrandbits(32))).encode()
        lines.append(line)
        total += len(line)
    return b''.join(lines)


def member_sizes(rnd, count, total):
    """Log-uniform sizes from 1 KiB to 2 MiB, scaled to the total."""
    raw = [2 ** rnd.uniform(10, 21) for _ in range(count)]
    scale = total / sum(raw)
    sizes = [max(1, int(s * scale)) for s in raw]
    sizes[-1] += total - sum(sizes)
    return sizes


def make_archive(path, size_mb, members):
    rnd = random.Random(2024)
    pool = text_pool(rnd, 16 * MIB)
    with zipfile.ZipFile(path, 'w') as zf:
        for i, size in enumerate(member_sizes(rnd, members, size_mb * MIB)):
            # About half the bytes compress (text, code), half do not
            # (media, packed data), as in an application's files.
            compressible = rnd.random() < 0.5
            if compressible:
                start = rnd.randrange(0, len(pool) - size) if size < len(pool) else 0
                data = (pool * (size // len(pool) + 1))[start:start + size]
                method = zipfile.ZIP_DEFLATED
            else:
                data = rnd.randbytes(size)
                method = zipfile.ZIP_STORED
            name = 'd%02d/f%05d.%s' % (i % FOLDERS, i, 'txt' if compressible else 'bin')
            zi = zipfile.ZipInfo(name, date_time=(2024, 3, 15, 9, 7, 2))
            zi.compress_type = method
            zi.external_attr = 0o100644 << 16
            zf.writestr(zi, data, compress_type=method, compresslevel=6)


def timed(args):
    """Wall time and CPU time (user + system) of one run."""
    subprocess.run(['sync'], check=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    result = subprocess.run(args, capture_output=True, text=True)
    elapsed = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    if result.returncode != 0:
        sys.exit('%s failed: %s' % (args[0], result.stderr.strip()))
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return elapsed, cpu, result.stdout.strip()


def same_trees(a, b):
    cmp = filecmp.dircmp(a, b)
    stack = [cmp]
    while stack:
        c = stack.pop()
        if c.left_only or c.right_only or c.funny_files:
            return False
        _, mismatch, errors = filecmp.cmpfiles(c.left, c.right, c.common_files, shallow=False)
        if mismatch or errors:
            return False
        stack.extend(c.subdirs.values())
    return True


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = os.path.abspath(sys.argv[1])
    size_mb = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get('ZIP_BENCH_MB', '1024'))
    members = int(sys.argv[3] if len(sys.argv) > 3 else os.environ.get('ZIP_BENCH_MEMBERS', '10000'))
    rounds = int(sys.argv[4] if len(sys.argv) > 4 else os.environ.get('ZIP_BENCH_ROUNDS', '3'))
    work = tempfile.mkdtemp(prefix='zip-bench-')
    try:
        archive = os.path.join(work, 'bench.zip')
        start = time.perf_counter()
        make_archive(archive, size_mb, members)
        print('archive: %d members, %d MiB of data, %.1f MiB on disk (made in %.0f s)' % (
            members, size_mb, os.path.getsize(archive) / MIB, time.perf_counter() - start))

        times = {'ours': [], 'unzip -o -q': []}
        cpus = {'ours': [], 'unzip -o -q': []}
        report = ''
        for r in range(rounds):
            # Fresh folders every round, removed only at the end: on ext4
            # without a journal, creating files soon after many deletions
            # is slowed by the search for inodes that were not just freed.
            ours_dir = os.path.join(work, 'ours%d' % r)
            unzip_dir = os.path.join(work, 'unzip%d' % r)
            for d in (ours_dir, unzip_dir):
                os.mkdir(d)
            # Alternate who goes first, so neither always meets a warmer cache.
            runs = [('ours', [bench, archive, ours_dir]),
                    ('unzip -o -q', ['unzip', '-o', '-q', archive, '-d', unzip_dir])]
            for name, args in (runs if r % 2 == 0 else runs[::-1]):
                elapsed, cpu, out = timed(args)
                times[name].append(elapsed)
                cpus[name].append(cpu)
                if name == 'ours':
                    report = out
            if r == 0 and not same_trees(ours_dir, unzip_dir):
                sys.exit('our output differs from unzip\'s')
        for name, values in times.items():
            best, median = min(values), statistics.median(values)
            print('%-12s wall best %6.2f s  median %6.2f s  %7.1f MiB/s   cpu median %6.2f s' % (
                name, best, median, size_mb / median, statistics.median(cpus[name])))
        print('ours:', report)
        ratio = statistics.median(times['unzip -o -q']) / statistics.median(times['ours'])
        print('speed vs unzip -o -q, wall time (median): %.2fx' % ratio)
        ratio = statistics.median(cpus['unzip -o -q']) / statistics.median(cpus['ours'])
        print('speed vs unzip -o -q, cpu time (median):  %.2fx' % ratio)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
