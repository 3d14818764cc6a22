#!/usr/bin/env python3
"""A wide-area link in user space, in front of a server on 127.0.0.1.

Listens on 127.0.0.1:PORT and forwards every connection to UPSTREAM, with:
  - one round trip before the client's first byte leaves (the connection's
    set-up: the kernel here completes the client's connect at once, so its
    bytes are held back until RTT after the accept);
  - half a round trip added to every byte, in each direction;
  - one shared rate limit per direction, over all connections: a link that
    sends one chunk at a time, taking the connections with data in turn.

Bytes are forwarded unchanged and in order. The end of one direction (EOF)
is passed on after the bytes before it, as a half close; the connection is
closed on both sides when both directions have ended, or at once when either
side fails (reset). Not emulated: TCP slow start and losses (each connection
may use the whole rate at once).

SIGUSR1 prints one line of counters on stdout: connections accepted, bytes
up (client to server) and down. "ready PORT" is printed once listening.

Usage: wan_relay.py --port N --upstream HOST:PORT --rtt-ms MS --rate-mbit R
       (--rate-mbit 0: no rate limit)
       wan_relay.py --self-test   (a few seconds; exit status 1 on a failure)
"""
import argparse
import asyncio
import collections
import signal
import sys

CHUNK = 16 * 1024  # the link's unit: small, so connections take turns
WINDOW = 4 * 1024 * 1024  # bytes read from one side and not yet written to the other
AHEAD = 0.010  # how far the link's clock may run ahead of real time (its burst)

stats = {"connections": 0, "up": 0, "down": 0}


class Link:
    """One direction's shared rate: chunks leave one after another."""

    def __init__(self, rate_bytes):
        self.rate = rate_bytes
        self.active = collections.deque()  # pipes with bytes waiting
        self.wake = asyncio.Event()
        self.free_at = 0.0  # when the link has sent what it took so far

    def submit(self, pipe):
        if not pipe.queued:
            pipe.queued = True
            self.active.append(pipe)
            self.wake.set()

    async def run(self):
        loop = asyncio.get_running_loop()
        while True:
            while not self.active:
                self.wake.clear()
                await self.wake.wait()
            pipe = self.active.popleft()
            chunk = pipe.take(CHUNK)
            now = loop.time()
            start = max(self.free_at, now)
            self.free_at = start + (len(chunk) / self.rate if self.rate else 0.0)
            pipe.sent(chunk, self.free_at)
            if pipe.pending:
                self.active.append(pipe)
            else:
                pipe.queued = False
            # Sleeping per chunk would lose every late wake-up; instead the
            # link's clock runs ahead by at most AHEAD.
            if self.free_at > now + AHEAD:
                await asyncio.sleep(self.free_at - now - AHEAD)


class Pipe:
    """One direction of one connection: read, then the link, then the delay."""

    def __init__(self, reader, writer, link, delay, start_at, counter):
        self.reader, self.writer = reader, writer
        self.link, self.delay, self.start_at, self.counter = link, delay, start_at, counter
        self.pending = collections.deque()  # bytes read, not yet on the link
        self.queued = False
        self.eof = False
        self.unwritten = 0
        self.room = asyncio.Event()
        self.room.set()
        self.deliveries = asyncio.Queue()  # (when, bytes or None for the end)
        self.last_when = 0.0

    def take(self, n):
        data = self.pending.popleft()
        if len(data) > n:
            self.pending.appendleft(data[n:])
            data = data[:n]
        return data

    def sent(self, chunk, left_at):
        self.last_when = left_at + self.delay
        self.deliveries.put_nowait((self.last_when, chunk))
        if not self.pending and self.eof:
            self.deliveries.put_nowait((self.last_when, None))

    async def read_side(self):
        loop = asyncio.get_running_loop()
        if self.start_at > loop.time():
            await asyncio.sleep(self.start_at - loop.time())
        while True:
            await self.room.wait()
            data = await self.reader.read(65536)
            if not data:
                break
            stats[self.counter] += len(data)
            self.unwritten += len(data)
            if self.unwritten >= WINDOW:
                self.room.clear()
            self.pending.append(data)
            self.link.submit(self)
        self.eof = True
        if not self.pending and not self.queued:
            self.deliveries.put_nowait((max(self.last_when, loop.time() + self.delay), None))

    async def write_side(self):
        loop = asyncio.get_running_loop()
        while True:
            when, data = await self.deliveries.get()
            if when > loop.time():
                await asyncio.sleep(when - loop.time())
            if data is None:
                if self.writer.can_write_eof():
                    self.writer.write_eof()
                return
            self.writer.write(data)
            await self.writer.drain()
            self.unwritten -= len(data)
            if self.unwritten < WINDOW:
                self.room.set()


class Relay:
    def __init__(self, upstream, rtt, rate_bytes):
        self.up_host, self.up_port = upstream
        self.rtt = rtt
        self.links = {"up": Link(rate_bytes), "down": Link(rate_bytes)}

    async def handle(self, c_reader, c_writer):
        loop = asyncio.get_running_loop()
        stats["connections"] += 1
        accepted = loop.time()
        try:
            s_reader, s_writer = await asyncio.open_connection(self.up_host, self.up_port)
        except OSError:
            c_writer.transport.abort()
            return
        half = self.rtt / 2
        up = Pipe(c_reader, s_writer, self.links["up"], half, accepted + self.rtt, "up")
        down = Pipe(s_reader, c_writer, self.links["down"], half, 0.0, "down")
        tasks = [asyncio.ensure_future(t) for t in
                 (up.read_side(), up.write_side(), down.read_side(), down.write_side())]
        try:
            # Both directions ended (each writer passed its end on), or a failure.
            writers = {tasks[1], tasks[3]}
            pending = set(tasks)
            while writers & pending:
                done, pending = await asyncio.wait(pending, return_when=asyncio.FIRST_COMPLETED)
                if any(t.exception() for t in done if not t.cancelled()):
                    break
        except asyncio.CancelledError:
            pass  # the relay is stopping
        finally:
            for t in tasks:
                t.cancel()
            await asyncio.gather(*tasks, return_exceptions=True)
            for w in (c_writer, s_writer):
                w.close()


