#!/usr/bin/python3
"""Local servers for the verification tests and the verify benchmark, all on
127.0.0.1 and all ending by themselves after --lifetime seconds.

Test mode (default) starts:
  web      a web server; /verify.html contains VERIFY_TEXT
  proxy    an HTTP proxy that fetches every request's path from the web server,
           whatever host and port the request names (so a site URL that points at
           a closed port only works through the proxy)
  slow     the same after --slow-delay seconds
  other    an HTTP proxy that answers every request with a page without VERIFY_TEXT
  silent   accepts, reads the request and never answers
  trickle  answers 200 and then one byte per second for ever
  cookie   the proxy's page with a Set-Cookie header for the site
  redirect the proxy, except that a path beginning /moved answers 302 to the rest
           of the path (a page with VERIFY_TEXT in its body)
  challenge the proxy, except that /auth401/... and /auth407/... answer 401 or
           407 with a Basic challenge unless the request carries credentials
  dead     a port where nothing listens
  ftp      pyftpdlib, user "relay" password "moth" (needs Debian's python3-pyftpdlib)
and writes "NAME=PORT" lines to --env-file once every server listens.

Farm mode (--farm N) starts N proxy ports for the benchmark in one asyncio loop:
port i is fast (i % 4 == 0, 1: answers the page at once), slow (2: after
--slow-delay seconds), dead (3: nothing listens); with --black-hole every 8th
port accepts and never answers instead. The env file then holds
FARM=port,kind;port,kind;...
"""
import argparse
import os
import socket
import socketserver
import sys
import threading
import time

VERIFY_TEXT = b"RELAYMOTH-VERIFY-7731"
PAGE = b"<html><body>relaymoth test page " + VERIFY_TEXT + b"</body></html>\n"
OTHER_PAGE = b"<html><body>some other page entirely</body></html>\n"

WEB_PORT = 0
SLOW_DELAY = 0.6


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True
    request_queue_size = 512


def read_request(sock):
    """Reads one request head; returns (method, target, head) or None."""
    data = b""
    sock.settimeout(30)
    while b"\r\n\r\n" not in data and len(data) < 65536:
        chunk = sock.recv(4096)
        if not chunk:
            return None
        data += chunk
    line = data.split(b"\r\n", 1)[0].split(b" ")
    if len(line) < 2:
        return None
    return line[0], line[1], data.split(b"\r\n\r\n", 1)[0] + b"\r\n"


def respond(sock, body, status=b"200 OK"):
    sock.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Type: text/html\r\nContent-Length: " +
                 str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body)


def path_of(target):
    if target.startswith(b"http://"):
        rest = target[7:]
        slash = rest.find(b"/")
        return rest[slash:] if slash >= 0 else b"/"
    return target


# The list download's files: a short list (with and without Content-Length, and
# over FTP as /list.txt), an error page sent with status 200, a request echo
# that tells what the client sent and whether the answer came from the server
# (it asks to be cached for an hour), and a 10 MiB list for the speed tool; the
# list in chunks, and cut short: shorter than its Content-Length, without the
# last chunk, and inside a chunk; a provider's short-lived link (JSON, a new
# set each fetch) and a provider's error answer.
DOWNLOAD_LIST = b"10.0.0.1:8080\r\n10.0.0.2:3128@HTTP\r\n10.0.0.3:1080\r\n"
DOWNLOAD_SERIAL = [0]
SHORT_SERIAL = [0]


