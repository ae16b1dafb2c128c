#!/usr/bin/env python3
"""A slow access link on loopback, for benchmarks.

Listens on 127.0.0.1:PORT (0 picks one; the first line on standard output is
"listening 127.0.0.1:PORT", one line per port when --port is repeated, so that
services on hosts of their own can be told apart) and forwards every
connection to 127.0.0.1:TARGET byte for byte, so TLS passes through
untouched. What it models:

- a round trip time: data take RTT/2 in each direction, and a new connection
  waits one round trip before its first byte goes through (TCP's handshake);
- an uplink (client to server) and a downlink rate, each one queue that every
  connection takes its turn on, as on one real access link: two uploads at
  once share the uplink;
- a real link's segment size (1460 bytes) and a small receive window in
  front of the link, so that a sender gets a few hundred KB ahead of the link
  on a slow one, as on a real host, not the whole photo as on loopback;
- with --stall-after-up N, an uplink that carries N bytes in all and then
  nothing more, the connections left open and silent.

What it does not model: loss, jitter, reordering, TCP's slow start and
congestion control, or queueing in the network beyond the one link.
Half-closes and closes are passed on.

Counters (connections accepted, bytes up, bytes down) go to --stats FILE as
JSON when a connection opens or ends, on SIGUSR1, and on SIGTERM or SIGINT,
which also stop it; SIGUSR2 sets them to zero (and writes the file), and
the stall then counts from zero again. --verbose logs each connection on
standard error, with wall-clock times.
"""
import argparse
import asyncio
import json
import os
import signal
import socket
import sys
import time

PACKET = 1460  # a real link's segment, and the smallest piece it hands over


class Stats:
    def __init__(self, path):
        self.path = path
        self.reset()

    def reset(self):
        self.connections = 0
        self.bytes_up = 0
        self.bytes_down = 0

    def write(self):
        if not self.path:
            return
        # Written whole and renamed, so a reader never sees half a file.
        temporary = self.path + ".tmp"
        with open(temporary, "w") as out:
            json.dump({"connections": self.connections, "bytes_up": self.bytes_up,
                       "bytes_down": self.bytes_down}, out)
        os.replace(temporary, self.path)


class Link:
    """One direction of the link: a rate shared by all connections, and a delay."""

    def __init__(self, mbit, delay):
        self.rate = mbit * 1e6 / 8  # bytes per second; 0 is unlimited
        self.delay = delay
        self.free_at = 0.0
        # About 10 ms of the rate per read: fine enough for timing, few enough
        # wake-ups to move several MB/s without eating a core.
        self.chunk = max(PACKET, min(262144, int(self.rate * 0.01))) if self.rate else 262144
        # The receive buffer in front of the link. Loopback's 64 KiB segments and
        # megabytes of buffers would let a sender hand its kernel a whole photo
        # at once, far ahead of the link; with a real link's segment size and a
        # small window it gets only a few hundred KB ahead, as on a real host.
        self.buffer = max(8192, 2 * self.chunk)

    def socket(self):
        """A socket that receives this direction's data as a real link would."""
        sock = socket.socket()
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_MAXSEG, PACKET)
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, self.buffer)
        return sock

    def reserve(self, at, size):
        """When the last of SIZE bytes handed over at AT has gone out."""
        if not self.rate:
            return at
        self.free_at = max(at, self.free_at) + size / self.rate
        return self.free_at