async def start_relay(port, upstream, rtt, rate_bytes):
    relay = Relay(upstream, rtt, rate_bytes)
    links = [asyncio.ensure_future(l.run()) for l in relay.links.values()]
    server = await asyncio.start_server(relay.handle, "127.0.0.1", port, reuse_address=True, backlog=1024)
    return server, links


async def self_test():
    """Bytes unchanged and in order over many connections at once, the added
    time, the rate, and closing from either side."""
    import os
    import random
    import time

    closed_by_client = asyncio.Event()

    async def upstream(reader, writer):
        # Echoes; "close" as the first bytes: answers "bye" and closes.
        first = await reader.read(5)
        if first == b"close":
            writer.write(b"bye")
            await writer.drain()
            writer.close()
            return
        while first:
            writer.write(first)
            await writer.drain()
            first = await reader.read(65536)
        closed_by_client.set()
        writer.close()

    up = await asyncio.start_server(upstream, "127.0.0.1", 0)
    up_port = up.sockets[0].getsockname()[1]
    failures = []

    async def exchange(port, payload, pieces):
        reader, writer = await asyncio.open_connection("127.0.0.1", port)

        async def send():
            step = max(1, len(payload) // pieces)
            for i in range(0, len(payload), step):
                writer.write(payload[i:i + step])
                await writer.drain()
            writer.write_eof()

        sender = asyncio.ensure_future(send())
        got = bytearray()
        while True:
            data = await reader.read(65536)
            if not data:
                break
            got += data
        await sender
        writer.close()
        return bytes(got)

    for rtt_ms, mbit in ((0, 0), (20, 0), (20, 200)):
        server, links = await start_relay(0, ("127.0.0.1", up_port), rtt_ms / 1000, mbit * 1e6 / 8)
        port = server.sockets[0].getsockname()[1]
        rng = random.Random(rtt_ms * 1000 + mbit)
        payloads = [os.urandom(rng.choice((1, 100, 5000, 70000, 400000))) for _ in range(60)]
        results = await asyncio.gather(*(exchange(port, p, rng.randint(1, 20)) for p in payloads))
        bad = sum(r != p for r, p in zip(results, payloads))
        if bad:
            failures.append("%d of %d echoes differ (rtt %d ms, %g Mbit/s)" % (bad, len(payloads), rtt_ms, mbit))
        # One byte on a new connection: the set-up round trip plus one round trip.
        t = time.monotonic()
        await exchange(port, b"x", 1)
        took = time.monotonic() - t
        if rtt_ms and not 2 * rtt_ms / 1000 <= took < 2 * rtt_ms / 1000 + 0.1:
            failures.append("one byte took %.3f s at rtt %d ms" % (took, rtt_ms))
        if mbit:
            n = 4 * 1000 * 1000  # 4 MB each way: at least n / rate
            t = time.monotonic()
            await exchange(port, os.urandom(n), 40)
            took = time.monotonic() - t
            if not n * 8 / (mbit * 1e6) <= took < 3 * n * 8 / (mbit * 1e6) + 0.2:
                failures.append("4 MB echo took %.3f s at %g Mbit/s" % (took, mbit))
        # The server closes: the client gets its last bytes, then the end.
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(b"close")
        got = await asyncio.wait_for(reader.read(100), 5)
        end = await asyncio.wait_for(reader.read(100), 5)
        if got != b"bye" or end != b"":
            failures.append("server close: got %r then %r" % (got, end))
        writer.close()
        # The client closes: the server sees the end.
        closed_by_client.clear()
        reader, writer = await asyncio.open_connection("127.0.0.1", port)
        writer.write(b"hello")
        await asyncio.wait_for(reader.read(5), 5)
        writer.close()
        try:
            await asyncio.wait_for(closed_by_client.wait(), 5)
        except asyncio.TimeoutError:
            failures.append("the server did not see the client close")
        server.close()
        for l in links:
            l.cancel()
    up.close()
    for f in failures:
        print("wan_relay self-test: " + f)
    print("wan_relay self-test: %s" % ("FAILED" if failures else "passed"))
    return 1 if failures else 0


async def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--self-test", action="store_true")
    ap.add_argument("--port", type=int)
    ap.add_argument("--upstream")
    ap.add_argument("--rtt-ms", type=float)
    ap.add_argument("--rate-mbit", type=float)
    a = ap.parse_args()
    if a.self_test:
        return await self_test()
    if a.port is None or not a.upstream or a.rtt_ms is None or a.rate_mbit is None:
        ap.error("--port, --upstream, --rtt-ms and --rate-mbit are needed")
    host, port = a.upstream.rsplit(":", 1)
    server, links = await start_relay(a.port, (host, int(port)), a.rtt_ms / 1000.0, a.rate_mbit * 1e6 / 8)
    loop = asyncio.get_running_loop()

    def report():
        print("relay connections %d up %d down %d" % (stats["connections"], stats["up"], stats["down"]),
              flush=True)

    loop.add_signal_handler(signal.SIGUSR1, report)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    loop.add_signal_handler(signal.SIGINT, stop.set)
    print("ready %d" % a.port, flush=True)
    async with server:
        await stop.wait()
    for l in links:
        l.cancel()
    return 0


if __name__ == "__main__":
    sys.exit(asyncio.run(main()))
