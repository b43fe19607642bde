#!/usr/bin/env python3
"""Times gzip decoding: our decoder (file to file), `gzip -dc` and Python's
zlib streaming decompressobj, on the same text-like data, in one run.

Usage: gzip_bench.py <path to gzip_bench> [size in MiB]  (or GZIP_BENCH_MB)
"""
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time
import zlib

CHUNK = 1 << 20


def make_text(path, size):
    """Writes text-like lines: a pool of random lines, reshuffled per block."""
    rnd = random.Random(7)
    words = [''.join(rnd.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rnd.randint(2, 10)))
             for _ in range(5000)]
    # Zipf-like word frequencies, as in prose, give text's usual ratio of about 3:1.
    weights = [1.0 / (rank + 1) for rank in range(len(words))]
    pool, pool_size = [], 0
    while pool_size < 8 * CHUNK:
        line = ' '.join(rnd.choices(words, weights, k=rnd.randint(3, 16)))
        pool.append(('%s %d\n' % (line, rnd.randint(0, 9999))).encode())
        pool_size += len(pool[-1])
    written = 0
    with open(path, 'wb') as f:
        while written < size:
            rnd.shuffle(pool)
            block = b''.join(pool)[:size - written]
            f.write(block)
            written += len(block)


def same(a, b):
    with open(a, 'rb') as fa, open(b, 'rb') as fb:
        while True:
            x, y = fa.read(CHUNK), fb.read(CHUNK)
            if x != y:
                return False
            if not x:
                return True


def timed(fn):
    start = time.perf_counter()
    fn()
    return time.perf_counter() - start


def python_zlib(src, dst):
    d = zlib.decompressobj(16 + zlib.MAX_WBITS)
    with open(src, 'rb') as fi, open(dst, 'wb') as fo:
        while chunk := fi.read(CHUNK):
            fo.write(d.decompress(chunk))
        fo.write(d.flush())


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = os.path.abspath(sys.argv[1])
    size_mb = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get('GZIP_BENCH_MB', '1024'))
    work = tempfile.mkdtemp(prefix='gzip-bench-')
    try:
        data = os.path.join(work, 'data.txt')
        packed = data + '.gz'
        out = os.path.join(work, 'out')
        make_text(data, size_mb * CHUNK)
        with open(packed, 'wb') as f:
            subprocess.run(['gzip', '-c', data], stdout=f, check=True)
        print('data %d MiB, gzip -6 %.1f MiB' % (size_mb, os.path.getsize(packed) / CHUNK))

        report = {}

        def ours():
            r = subprocess.run([bench, packed, out], capture_output=True, text=True, check=True)
            report['ours'] = r.stdout.strip()

        def gzip_dc():
            with open(out, 'wb') as f:
                subprocess.run(['gzip', '-dc', packed], stdout=f, check=True)

        times = {}
        for name, fn in (('ours', ours), ('gzip -dc', gzip_dc),
                         ('python zlib', lambda: python_zlib(packed, out))):
            times[name] = timed(fn)
            if not same(data, out):
                sys.exit('%s: output differs from the original' % name)
            os.remove(out)
            print('%-12s %7.2f s  %7.1f MiB/s' % (name, times[name], size_mb / times[name]))
        print('ours:', report['ours'])
        peak = int(report['ours'].rsplit('peak_rss_kib=', 1)[1])
        print('speed vs gzip -dc:    %.2fx' % (times['gzip -dc'] / times['ours']))
        print('speed vs python zlib: %.2fx' % (times['python zlib'] / times['ours']))
        print('our peak memory: %.1f MiB' % (peak / 1024))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
