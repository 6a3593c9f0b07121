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
import resource
import socket

from verify_servers import answer_proxy, serve_farm


def black_hole():
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    # With a backlog of 0 the accept queue is full after one handshake; two
    # connections that are never accepted make sure of it, and the port drops
    # every handshake after them. Nothing here waits (a probe with a time-out
    # per port kept a farm of thousands of ports from starting for many minutes).
    fillers = []
    for _ in range(2):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        fillers.append(c)
    return port, [listener] + fillers


def main():
    # Three sockets a black-holed port: a farm of thousands needs more than the
    # usual 1024 (or 20000) descriptors.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard == resource.RLIM_INFINITY or hard > soft:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    ap = argparse.ArgumentParser()
    ap.add_argument("--env-file", required=True)
    ap.add_argument("--rows", type=int, required=True)
    ap.add_argument("--slow-delay", type=float, default=0.5)
    ap.add_argument("--lifetime", type=float, default=900)
    ap.add_argument("--endless", action="store_true")
    args = ap.parse_args()

    def answer(reader, writer, kind):
        return answer_proxy(reader, writer, kind, args.slow_delay, args.endless)

    # Spread the kinds through the list: out of every 20 rows, 10 black-holed,
    # 4 refused, 2 silent, 2 fast, 2 slow.
    kinds = []
    for i in range(args.rows):
        k = i % 20
        kinds.append("hole" if k < 10 else "refused" if k < 14 else "silent" if k < 16
                     else "fast" if k < 18 else "slow")
    asyncio.run(serve_farm(kinds, answer, args.env_file, args.lifetime,
                           lambda kind: black_hole() if kind == "hole" else None))
    os._exit(0)


if __name__ == "__main__":
    main()
