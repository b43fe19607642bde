#!/usr/bin/env python3
"""Times the engine's HTTP transfer against curl, both on one kept-alive
connection to an nginx that this script starts on 127.0.0.1:

  1. HEAD of 10,000 different files: http_bench (the engine's HEAD request)
     against one curl invocation given all 10,000 URLs (curl keeps its
     connection between them).
  2. One 1 GiB file: http_bench (the engine's download, written to a file)
     against `curl -o`.
  3. The check pass over the same 10,000 files (their HEADs as a run makes
     them), one at a time against curl as in 1, and eight at a time
     (PARALLEL_TRANSFERS=8) against `curl -Z --parallel-max 8`. The two
     sides take turns going first; medians of five.

1 and 2 are run three times and the best time counts. Prints times and ratios;
the ratios are "curl's time / ours" (above 1: we are faster).

Usage: http_bench.py <path to http_bench> [HEAD count] [GET MiB]
       (or HTTP_BENCH_HEADS, HTTP_BENCH_MB)
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from bench_common import free_port, start_nginx  # noqa: E402

ROUNDS = 3
BLOCK = 1 << 20


def best_of(fn):
    return min(fn() for _ in range(ROUNDS))


def alternating_medians(fn_a, fn_b, rounds=5):
    a, b = [], []
    for i in range(rounds):
        for fn, out in (((fn_a, a), (fn_b, b)) if i % 2 == 0 else ((fn_b, b), (fn_a, a))):
            out.append(fn())
    return statistics.median(a), statistics.median(b)


def timed_run(args, **kwargs):
    start = time.perf_counter()
    subprocess.run(args, check=True, **kwargs)
    return time.perf_counter() - start


def our_time(args):
    # Whole process, as for curl: start-up and connection set-up count too.
    return timed_run(args, stdout=subprocess.DEVNULL)


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    bench = os.path.abspath(sys.argv[1])
    heads = int(sys.argv[2] if len(sys.argv) > 2 else os.environ.get('HTTP_BENCH_HEADS', 10000))
    mib = int(sys.argv[3] if len(sys.argv) > 3 else os.environ.get('HTTP_BENCH_MB', 1024))
    for name in ('http_proxy', 'HTTP_PROXY', 'all_proxy', 'ALL_PROXY'):
        os.environ.pop(name, None)
    work = tempfile.mkdtemp(prefix='http-bench-')
    proc = None
    try:
        os.makedirs(os.path.join(work, 'www/base/h'))
        os.makedirs(os.path.join(work, 'tmp'))
        os.makedirs(os.path.join(work, 'log'))
        for i in range(heads):
            with open(os.path.join(work, 'www/base/h/f%05d' % i), 'wb') as f:
                f.write(b'x' * (i % 512))
        big = os.path.join(work, 'www/base/big.bin')
        block = os.urandom(BLOCK)
        with open(big, 'wb') as f:
            for _ in range(mib):
                f.write(block)
        size = mib * BLOCK
        port = free_port()
        proc = start_nginx(work, os.path.join(work, 'www'), port, access_log=False)
        base = 'http://127.0.0.1:%d/' % port

        urls = os.path.join(work, 'urls.cfg')
        with open(urls, 'w') as f:
            for i in range(heads):
                f.write('url = "%sbase/h/f%05d"\n' % (base, i))
        with open(os.devnull, 'w') as null:
            curl_head = best_of(lambda: timed_run(['curl', '-s', '-I', '-K', urls], stdout=null))
        our_head = best_of(lambda: our_time([bench, 'head', str(port), str(heads), 'base/h/f']))
        our_head_log = best_of(lambda: our_time(
            [bench, 'head', str(port), str(heads), 'base/h/f', '--log', work + '/log']))

        pass_rows = []
        with open(os.devnull, 'w') as null:
            for parallel in (1, 8):
                curl_args = ['curl', '-s', '-I', '-K', urls]
                if parallel > 1:
                    curl_args[2:2] = ['-Z', '--parallel-max', str(parallel)]
                curl_t, our_t = alternating_medians(
                    lambda: timed_run(curl_args, stdout=null, stderr=null),
                    lambda: our_time([bench, 'check', str(port), str(heads), 'base/h/f',
                                      str(parallel)]))
                pass_rows.append((parallel, curl_t, our_t))

        target = os.path.join(work, 'down.bin')
        curl_get = best_of(lambda: timed_run(['curl', '-s', '-o', target, base + 'base/big.bin']))
        if os.path.getsize(target) != size:
            sys.exit('curl download has the wrong size')
        os.remove(target)
        our_get = best_of(lambda: our_time([bench, 'get', str(port), 'base/big.bin', target,
                                            str(size)]))
        if os.path.getsize(target) != size:
            sys.exit('our download has the wrong size')
        os.remove(target)

        print('%d HEAD requests, each side on one connection:' % heads)
        print('  curl -I (one invocation)   %8.3f s  %8.0f req/s' % (curl_head, heads / curl_head))
        print('  engine, no log             %8.3f s  %8.0f req/s  ratio %.2f'
              % (our_head, heads / our_head, curl_head / our_head))
        print('  engine, with its log       %8.3f s  %8.0f req/s  ratio %.2f'
              % (our_head_log, heads / our_head_log, curl_head / our_head_log))
        print('check pass over %d files (HEADs), alternating, medians of 5:' % heads)
        for parallel, curl_t, our_t in pass_rows:
            print('  %d at a time: curl %8.3f s, engine %8.3f s  ratio %.2f'
                  % (parallel, curl_t, our_t, curl_t / our_t))
        print('GET of %d MiB to a file:' % mib)
        print('  curl -o                    %8.3f s  %8.0f MiB/s' % (curl_get, mib / curl_get))
        print('  engine                     %8.3f s  %8.0f MiB/s  ratio %.2f'
              % (our_get, mib / our_get, curl_get / our_get))
    finally:
        if proc is not None:
            proc.terminate()
            proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
