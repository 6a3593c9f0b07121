#!/usr/bin/env python3
"""Measures `relaymoth-cli serve` on 127.0.0.1 against going straight to the
same upstream (a microsocks), and prints the numbers (never a verdict):

  - added latency of one request (connect, SOCKS5 handshake, request, whole
    512-byte answer), serve vs direct, interleaved: p50 and p99 of each and of
    the difference;
  - one tunnel's throughput (256 MiB downloaded, best of 5), serve vs direct;
  - 10,000 tunnels open at once through serve: its threads, and its resident
    memory per tunnel;
  - p50/p99 of the same request while serve re-verifies a 10,000-row pool
    (9,999 rows of a farm that answers every check without the verify string,
    so they do the whole check and stay out of the rotation), against idle.

    scripts/serve-bench.py CLI [SAMPLES]
"""
import asyncio
import os
import re
import resource
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request

CLI = sys.argv[1]
SAMPLES = int(sys.argv[2]) if len(sys.argv) > 2 else 2000
# Two descriptors a tunnel in serve: where the hard limit is below 20,000 and
# cannot be raised, as many as fit.
TUNNELS = int(os.environ.get("RELAYMOTH_BENCH_TUNNELS", "10000"))
POOL = int(os.environ.get("RELAYMOTH_BENCH_POOL", "10000"))
# RELAYMOTH_BENCH_PARTS: which of latency,throughput,tunnels,pool to run (all).
PARTS = os.environ.get("RELAYMOTH_BENCH_PARTS", "latency,throughput,tunnels,pool").split(",")
PAGE = b"HTTP/1.0 200 OK\r\nContent-Length: 512\r\n\r\n" + b"x" * 512
VERIFY = b"RELAYMOTH-SERVE-BENCH"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def serve_forever(listener, answer):
    def loop():
        while True:
            c, _ = listener.accept()
            threading.Thread(target=answer, args=(c,), daemon=True).start()

    threading.Thread(target=loop, daemon=True).start()


def page_answer(c):
    """A request's head in, the page (with the verify string for /check) out."""
    head = b""
    while b"\r\n\r\n" not in head:
        b = c.recv(4096)
        if not b:
            break
        head += b
    if b" /check " in head:
        c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: %d\r\n\r\n" % len(VERIFY) + VERIFY)
    elif b" /bulk " in head:
        c.sendall(b"HTTP/1.0 200 OK\r\n\r\n")
        block = b"x" * (1 << 20)
        for _ in range(256):
            c.sendall(block)
    elif b" /hold " in head:
        c.recv(1)  # held open until the client closes
    else:
        c.sendall(PAGE)
    c.close()


def listener(host="127.0.0.1", port=0):
    s = socket.socket()
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind((host, port))
    s.listen(4096)
    return s


def socks5_open(port, target_port):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    # The greeting's answer first: microsocks reads the request apart.
    s.sendall(b"\x05\x01\x00")
    if s.recv(2) != b"\x05\x00":
        raise OSError("SOCKS5 greeting refused")
    s.sendall(b"\x05\x01\x00\x01" + socket.inet_aton("127.0.0.1") + struct.pack(">H", target_port))
    got = b""
    while len(got) < 10:
        b = s.recv(10 - len(got))
        if not b:
            raise OSError("closed during the SOCKS5 handshake")
        got += b
    if got[1] != 0:
        raise OSError("SOCKS5 refused: %r" % got)
    return s


def one_request(port, target_port, path=b"/page"):
    t = time.perf_counter()
    s = socks5_open(port, target_port)
    s.sendall(b"GET " + path + b" HTTP/1.0\r\n\r\n")
    n = 0
    while True:
        b = s.recv(65536)
        if not b:
            break
        n += len(b)
    s.close()
    if n != len(PAGE):
        raise OSError("short answer: %d bytes" % n)
    return (time.perf_counter() - t) * 1000


def pct(values, p):
    v = sorted(values)
    return v[min(len(v) - 1, int(len(v) * p / 100))]


def metric(status_port, name):
    opener = urllib.request.build_opener(urllib.request.ProxyHandler({}))
    text = opener.open("http://127.0.0.1:%d/metrics" % status_port, timeout=5).read()
    m = re.search(rb"^" + name.encode() + rb" (\d+)$", text, re.M)
    return int(m.group(1)) if m else -1


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f)
    return int(fields["VmRSS"].split()[0]), int(fields["Threads"])


