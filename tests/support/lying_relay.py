#!/usr/bin/env python3
"""A relay in front of an HTTP server on 127.0.0.1 that lies at random.

Listens on 127.0.0.1 (one or more ports, all alike) and forwards every
connection to UPSTREAM. Requests may come several at a time on a connection
(sent ahead); the relay reads each request head (requests carry no body) and
each answer's head and Content-Length body, so that it knows which answer
belongs to which request. Answers to the files' archives (paths ending .zip
or .7z; not the manifest, directory.txt.zip, whose signature the installer
checks once per server) are lied to with probability RATE, one per answer:
  cut    the connection ends part-way through the answer (head or body):
         closed, or one time in three reset;
  stall  the answer stops part-way for 1-3 s, then goes on (with
         --long-stalls F, that share of the stalls lasts 31-40 s instead,
         longer than the installer waits for a silent server);
  flip   one byte of the body is changed;
  swap   the request is sent on for another archive found below WWW, so the
         answer carries another file's bytes.
Everything else passes unchanged. Whatever the rate, the lies stay within
what the installer is to survive: per install, one archive (on any mirror)
is damaged (flip, swap) at most twice and cut or stalled for longer than
30 s at most three times; it fetches a damaged archive again three times
and asks each server five times.

The lie for the n-th request of a path is drawn from (SEED, path, n), so a
seed gives the same lies whatever the order the connections come in. When
started, and again on SIGUSR1, the next archive answers get each kind of lie
once (in an order drawn from the seed) before the random ones, so that every
kind is given in each install; the archives below WWW are read again then. Each lie given is one line in LOG: its kind
first ("cut", "stall", "flip", "swap"), then what and where.

"ready PORT..." is printed on stdout once listening, "armed N" once the N-th
SIGUSR1 is taken.

Usage: lying_relay.py --upstream HOST:PORT --www DIR --seed N --rate R --log FILE
                      [--listen N] [--long-stalls F]
"""
import argparse
import asyncio
import os
import random
import signal
import socket
import struct
import sys
import urllib.parse

KINDS = ("cut", "stall", "flip", "swap")
WEIGHTS = (0.35, 0.30, 0.20, 0.15)
CHUNK = 65536


class Lie:
    def __init__(self, kind, rng, forced):
        self.kind, self.forced, self.given = kind, forced, False
        self.where = rng.random()  # share of the answer before the lie
        self.reset = rng.random() < 1 / 3
        self.xor = rng.randrange(1, 256)
        self.seconds = rng.uniform(1.0, 3.0)
        self.long = rng.random()
        self.swap_to = None


