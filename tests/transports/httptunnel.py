#!/usr/bin/python3
"""HTTP tunnel script for the tests: relays MySQL connections over HTTP/1.0.

Answers the six actions of the tunnel protocol (query key `a`):
  c  connect to the MySQL server at s:p (loopback only) for tunnel `id`
  t  test: "OK:" <connection number> LF <keep-alive seconds> LF
  r  read: "OK:" and the bytes the server sent (waits for at least one)
  w  write: the POST body goes to the server; "OK:"
  l  keep-alive: "OK:"
  x  close: "OK:"
Every request but c and t names its connection with `port`. `a=stats`
(not part of the protocol) reports what a connection saw, for the tests:
"OK:" then "w <sizes of the POST bodies, comma-separated>" and "l <count>".

The first segment of the URL path picks a behaviour, so that one running
script serves every test:
  tunnel  the normal relay (keep-alive 60 s, connections never expire)
  ka4     keep-alive 4 s; a connection idle for 4 s is dropped
  er      reads and writes answer "ER:The relay refused the request"
  junk    reads answer "XYZ" and some text
  mute    reads, writes, keep-alives and closes never get an answer
  lower   every answer starts with "ok:"
  badtest the test answer carries no numbers
  sink    writes are counted but not relayed
  auth    requires Basic credentials tunnel:secret (401 otherwise)
"""
import argparse
import base64
import http.server
import os
import select
import socket
import sys
import threading
import time
import urllib.parse

LOOPBACK = {"127.0.0.1", "localhost", "::1"}
READ_WAIT = 600.0
MODES = {"tunnel", "ka4", "er", "junk", "mute", "lower", "badtest", "sink", "auth"}
MAX_READ = 1 << 20


class Relay:
    def __init__(self, sock, expire):
        self.sock = sock
        self.expire = expire
        self.last = time.monotonic()
        self.posts = []
        self.keepalives = 0
        self.closed = False
        self.lock = threading.Lock()

    def touch(self):
        self.last = time.monotonic()

    def close(self):
        self.closed = True
        try:
            self.sock.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        self.sock.close()


relays = {}
tunnel_ids = {}
state_lock = threading.Lock()
next_number = [1000]


def expire_loop():
    while True:
        time.sleep(0.2)
        now = time.monotonic()
        with state_lock:
            for relay in relays.values():
                if relay.expire and not relay.closed and now - relay.last > relay.expire:
                    relay.close()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def answer(self, body, status=200, headers=()):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)
        self.wfile.flush()

    def ok(self, payload=b""):
        self.answer((b"ok:" if self.mode == "lower" else b"OK:") + payload)

    def hang(self):
        # Never answer; wait for the client to give up.
        select.select([self.connection], [], [], 120)

    def do_GET(self):
        self.handle_request(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length) if length > 0 else b""
        self.handle_request(body)

    def handle_request(self, body):
        url = urllib.parse.urlsplit(self.path)
        self.mode = url.path.strip("/").split("/")[0]
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        action = query.get("a", "")
        if self.mode not in MODES:
            self.answer(b"", 404)
            return
        if self.mode == "auth":
            expected = "Basic " + base64.b64encode(b"tunnel:secret").decode()
            if self.headers.get("Authorization") != expected:
                self.answer(b"", 401)
                return
        if action == "c":
            self.connect(query)
        elif action == "t":
            self.test(query)
        elif action == "stats":
            relay = self.relay(query)
            if relay:
                sizes = ",".join(str(n) for n in relay.posts)
                self.ok(("w %s\nl %d\n" % (sizes, relay.keepalives)).encode())
        elif action in ("r", "w", "l", "x"):
            if self.mode == "mute":
                self.hang()
                return
            relay = self.relay(query)
            if relay:
                getattr(self, "action_" + action)(relay, body)
        else:
            self.answer(b"", 404)

    def relay(self, query):
        with state_lock:
            relay = relays.get(int(query.get("port", "0") or 0))
        if relay is None:
            self.answer(b"ER:No such connection")
        return relay

    def connect(self, query):
        host, port, tunnel = query.get("s", ""), int(query.get("p", "0") or 0), query.get("id", "")
        if host not in LOOPBACK:
            self.answer(b"ER:This script relays to this machine only")
            return
        try:
            sock = socket.create_connection((host, port), timeout=10)
            sock.settimeout(None)
        except OSError as e:
            self.answer(("ER:Cannot connect to %s:%d: %s" % (host, port, e)).encode())
            return
        with state_lock:
            number = next_number[0]
            next_number[0] += 1
            relays[number] = Relay(sock, 4 if self.mode == "ka4" else 0)
            tunnel_ids[tunnel] = number
        self.ok()

    def test(self, query):
        with state_lock:
            number = tunnel_ids.get(query.get("id", ""))
        if number is None:
            self.answer(b"ER:The tunnel is not open")
        elif self.mode == "badtest":
            self.ok(b"abc\n")
        else:
            keepalive = 4 if self.mode == "ka4" else 60
            self.ok(b"%d\r\n%d\r\n" % (number, keepalive))

    def action_r(self, relay, body):
        if self.mode == "er":
            self.answer(b"ER:The relay refused the request")
            return
        if self.mode == "junk":
            self.answer(b"XYZ is not an answer")
            return
        data = b""
        ready, _, _ = select.select([relay.sock], [], [], READ_WAIT) if not relay.closed else ([], [], [])
        if ready:
            try:
                data = relay.sock.recv(MAX_READ)
                relay.sock.setblocking(False)
                try:
                    while len(data) < MAX_READ:
                        more = relay.sock.recv(MAX_READ - len(data))
                        if not more:
                            break
                        data += more
                except (BlockingIOError, InterruptedError):
                    pass
                finally:
                    relay.sock.setblocking(True)
            except OSError:
                data = b""
        relay.touch()
        self.ok(data)

    def action_w(self, relay, body):
        if self.mode == "er":
            self.answer(b"ER:The relay refused the request")
            return
        relay.posts.append(len(body))
        if self.mode != "sink":
            try:
                relay.sock.sendall(body)
            except OSError as e:
                self.answer(("ER:The server connection is lost: %s" % e).encode())
                return
        relay.touch()
        self.ok()

    def action_l(self, relay, body):
        relay.keepalives += 1
        relay.touch()
        self.ok()

    def action_x(self, relay, body):
        relay.close()
        self.ok()


def watch_owner(owner):
    while True:
        time.sleep(1)
        try:
            os.kill(owner, 0)
        except ProcessLookupError:
            os._exit(0)
        except PermissionError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--owner", type=int, default=0, help="exit when this process is gone")
    args = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=expire_loop, daemon=True).start()
    if args.owner:
        threading.Thread(target=watch_owner, args=(args.owner,), daemon=True).start()
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.rename(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
