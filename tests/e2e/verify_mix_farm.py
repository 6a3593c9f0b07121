#!/usr/bin/env python3
"""A farm of local proxies shaped like a public proxy list, for the benchmark.

N ports on 127.0.0.1 in one asyncio loop: half black-holed (a listener with a
backlog of 0 whose accept queue is already full, so further handshakes are
dropped), a fifth refused (nothing listens), a tenth silent after accepting,
the rest answering at once or after --slow-delay seconds. With --endless every
answering proxy sends an endless page instead (the memory check). Writes
FARM=port,kind;... to --env-file once every port is ready.
"""
import argparse
import asyncio
import os
import socket

PAGE = b"<html><body>RELAYMOTH-VERIFY-7731</body></html>\n"


def black_hole():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    fillers = []
    # Handshakes complete until the accept queue is full; then the port drops them.
    for _ in range(8):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        fillers.append(c)
        probe = socket.socket()
        probe.settimeout(0.2)
        try:
            probe.connect(("127.0.0.1", port))
            fillers.append(probe)
        except OSError:
            probe.close()
            break
    return port, [listener] + fillers


def free_port(taken):
    while True:
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
        s.close()
        if port not in taken:
            return port


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--env-file", required=True)
    ap.add_argument("--rows", type=int, required=True)
    ap.add_argument("--slow-delay", type=float, default=0.5)
    ap.add_argument("--lifetime", type=float, default=900)
    ap.add_argument("--endless", action="store_true")
    args = ap.parse_args()

    async def answer(reader, writer, kind):
        try:
            head = b""
            while b"\r\n\r\n" not in head:
                chunk = await reader.read(4096)
                if not chunk:
                    return
                head += chunk
            if kind == "silent":
                await asyncio.sleep(3600)
                return
            if kind == "slow":
                await asyncio.sleep(args.slow_delay)
            if args.endless:
                writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n")
                block = b"x" * 65536
                while True:
                    writer.write(block)
                    await writer.drain()
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                         str(len(PAGE)).encode() + b"\r\nConnection: close\r\n\r\n" + PAGE)
            await writer.drain()
        except (ConnectionError, asyncio.CancelledError):
            pass
        finally:
            writer.close()

    async def farm():
        keep, entries = [], []
        n = args.rows
        for i in range(n):
            # Spread the kinds through the list: out of every 20 rows, 10
            # black-holed, 4 refused, 2 silent, 2 fast, 2 slow.
            k = i % 20
            kind = ("hole" if k < 10 else "refused" if k < 14 else "silent" if k < 16
                    else "fast" if k < 18 else "slow")
            if kind == "hole":
                port, socks = black_hole()
                keep.extend(socks)
            elif kind == "refused":
                port = None
            else:
                server = await asyncio.start_server(
                    lambda r, w, k=kind: answer(r, w, k), "127.0.0.1", 0, backlog=512)
                keep.append(server)
                port = server.sockets[0].getsockname()[1]
            entries.append([port, kind])
        taken = {p for p, _ in entries if p}
        for e in entries:
            if e[0] is None:
                e[0] = free_port(taken)
                taken.add(e[0])
        tmp = args.env_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("FARM=" + ";".join("%d,%s" % (p, k) for p, k in entries) + "\n")
        os.replace(tmp, args.env_file)
        await asyncio.sleep(args.lifetime)

    asyncio.run(farm())
    os._exit(0)


if __name__ == "__main__":
    main()