class Liar:
    def __init__(self, args):
        self.seed, self.rate, self.long_stalls = args.seed, args.rate, args.long_stalls
        self.log = open(args.log, "a", buffering=1)
        self.www = args.www
        self.archives = []
        self.seen = {}
        self.damaged, self.failed = {}, {}  # lies per archive in this install
        self.arms = 0
        self.forced = []
        self.rearm()

    def rearm(self):
        """The archives below WWW are read again (a release may have been published since)."""
        self.archives = []
        for top, _, names in os.walk(self.www):
            for name in names:
                if name.lower().endswith((".zip", ".7z")):
                    rel = os.path.relpath(os.path.join(top, name), self.www)
                    self.archives.append("/" + rel.replace(os.sep, "/"))
        self.archives.sort()
        order = list(KINDS)
        random.Random("%d:arm:%d" % (self.seed, self.arms)).shuffle(order)
        self.arms += 1
        self.forced = order
        self.damaged, self.failed = {}, {}
        if self.arms > 1:
            print("armed %d" % (self.arms - 1), flush=True)

    def decide(self, target):
        """The lie for a request of `target` (as sent), or None."""
        path = urllib.parse.unquote(target.decode("latin-1"))
        if not path.lower().endswith((".zip", ".7z")) or path.endswith("/directory.txt.zip"):
            return None
        n = self.seen.get(path, 0)
        self.seen[path] = n + 1
        rng = random.Random("%d:%s:%d" % (self.seed, path, n))
        if self.forced:
            lie = Lie(self.forced.pop(0), rng, True)
        elif rng.random() < self.rate:
            lie = Lie(rng.choices(KINDS, WEIGHTS)[0], rng, False)
        else:
            return None
        if lie.kind == "stall" and lie.long < self.long_stalls:
            lie.seconds = 31.0 + 9.0 * (lie.long / self.long_stalls)
        # Below the installer's limits, whatever the rate: the same archive
        # (on any mirror) is damaged at most twice and cut or stalled past the
        # client's patience at most three times per install.
        key = path.split("/", 2)[-1]
        damaging = lie.kind in ("flip", "swap")
        failing = lie.kind == "cut" or lie.seconds > 30.0
        tally = self.damaged if damaging else self.failed if failing else None
        others = [a for a in self.archives if a != path]
        if (tally is not None and tally.get(key, 0) >= (2 if damaging else 3)) or (
                lie.kind == "swap" and not others):
            self.unused(lie)
            return None
        if tally is not None:
            tally[key] = tally.get(key, 0) + 1
        if lie.kind == "swap":
            lie.swap_to = urllib.parse.quote(rng.choice(others)).encode("latin-1")
        return lie

    def unused(self, lie):
        """A forced lie that was not given (its answer never came) waits for the next answer."""
        if lie and lie.forced and not lie.given:
            self.forced.insert(0, lie.kind)

    def note(self, text):
        self.log.write(text + "\n")


def content_length(head):
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            return int(value.strip())
    return -1


class Connection:
    def __init__(self, liar, c_reader, c_writer, s_reader, s_writer):
        self.liar = liar
        self.c_reader, self.c_writer, self.s_reader, self.s_writer = c_reader, c_writer, s_reader, s_writer
        self.waiting = asyncio.Queue()  # (method, target, lie) per request sent on
        for w in (c_writer, s_writer):
            w.transport.set_write_buffer_limits(0)  # drain: every byte handed to the kernel

    async def requests(self):
        buf = b""
        while True:
            data = await self.c_reader.read(CHUNK)
            if not data:
                if self.s_writer.can_write_eof():
                    self.s_writer.write_eof()
                return
            buf += data
            while True:
                end = buf.find(b"\r\n\r\n")
                if end < 0:
                    break
                head, buf = buf[: end + 4], buf[end + 4:]
                line_end = head.find(b"\r\n")
                words = head[:line_end].split(b" ")
                method, target, lie = b"", b"", None
                if len(words) == 3:
                    method, target = words[0], words[1]
                    lie = self.liar.decide(target)
                    if lie and lie.kind == "swap":
                        head = b" ".join((method, lie.swap_to, words[2])) + head[line_end:]
                self.waiting.put_nowait((method, target, lie))
                self.s_writer.write(head)
            await self.s_writer.drain()

    async def answers(self):
        """Passes answers on until the server ends or a cut; True after a cut."""
        while True:
            try:
                head = await self.s_reader.readuntil(b"\r\n\r\n")
            except asyncio.IncompleteReadError as e:
                self.c_writer.write(e.partial)
                await self.c_writer.drain()
                return False
            method, target, lie = (b"", b"", None)
            if not self.waiting.empty():
                method, target, lie = self.waiting.get_nowait()
            status_words = head.split(b"\r\n", 1)[0].split(b" ")
            status = status_words[1].decode() if len(status_words) > 1 else "?"
            length = content_length(head)
            if method == b"HEAD" or status.startswith("1") or status in ("204", "304"):
                length = 0
            cut = await self.pass_on(head, length, lie, target.decode("latin-1"), status)
            self.liar.unused(lie)
            if cut:
                return True
            if length < 0:
                return False  # the body ran to the server's end

    async def pass_on(self, head, length, lie, target, status):
        """One answer, its lie given on the way; True when the lie cut the connection."""
        total = len(head) + length if length >= 0 else -1
        at = -1
        if lie and total >= 0:
            if lie.kind in ("cut", "stall"):
                at = int(lie.where * total)
            elif lie.kind == "flip" and length > 0:
                at = len(head) + int(lie.where * length)
            elif lie.kind == "swap":
                lie.given = True
                self.liar.note("swap %s answered with %s (%s)" % (target, lie.swap_to.decode("latin-1"), status))
        pos = 0
        pending = head
        remaining = length
        while True:
            if not pending:
                if remaining == 0:
                    return False
                pending = await self.s_reader.read(CHUNK if remaining < 0 else min(CHUNK, remaining))
                if not pending:
                    return False
                if remaining > 0:
                    remaining -= len(pending)
            chunk, pending = pending, b""
            if at >= pos and at < pos + len(chunk) and not lie.given:
                k = at - pos
                lie.given = True
                if lie.kind == "flip":
                    chunk = chunk[:k] + bytes([chunk[k] ^ lie.xor]) + chunk[k + 1:]
                    self.liar.note("flip %s byte %d of %d" % (target, at - len(head), length))
                else:
                    self.c_writer.write(chunk[:k])
                    await self.c_writer.drain()
                    pos += k
                    chunk = chunk[k:]
                    if lie.kind == "cut":
                        how = "reset" if lie.reset else "close"
                        self.liar.note("cut %s %s after %d of %d bytes (%s)" % (how, target, at, total, status))
                        self.cut(lie.reset)
                        return True
                    self.liar.note("stall %.1fs %s after %d of %d bytes" % (lie.seconds, target, at, total))
                    await asyncio.sleep(lie.seconds)
            self.c_writer.write(chunk)
            await self.c_writer.drain()
            pos += len(chunk)

    def cut(self, reset):
        if reset:
            sock = self.c_writer.get_extra_info("socket")
            if sock is not None:
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.c_writer.transport.abort()
        else:
            self.c_writer.close()


