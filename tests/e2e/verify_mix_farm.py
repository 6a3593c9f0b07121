#!/usr/bin/env python3
"""A farm of local proxies shaped like a public proxy list, for the benchmarks.

N ports on 127.0.0.1 in one asyncio loop: half black-holed, a fifth refused
(nothing listens), a tenth silent after accepting, the rest answering at once or
after --slow-delay seconds. With --endless every answering proxy sends an endless
page instead (the memory check). Writes FARM=port,kind;... to --env-file once
every port is ready.

A black hole is a listener whose socket filter drops every packet, so handshakes
go unanswered for one descriptor a port; where the kernel refuses the filter, a
listener with a backlog of 0 whose accept queue two never accepted connections
fill (three descriptors a port).

--port-range LO-HI takes the ports from that range (ports in use are passed
over) instead of letting the system choose: the ephemeral range then stays free
for the checker's own connections, and several farm processes with ranges of
their own make a farm larger than one process's descriptor limit allows.
"""
import argparse
import asyncio
import ctypes
import errno
import os
import resource
import socket
import struct

from verify_servers import answer_proxy, serve_farm

SO_ATTACH_FILTER = 26
# One classic BPF instruction, "return 0": the packet is dropped.
_DROP_ALL = ctypes.create_string_buffer(struct.pack("HBBI", 0x06, 0, 0, 0))
_DROP_PROG = struct.pack("HL", 1, ctypes.addressof(_DROP_ALL))


def bind_listener(port, backlog):
    """A listening socket on 127.0.0.1:port (0: any), or None when it is taken."""
    s = socket.socket()
    # Connections of an earlier run may still wait out their close on the port.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("127.0.0.1", port))
    except OSError as e:
        s.close()
        if e.errno in (errno.EADDRINUSE, errno.EACCES):
            return None
        raise
    s.listen(backlog)
    return s


def black_hole(port=0):
    """(port, sockets to keep) of a port that drops every handshake; None when
    `port` is taken."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.setsockopt(socket.SOL_SOCKET, SO_ATTACH_FILTER, _DROP_PROG)
        filtered = True
    except OSError:
        filtered = False
    try:
        listener.bind(("127.0.0.1", port))
    except OSError:
        listener.close()
        if port:
            return None
        raise
    port = listener.getsockname()[1]
    if filtered:
        listener.listen(16)
        return port, [listener]
    # With a backlog of 0 the accept queue is full after one handshake; two
    # connections that are never accepted make sure of it, and the port drops
    # every handshake after them. Nothing here waits (a probe with a time-out
    # per port kept a farm of thousands of ports from starting for many minutes).
    listener.listen(0)
    fillers = []
    for _ in range(2):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        fillers.append(c)
    return port, [listener] + fillers


def kinds_for(count):
    # Spread the kinds through the list: out of every 20 rows, 10 black-holed,
    # 4 refused, 2 silent, 2 fast, 2 slow.
    kinds = []
    for i in range(count):
        k = i % 20
        kinds.append("hole" if k < 10 else "refused" if k < 14 else "silent" if k < 16
                     else "fast" if k < 18 else "slow")
    return kinds


async def serve_range(kinds, answer, env_file, lifetime, low, high):
    """serve_farm with every port taken from [low, high]."""
    keep, entries = [], []
    port = low
    for kind in kinds:
        while True:
            if port > high:
                raise SystemExit("the port range %d-%d is too small" % (low, high))
            candidate, port = port, port + 1
            if kind == "hole":
                made = black_hole(candidate)
                if made:
                    keep.extend(made[1])
                    break
            elif kind == "refused":
                # Nothing listens here; a port nothing is bound to refuses.
                probe = bind_listener(candidate, 1)
                if probe:
                    probe.close()
                    break
            else:
                s = bind_listener(candidate, 512)
                if s:
                    server = await asyncio.start_server(
                        lambda r, w, k=kind: answer(r, w, k), sock=s)
                    keep.append(server)
                    break
        entries.append((candidate, kind))
    tmp = env_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("FARM=" + ";".join("%d,%s" % e for e in entries) + "\n")
    os.replace(tmp, env_file)
    await asyncio.sleep(lifetime)


def main():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if hard == resource.RLIM_INFINITY or hard > soft:
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    ap = argparse.ArgumentParser()
    ap.add_argument("--env-file", required=True)
    ap.add_argument("--rows", type=int, required=True)
    ap.add_argument("--slow-delay", type=float, default=0.5)
    ap.add_argument("--lifetime", type=float, default=900)
    ap.add_argument("--endless", action="store_true")
    ap.add_argument("--port-range", help="LO-HI: take the ports from this range")
    args = ap.parse_args()

    def answer(reader, writer, kind):
        return answer_proxy(reader, writer, kind, args.slow_delay, args.endless)

    kinds = kinds_for(args.rows)
    if args.port_range:
        low, high = (int(p) for p in args.port_range.split("-"))
        asyncio.run(serve_range(kinds, answer, args.env_file, args.lifetime, low, high))
    else:
        asyncio.run(serve_farm(kinds, answer, args.env_file, args.lifetime,
                               lambda kind: black_hole() if kind == "hole" else None))
    os._exit(0)


if __name__ == "__main__":
    main()