def short_lived_answer():
    """A provider's short-lived link: 500 proxies in JSON with their time to
    live; each fetch hands out the set moved on by one."""
    SHORT_SERIAL[0] += 1
    first = SHORT_SERIAL[0]
    items = ['{"ip":"10.3.%d.%d","port":8080,"ttl":600}' % (i // 250, i % 250 + 1)
             for i in range(first, first + 500)]
    return ('{"code":0,"msg":"ok","data":{"list":[' + ",".join(items) + "]}}").encode()


def download_route(sock, path, head):
    if path == b"/dl/list.txt":
        respond(sock, DOWNLOAD_LIST)
    elif path == b"/dl/list-nolength.txt":
        sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" +
                     DOWNLOAD_LIST)
    elif path == b"/dl/cut-length.txt":
        sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                     str(len(DOWNLOAD_LIST) + 100).encode() + b"\r\nConnection: close\r\n\r\n" +
                     DOWNLOAD_LIST)
    elif path in (b"/dl/chunked.txt", b"/dl/cut-chunked.txt", b"/dl/cut-in-chunk.txt"):
        half = len(DOWNLOAD_LIST) // 2
        out = (b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n"
               b"Connection: close\r\n\r\n")
        for piece in (DOWNLOAD_LIST[:half], DOWNLOAD_LIST[half:]):
            out += b"%x\r\n" % len(piece) + piece + b"\r\n"
        if path == b"/dl/chunked.txt":
            out += b"0\r\n\r\n"
        sock.sendall(out)
        if path == b"/dl/cut-in-chunk.txt":
            # The client is waiting inside a chunk when the connection ends.
            time.sleep(0.3)
            sock.sendall(b"100\r\n10.0.0.9:80")
            time.sleep(0.3)
    elif path == b"/dl/table.html":
        # A list site's page: the proxies in a table, address and port apart.
        respond(sock, "<html><head><title>免费代理</title></head><body><table>"
                "<tr><th>IP</th><th>端口</th><th>类型</th></tr>"
                "<tr><td>10.0.1.1</td><td>8080</td><td>HTTP</td></tr>"
                "<tr><td>10.0.1.2</td><td>1080</td><td>SOCKS5</td></tr>"
                "</table><p>更新于 2024.01.02</p></body></html>\n".encode("utf-8"))
    elif path == b"/dl/short.json":
        respond(sock, short_lived_answer())
    elif path == b"/dl/provider-error.json":
        respond(sock, '{"code":121,"msg":"余额不足"}'.encode("utf-8"))
    elif path == b"/dl/error.html":
        respond(sock, b"<html><body>Service Unavailable</body></html>\n")
    elif path == b"/dl/echo":
        DOWNLOAD_SERIAL[0] += 1
        body = head + b"serial=%d\n" % DOWNLOAD_SERIAL[0]
        sock.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nCache-Control: max-age=3600\r\n"
                     b"Content-Length: " + str(len(body)).encode() + b"\r\nConnection: close\r\n\r\n" + body)
    elif path == b"/dl/big.txt":
        line = b"192.168.100.200:8080\r\n"
        body = line * ((10 << 20) // len(line))
        respond(sock, body)
    else:
        return False
    return True


class WebHandler(socketserver.BaseRequestHandler):
    def handle(self):
        req = read_request(self.request)
        if req is None:
            return
        if path_of(req[1]) == b"/verify.html":
            respond(self.request, PAGE)
        elif path_of(req[1]) == b"/ip":
            # The exit check's echo page: the requester's address as seen here.
            respond(self.request, self.client_address[0].encode() + b"\n")
        elif not download_route(self.request, path_of(req[1]), req[2]):
            respond(self.request, b"<html>not found</html>", b"404 Not Found")


def fetch_from_web(path):
    # The proxies reach the web server from 127.0.0.2, so that the echo page
    # tells a request through a proxy from a direct one.
    with socket.create_connection(("127.0.0.1", WEB_PORT), timeout=30,
                                  source_address=("127.0.0.2", 0)) as s:
        s.sendall(b"GET " + path + b" HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n")
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                return data
            data += chunk


def make_proxy(kind):
    class Handler(socketserver.BaseRequestHandler):
        def handle(self):
            req = read_request(self.request)
            if req is None:
                return
            if kind == "silent":
                time.sleep(3600)
                return
            if kind == "trickle":
                self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n")
                while True:
                    time.sleep(1)
                    self.request.sendall(b".")
            if kind == "other":
                respond(self.request, OTHER_PAGE)
                return
            path = path_of(req[1])
            if kind == "redirect" and path.startswith(b"/moved/"):
                body = b"<html><body>moved " + VERIFY_TEXT + b"</body></html>\n"
                self.request.sendall(b"HTTP/1.1 302 Found\r\nLocation: " + path[6:] +
                                     b"\r\nContent-Length: " + str(len(body)).encode() +
                                     b"\r\nConnection: close\r\n\r\n" + body)
                return
            if kind == "challenge":
                for prefix, code, name in ((b"/auth401/", b"401 Unauthorized", b"WWW"),
                                           (b"/auth407/", b"407 Proxy Authentication Required",
                                            b"Proxy")):
                    if not path.startswith(prefix):
                        continue
                    asked = b"\r\nproxy-authorization:" if name == b"Proxy" else b"\r\nauthorization:"
                    if asked in req[2].lower():
                        path = path[len(prefix) - 1:]
                        break
                    self.request.sendall(
                        b"HTTP/1.1 " + code + b"\r\n" + name +
                        b"-Authenticate: Basic realm=\"relaymoth\"\r\nContent-Length: " +
                        str(len(OTHER_PAGE)).encode() + b"\r\nConnection: close\r\n\r\n" +
                        OTHER_PAGE)
                    return
            if kind == "slow":
                time.sleep(SLOW_DELAY)
            answer = fetch_from_web(path)
            if kind == "cookie":
                status, rest = answer.split(b"\r\n", 1)
                answer = (status + b"\r\nSet-Cookie: relaymoth_jar=hostile; path=/\r\n" + rest)
            self.request.sendall(answer)
    return Handler


def serve(handler, port=0):
    server = Server(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_ftp():
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler
    from pyftpdlib.servers import ThreadedFTPServer
    import logging
    logging.getLogger("pyftpdlib").setLevel(logging.ERROR)
    home = os.path.join(os.environ.get("TMPDIR", "/tmp"), "relaymoth-ftp-%d" % os.getpid())
    os.makedirs(home, exist_ok=True)
    with open(os.path.join(home, "list.txt"), "wb") as f:
        f.write(DOWNLOAD_LIST)
    auth = DummyAuthorizer()
    auth.add_user("relay", "moth", home)
    handler = FTPHandler
    handler.authorizer = auth
    handler.banner = "relaymoth test ftp"
    server = ThreadedFTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, kwargs={"handle_exit": False},
                     daemon=True).start()
    return server.address[1]


async def answer_proxy(reader, writer, kind, slow_delay, endless=False):
    """One request to a farm proxy: "silent" never answers, "slow" answers after
    slow_delay seconds, the others at once; with endless, the page never ends."""
    import asyncio
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
            await asyncio.sleep(slow_delay)
        if endless:
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


async def serve_farm(kinds, answer, env_file, lifetime, made_elsewhere=None):
    """One proxy per entry of kinds on 127.0.0.1, answered by answer(reader,
    writer, kind); "dead" and "refused" get a port nobody listens on, and
    made_elsewhere(kind) may return (port, sockets to keep) for a kind it makes
    itself. Writes FARM=port,kind;... to env_file once every port is ready, then
    serves for lifetime seconds."""
    import asyncio
    keep, entries = [], []
    for kind in kinds:
        made = made_elsewhere(kind) if made_elsewhere else None
        if made:
            port, socks = made
            keep.extend(socks)
        elif kind in ("dead", "refused"):
            port = None  # picked below, once every listening port is taken
        else:
            server = await asyncio.start_server(
                lambda r, w, k=kind: answer(r, w, k), "127.0.0.1", 0, backlog=512)
            keep.append(server)
            port = server.sockets[0].getsockname()[1]
        entries.append([port, kind])
    taken = {port for port, _ in entries if port}
    for entry in entries:
        if entry[0] is None:
            entry[0] = free_port()
            while entry[0] in taken:
                entry[0] = free_port()
        taken.add(entry[0])
    tmp = env_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("FARM=" + ";".join("%d,%s" % (port, kind) for port, kind in entries) + "\n")
    os.replace(tmp, env_file)
    await asyncio.sleep(lifetime)


def run_farm(args):
    import asyncio

    def answer(reader, writer, kind):
        return answer_proxy(reader, writer, kind, args.slow_delay)

    kinds = []
    for i in range(args.farm):
        kind = ["fast", "fast", "slow", "dead"][i % 4]
        if args.black_hole and i % 8 == 7:
            kind = "silent"
        kinds.append(kind)
    asyncio.run(serve_farm(kinds, answer, args.env_file, args.lifetime))
    os._exit(0)


HELD_SOCKETS = []


def black_hole_port():
    """A port that drops every handshake: a listener with a backlog of 0 whose
    accept queue two connections that are never accepted have filled."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(0)
    port = listener.getsockname()[1]
    HELD_SOCKETS.append(listener)
    for _ in range(2):
        c = socket.socket()
        c.setblocking(False)
        c.connect_ex(("127.0.0.1", port))
        HELD_SOCKETS.append(c)
    return port


def main():
    global WEB_PORT, SLOW_DELAY
    ap = argparse.ArgumentParser()
    ap.add_argument("--env-file", required=True)
    ap.add_argument("--lifetime", type=float, default=900)
    ap.add_argument("--slow-delay", type=float, default=0.6)
    ap.add_argument("--farm", type=int, default=0)
    ap.add_argument("--black-hole", action="store_true")
    args = ap.parse_args()
    SLOW_DELAY = args.slow_delay
    if args.farm:
        return run_farm(args)
    WEB_PORT = serve(WebHandler)
    lines = ["WEB=%d" % WEB_PORT]
    if True:
        for kind in ("proxy", "slow", "other", "silent", "trickle", "cookie", "redirect",
                     "challenge"):
            lines.append("%s=%d" % (kind.upper(), serve(make_proxy(kind))))
        lines.append("DEAD=%d" % free_port())
        lines.append("HOLE=%d" % black_hole_port())
        try:
            lines.append("FTP=%d" % start_ftp())
        except ImportError as e:
            print("verify_servers: no FTP server (%s)" % e, file=sys.stderr)
    tmp = args.env_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, args.env_file)
    time.sleep(args.lifetime)
    os._exit(0)


if __name__ == "__main__":
    main()