def start_serve(tmp, rows, port, status, extra=()):
    path = os.path.join(tmp, "list-%d.txt" % port)
    with open(path, "w") as f:
        f.write("\n".join(rows) + "\n")
    log = open(os.path.join(tmp, "serve-%d.log" % port), "w")
    p = subprocess.Popen([CLI, "serve", "--listen", "127.0.0.1:%d" % port, "--status",
                          "127.0.0.1:%d" % status, "--verify-every", "0", *extra, path],
                         stderr=log)
    for _ in range(600):
        try:
            if metric(status, "relaymoth_verifications_total") >= 1:
                return p
        except OSError:
            pass
        time.sleep(0.05)
    raise SystemExit("serve did not verify its pool (see %s)" % log.name)


def farm_process(port):
    """An asyncio "proxy" on 0.0.0.0:port answering every request with a page
    that lacks the verify string: each check is done in full and fails."""
    code = r'''
import asyncio, sys
async def answer(r, w):
    try:
        await r.readuntil(b"\r\n\r\n")
        w.write(b"HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nnope")
        await w.drain()
    except Exception:
        pass
    w.close()
async def main():
    s = await asyncio.start_server(answer, "0.0.0.0", int(sys.argv[1]), backlog=4096)
    await s.serve_forever()
asyncio.run(main())
'''
    return subprocess.Popen([sys.executable, "-c", code, str(port)])


def dante(tmp):
    """danted on a free port: the throughput's upstream (microsocks copies in
    small pieces, which would measure microsocks)."""
    port = free_port()
    conf = os.path.join(tmp, "danted.conf")
    with open(conf, "w") as f:
        f.write("logoutput: /dev/null\ninternal: 127.0.0.1 port = %d\nexternal: 127.0.0.1\n"
                "clientmethod: none\nsocksmethod: none\nuser.privileged: root\n"
                "user.unprivileged: nobody\nclient pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n" % port)
    # In a session of its own: its children go with it.
    p = subprocess.Popen(["danted", "-f", conf, "-N", "2"], stderr=subprocess.DEVNULL,
                         stdout=subprocess.DEVNULL, start_new_session=True)
    time.sleep(0.5)
    return p, port


HOLDER = r'''
import asyncio, sys
async def answer(r, w):
    try:
        head = await r.readuntil(b"\r\n\r\n")
        if not head.startswith(b"CONNECT "):
            w.write(b"HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")
            await w.drain()
            w.close()
            return
        w.write(b"HTTP/1.1 200 Connection established\r\n\r\n")
        await w.drain()
        while await r.read(65536):
            pass
    except Exception:
        pass
    w.close()
async def main():
    s = await asyncio.start_server(answer, "127.0.0.1", int(sys.argv[1]), backlog=4096)
    await s.serve_forever()
asyncio.run(main())
'''


def stop(serve):
    serve.send_signal(signal.SIGTERM)
    serve.wait(15)