class LinkModel:
    def __init__(self, args):
        self.args = args
        self.stats = Stats(args.stats)
        self.up = Link(args.up, args.rtt / 2000)
        self.down = Link(args.down, args.rtt / 2000)
        self.stalled = False
        self.ids = 0

    def stall_reached(self):
        limit = self.args.stall_after_up
        if limit is None or self.stats.bytes_up < limit:
            return False
        if not self.stalled:
            self.log(f"uplink stalled after {self.stats.bytes_up} bytes")
            self.stalled = True
        return True

    def reset(self):
        """Counters to zero; the stall counts again from here."""
        self.stats.reset()
        self.stalled = False
        self.stats.write()

    def log(self, text):
        if self.args.verbose:  # wall-clock times, to be set beside other logs
            print(f"{time.time():.3f} {text}", file=sys.stderr, flush=True)

    async def deliver(self, queue, writer):
        """Hands each piece to the receiver when it has crossed the link."""
        loop = asyncio.get_running_loop()
        while True:
            due, data = await queue.get()
            await asyncio.sleep(max(0.0, due - loop.time()))
            if data is None:  # the sender half-closed
                if writer.can_write_eof():
                    writer.write_eof()
                return
            if data is False:  # the link went silent: nothing more, no end either
                return
            writer.write(data)
            await writer.drain()

    async def carry(self, reader, writer, link, uplink, moved):
        loop = asyncio.get_running_loop()
        # A few pieces at most: the link's own pace keeps this short.
        queue = asyncio.Queue(maxsize=64)
        delivering = asyncio.create_task(self.deliver(queue, writer))
        ready = None  # when this connection's previous piece had gone out
        try:
            while True:
                if delivering.done():  # the receiver is gone
                    return delivering.result()
                asked = loop.time()
                data = await reader.read(link.chunk)
                if not data:
                    await queue.put((loop.time() + link.delay, None))
                    break
                at = loop.time()
                # Data already waiting when a late timer woke us count from when
                # the link was free for them: timer lateness must not slow the link.
                if ready is not None and at - asked < 0.001:
                    at = min(at, max(ready, asked - 0.01))
                if uplink and self.args.stall_after_up is not None:
                    data = data[:max(0, self.args.stall_after_up - self.stats.bytes_up)]
                if data:
                    moved[uplink] += len(data)
                    if uplink:
                        self.stats.bytes_up += len(data)
                    else:
                        self.stats.bytes_down += len(data)
                    ready = link.reserve(at, len(data))
                    await asyncio.sleep(max(0.0, ready - loop.time()))  # the link is busy
                    await queue.put((ready + link.delay, data))
                if uplink and self.stall_reached():
                    await queue.put((loop.time(), False))
                    break
            await delivering
        finally:
            delivering.cancel()

    async def handle(self, client_reader, client_writer):
        port = client_writer.get_extra_info("sockname")[1]
        self.ids += 1
        name = f"connection {self.ids}"
        self.stats.connections += 1
        self.stats.write()
        loop = asyncio.get_running_loop()
        opened = loop.time()
        writers, pumps = [client_writer], []
        try:
            sock = self.down.socket()
            sock.setblocking(False)
            try:
                await loop.sock_connect(sock, ("127.0.0.1", self.args.target))
            except BaseException:
                sock.close()
                raise
            server_reader, server_writer = await asyncio.open_connection(
                sock=sock, limit=self.down.chunk)
            writers.append(server_writer)
            self.log(f"{name} opened on port {port}")
            await asyncio.sleep(self.args.rtt / 1000)  # SYN and SYN-ACK
            moved = {True: 0, False: 0}
            pumps += [asyncio.create_task(
                         self.carry(client_reader, server_writer, self.up, True, moved)),
                     asyncio.create_task(
                         self.carry(server_reader, client_writer, self.down, False, moved))]
            # Both directions end by their own half-close; a reset of either ends both.
            done, _ = await asyncio.wait(pumps, return_when=asyncio.FIRST_EXCEPTION)
            failed = [p.exception() for p in done if not p.cancelled() and p.exception()]
            self.log(f"{name} closed: open {loop.time() - opened:.3f} s, {moved[True]} bytes up, "
                     f"{moved[False]} down" + (f" ({failed[0]!r})" if failed else ""))
        except OSError as error:
            self.log(f"{name}: {error!r}")
        except asyncio.CancelledError:
            pass  # stopping: the connections just close
        finally:
            for task in pumps:
                task.cancel()
            for writer in writers:
                writer.close()
            self.stats.write()

    async def run(self):
        loop = asyncio.get_running_loop()
        stop = loop.create_future()
        for number in (signal.SIGTERM, signal.SIGINT):
            loop.add_signal_handler(number, lambda: stop.done() or stop.set_result(None))
        loop.add_signal_handler(signal.SIGUSR1, self.stats.write)
        loop.add_signal_handler(signal.SIGUSR2, self.reset)
        servers = []
        for port in self.args.port or [0]:
            listener = self.up.socket()  # accepted connections inherit its settings
            listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            listener.bind(("127.0.0.1", port))
            servers.append(await asyncio.start_server(self.handle, sock=listener,
                                                      limit=self.up.chunk))
        self.stats.write()
        for server in servers:
            print(f"listening 127.0.0.1:{server.sockets[0].getsockname()[1]}", flush=True)
        await stop
        for server in servers:
            server.close()
        self.stats.write()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, action="append",
                        help="port to listen on (0 picks one; repeat for more, one link)")
    parser.add_argument("--target", type=int, required=True, help="port on 127.0.0.1 to forward to")
    parser.add_argument("--rtt", type=float, default=0.0, help="round trip time, ms")
    parser.add_argument("--up", type=float, default=0.0, help="uplink, Mbit/s (0: unlimited)")
    parser.add_argument("--down", type=float, default=0.0, help="downlink, Mbit/s (0: unlimited)")
    parser.add_argument("--stall-after-up", type=int, metavar="BYTES",
                        help="carry this many bytes up in all, then nothing more")
    parser.add_argument("--stats", metavar="FILE", help="where the counters are written")
    parser.add_argument("--verbose", action="store_true", help="log connections on stderr")
    args = parser.parse_args()
    asyncio.run(LinkModel(args).run())


if __name__ == "__main__":
    main()