async def handle(liar, upstream, c_reader, c_writer):
    try:
        s_reader, s_writer = await asyncio.open_connection(*upstream)
    except OSError:
        c_writer.transport.abort()
        return
    conn = Connection(liar, c_reader, c_writer, s_reader, s_writer)
    up = asyncio.ensure_future(conn.requests())
    down = asyncio.ensure_future(conn.answers())
    try:
        pending = {up, down}
        while down in pending:
            done, pending = await asyncio.wait(pending, return_when=asyncio.FIRST_COMPLETED)
            if up in done and up.exception() is not None:
                break  # the client failed: nothing more is wanted
    except (asyncio.CancelledError, OSError):
        pass
    finally:
        for t in (up, down):
            t.cancel()
        await asyncio.gather(up, down, return_exceptions=True)
        while not conn.waiting.empty():
            liar.unused(conn.waiting.get_nowait()[2])
        for w in (c_writer, s_writer):
            w.close()


async def main():
    p = argparse.ArgumentParser()
    p.add_argument("--upstream", required=True)
    p.add_argument("--www", required=True)
    p.add_argument("--seed", type=int, required=True)
    p.add_argument("--rate", type=float, required=True)
    p.add_argument("--log", required=True)
    p.add_argument("--listen", type=int, default=1, help="number of ports")
    p.add_argument("--long-stalls", type=float, default=0.0)
    args = p.parse_args()
    host, port = args.upstream.rsplit(":", 1)
    upstream = (host, int(port))
    liar = Liar(args)
    loop = asyncio.get_running_loop()
    loop.add_signal_handler(signal.SIGUSR1, liar.rearm)
    stop = asyncio.Event()
    loop.add_signal_handler(signal.SIGTERM, stop.set)
    servers = []
    for _ in range(args.listen):
        servers.append(await asyncio.start_server(lambda r, w: handle(liar, upstream, r, w), "127.0.0.1", 0,
                                                  backlog=256))
    ports = [s.sockets[0].getsockname()[1] for s in servers]
    print("ready " + " ".join(str(p) for p in ports), flush=True)
    await stop.wait()
    for s in servers:
        s.close()


if __name__ == "__main__":
    asyncio.run(main())
    sys.exit(0)