def main():
    # 10,000 tunnels take 20,000 descriptors in serve; root may raise the hard limit.
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    try:
        resource.setrlimit(resource.RLIMIT_NOFILE, (65536, 65536))
    except (ValueError, OSError):
        resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    global TUNNELS
    limit = resource.getrlimit(resource.RLIMIT_NOFILE)[0]
    if 2 * TUNNELS + 100 > limit:
        TUNNELS = (limit - 100) // 2
        print("descriptor limit %d: %d tunnels" % (limit, TUNNELS))
    tmp = tempfile.mkdtemp(prefix="serve-bench-")
    web = listener()
    web_port = web.getsockname()[1]
    serve_forever(web, page_answer)
    socks_port = free_port()
    micro = subprocess.Popen(["microsocks", "-i", "127.0.0.1", "-p", str(socks_port)],
                             stderr=subprocess.DEVNULL)
    time.sleep(0.3)
    site = ["--site", "http://127.0.0.1:%d/check=%s" % (web_port, VERIFY.decode())]

    if "latency" in PARTS:
        port, status = free_port(), free_port()
        serve = start_serve(tmp, ["127.0.0.1:%d@SOCKS5" % socks_port], port, status, site)
        try:
            for _ in range(50):
                one_request(port, web_port)
                one_request(socks_port, web_port)
            via, direct = [], []
            for _ in range(SAMPLES):
                via.append(one_request(port, web_port))
                direct.append(one_request(socks_port, web_port))
            added = [a - b for a, b in zip(via, direct)]
            print("request via serve   p50 %.3f ms  p99 %.3f ms" % (pct(via, 50), pct(via, 99)))
            print("request direct      p50 %.3f ms  p99 %.3f ms" %
                  (pct(direct, 50), pct(direct, 99)))
            print("added by serve      p50 %.3f ms  p99 %.3f ms  (%d pairs, microsocks upstream)" %
                  (pct(added, 50), pct(added, 99), SAMPLES), flush=True)
        finally:
            stop(serve)

    if "throughput" in PARTS:
        danted, dante_port = dante(tmp)
        port, status = free_port(), free_port()
        serve = start_serve(tmp, ["127.0.0.1:%d@SOCKS5" % dante_port], port, status, site)

        def bulk(p):
            s = socks5_open(p, web_port)
            s.sendall(b"GET /bulk HTTP/1.0\r\n\r\n")
            buf = bytearray(1 << 20)
            n, t = 0, time.perf_counter()
            while True:
                k = s.recv_into(buf)
                if not k:
                    break
                n += k
            s.close()
            return n / (time.perf_counter() - t) / (1 << 20)

        try:
            via, direct = [], []
            for _ in range(5):
                via.append(bulk(port))
                direct.append(bulk(dante_port))
            print("one tunnel          serve %.0f MiB/s  direct %.0f MiB/s  (%.0f %%, best of 5, "
                  "dante upstream)" % (max(via), max(direct), 100 * max(via) / max(direct)),
                  flush=True)
        finally:
            stop(serve)
            os.killpg(danted.pid, signal.SIGTERM)

    if "tunnels" in PARTS:
        hold_port = free_port()
        holder = subprocess.Popen([sys.executable, "-c", HOLDER, str(hold_port)])
        time.sleep(0.5)
        port, status = free_port(), free_port()
        # The holder answers a check's plain request itself, and holds tunnels.
        serve = start_serve(tmp, ["127.0.0.1:%d@HTTP" % hold_port], port, status,
                            ["--site", "http://127.0.0.1:%d/=" % web_port])
        try:
            usable = metric(status, "relaymoth_pool_usable")
            base, _ = rss_kib(serve.pid)
            tunnels = [socks5_open(port, web_port) for _ in range(TUNNELS)]
            time.sleep(0.5)
            full, threads = rss_kib(serve.pid)
            open_now = metric(status, "relaymoth_connections_open")
            print("%d tunnels       %d open, usable rows %d, threads %d, RSS %d -> %d KiB: "
                  "%.2f KiB a tunnel" % (TUNNELS, open_now, usable, threads, base, full,
                                         (full - base) / TUNNELS), flush=True)
            for s in tunnels:
                s.close()
        finally:
            stop(serve)
            holder.kill()

    if "pool" in PARTS:
        farm_port = free_port()
        farm = farm_process(farm_port)
        time.sleep(0.5)
        rows = ["127.0.0.1:%d@SOCKS5" % socks_port]
        for i in range(POOL - 1):
            rows.append("127.1.%d.%d:%d@HTTP" % (i // 250, 2 + i % 250, farm_port))
        port, status = free_port(), free_port()
        serve = start_serve(tmp, rows, port, status, site + ["--db", "/dev/null"])
        try:
            print("pool                %d rows, %d usable" %
                  (metric(status, "relaymoth_pool_rows"), metric(status, "relaymoth_pool_usable")))
            idle = [one_request(port, web_port) for _ in range(SAMPLES)]
            busy, rounds, started = [], 0, time.perf_counter()
            while len(busy) < SAMPLES and rounds < 20:
                serve.send_signal(signal.SIGHUP)
                rounds += 1
                time.sleep(0.05)
                while metric(status, "relaymoth_verifying") == 1:
                    for _ in range(20):
                        busy.append(one_request(port, web_port))
            took = (time.perf_counter() - started) / rounds
            print("request, idle       p50 %.3f ms  p99 %.3f ms" % (pct(idle, 50), pct(idle, 99)))
            print("request, verifying  p50 %.3f ms  p99 %.3f ms  (%d requests over %d "
                  "verifications of %.1f s each)" %
                  (pct(busy, 50), pct(busy, 99), len(busy), rounds, took), flush=True)
        finally:
            stop(serve)
            farm.kill()
    micro.kill()


main()
