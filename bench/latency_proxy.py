#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that delays every byte by a fixed time in each
direction, so a loopback server looks as far away as a real one: 20 ms each
way is a 40 ms round trip. Bandwidth is not limited and bytes keep their
order; a half-close is passed on after the same delay.

Run on its own, it prints "listening on PORT" once it accepts connections
and ends after --max-seconds (or on SIGTERM / SIGINT):

  bench/latency_proxy.py --upstream 127.0.0.1:8080 [--port 0] [--delay-ms 20]
                         [--max-seconds 900]

or from Python: `with LatencyProxy(upstream_port, delay_ms=20) as proxy:`
then connect to proxy.port.
"""
import argparse
import asyncio
import signal
import subprocess
import sys
import time

READ_BYTES = 256 * 1024
# Blocks held back per direction before reading pauses: bounds the memory.
QUEUED_BLOCKS = 256


async def _pump(reader, writer, delay, counter, key):
    """Copies reader to writer, each block delayed by `delay` seconds."""
    queue = asyncio.Queue(QUEUED_BLOCKS)

    async def read_side():
        try:
            while True:
                data = await reader.read(READ_BYTES)
                await queue.put((time.monotonic() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            await queue.put((time.monotonic() + delay, b""))

    async def write_side():
        try:
            while True:
                due, data = await queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                counter[key] += len(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(read_side(), write_side())


async def _serve(upstream_host, upstream_port, delay, port, ready, counter, stop):
    async def handle(client_reader, client_writer):
        try:
            up_reader, up_writer = await asyncio.open_connection(upstream_host, upstream_port)
        except OSError:
            client_writer.close()
            return
        counter["connections"] += 1
        try:
            await asyncio.gather(
                _pump(client_reader, up_writer, delay, counter, "to_server"),
                _pump(up_reader, client_writer, delay, counter, "to_client"))
        except asyncio.CancelledError:
            pass  # the proxy is ending
        for w in (client_writer, up_writer):
            w.close()

    server = await asyncio.start_server(handle, "127.0.0.1", port, backlog=256)
    ready(server.sockets[0].getsockname()[1])
    async with server:
        await stop.wait()


def run(upstream, delay_ms, port, max_seconds, announce):
    host, _, up_port = upstream.rpartition(":")
    counter = {"to_server": 0, "to_client": 0, "connections": 0}

    async def main():
        stop = asyncio.Event()
        loop = asyncio.get_running_loop()
        for sig in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(sig, stop.set)
        loop.call_later(max_seconds, stop.set)
        await _serve(host or "127.0.0.1", int(up_port), delay_ms / 1000.0, port, announce,
                     counter, stop)

    asyncio.run(main())
    return counter


class LatencyProxy:
    """The proxy as a child process, for benchmarks."""

    def __init__(self, upstream_port, delay_ms=20, max_seconds=900):
        self._args = [sys.executable, __file__, "--upstream", f"127.0.0.1:{upstream_port}",
                      "--delay-ms", str(delay_ms), "--max-seconds", str(max_seconds)]
        self.port = 0
        self._proc = None

    def __enter__(self):
        self._proc = subprocess.Popen(self._args, stdout=subprocess.PIPE, text=True)
        line = self._proc.stdout.readline()
        if not line.startswith("listening on "):
            self._proc.kill()
            raise RuntimeError("latency proxy did not start")
        self.port = int(line.split()[-1])
        return self

    def __exit__(self, *exc):
        self._proc.terminate()
        try:
            self._proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--upstream", required=True, help="HOST:PORT of the server")
    parser.add_argument("--port", type=int, default=0, help="where to listen (0: any free)")
    parser.add_argument("--delay-ms", type=float, default=20.0, help="delay each way")
    parser.add_argument("--max-seconds", type=float, default=900.0, help="ends after this")
    args = parser.parse_args()

    def announce(port):
        print(f"listening on {port}", flush=True)

    counter = run(args.upstream, args.delay_ms, args.port, args.max_seconds, announce)
    print(f"connections {counter['connections']}, bytes to server {counter['to_server']}, "
          f"to client {counter['to_client']}", file=sys.stderr)


if __name__ == "__main__":
    main()
