#!/usr/bin/env python3
"""Loopback forward proxy for the network tests.

  proxy_server.py --run [--lifetime S] -- CMD ARGS...
      Makes a fresh control folder, starts an HTTP forward proxy on 127.0.0.1, runs CMD with
      DF_TEST_PROXY ("127.0.0.1:PORT") and DF_TEST_PROXY_CTL (the control folder) added to the
      environment, then stops the proxy, removes the folder and exits with CMD's exit code.
      CMD is killed after the lifetime (default 1200 s) and the exit code is then 124.

Requests: a request line in absolute form ("GET http://127.0.0.1:P/x HTTP/1.1", what a client
sends to a proxy) or in origin form ("GET /x" with a Host header, what some WinHTTP
implementations send) is forwarded to its origin with "Connection: close", and the answer
comes back as it is, then the client's connection closes. "CONNECT 127.0.0.1:P" opens a tunnel
(200, then bytes both ways until one side closes). Only 127.0.0.1 is ever connected to: any
other origin is answered 403.

Control: ctl/proxy.json, re-read on every request, may hold {"basic": "USER:PASSWORD"}: then
every request (CONNECT included) needs "Proxy-Authorization: Basic" with exactly those
credentials, and is otherwise answered 407 with 'Proxy-Authenticate: Basic realm="test"'. With
"only": [SUFFIX, ...] beside it, only the requests whose path ends with one of them do.

Journal: ctl/journal.jsonl gets one JSON object per request:
  {"method", "target", "form", "host", "auth", "status"}
"form" is "absolute", "origin" or "authority" (CONNECT); "host" the origin as host:port;
"auth" is "none" (no Proxy-Authorization), "right" or "wrong" (the credentials themselves are
never written); "status" is the proxy's own answer (407, 403, 502, 200 for a tunnel) or the
origin's status.
"""

import argparse
import base64
import json
import os
import select
import shutil
import socket
import socketserver
import sys
import tempfile
import threading
import urllib.parse

from release_server import run_command, split_command  # beside this script

IDLE_LIMIT = 120.0  # longest silence on a tunnel or forwarded answer, seconds


class ProxyState:
    def __init__(self, ctl):
        self.ctl = ctl
        self.lock = threading.Lock()

    def table(self):
        try:
            with open(os.path.join(self.ctl, "proxy.json"), "r", encoding="utf-8") as f:
                table = json.load(f)
        except (OSError, ValueError):
            return {}
        return table if isinstance(table, dict) else {}

    def basic(self):
        """The "USER:PASSWORD" the proxy asks for, or None."""
        value = self.table().get("basic")
        return value if isinstance(value, str) else None

    def asks_for(self, path):
        """Whether a request for path (None for CONNECT) needs the credentials."""
        only = self.table().get("only")
        if self.basic() is None:
            return False
        return not isinstance(only, list) or (path is not None and any(path.endswith(p) for p in only))

    def journal(self, entry):
        line = json.dumps(entry, separators=(",", ":")) + "\n"
        with self.lock:
            with open(os.path.join(self.ctl, "journal.jsonl"), "a", encoding="utf-8") as f:
                f.write(line)


def read_head(sock):
    """The request head up to the blank line (bytes), and what followed it; (None, b"") on EOF."""
    data = b""
    while b"\r\n\r\n" not in data:
        r, _, _ = select.select([sock], [], [], IDLE_LIMIT)
        if not r:
            return None, b""
        chunk = sock.recv(65536)
        if not chunk:
            return None, b""
        data += chunk
        if len(data) > 65536:
            return None, b""
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def pump(a, b):
    """Copies bytes both ways between a and b until one side closes or goes quiet too long."""
    socks = [a, b]
    while True:
        r, _, _ = select.select(socks, [], [], IDLE_LIMIT)
        if not r:
            return
        for s in r:
            try:
                data = s.recv(65536)
            except OSError:
                return
            if not data:
                return
            (b if s is a else a).sendall(data)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        sock = self.request
        head, rest = read_head(sock)
        if head is None:
            return
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        if len(parts) != 3:
            return
        method, target, version = parts
        headers = []
        for line in lines[1:]:
            name, _, value = line.partition(":")
            headers.append((name.strip(), value.strip()))
        get = lambda n: next((v for k, v in headers if k.lower() == n.lower()), None)

        entry = {"method": method, "target": target, "host": "", "auth": "none", "status": 0}
        if method == "CONNECT":
            entry["form"] = "authority"
            hostport = target
            path = None
        elif target.startswith("http://"):
            entry["form"] = "absolute"
            u = urllib.parse.urlsplit(target)
            hostport = u.netloc
            path = (u.path or "/") + ("?" + u.query if u.query else "")
        else:
            entry["form"] = "origin"
            hostport = get("Host") or ""
            path = target
        if ":" not in hostport:
            hostport += ":443" if method == "CONNECT" else ":80"
        entry["host"] = hostport

        given = get("Proxy-Authorization")
        if given is not None:
            entry["auth"] = "wrong"
            scheme, _, token = given.partition(" ")
            expected = self.server.state.basic()
            if scheme.lower() == "basic" and expected is not None:
                try:
                    if base64.b64decode(token.strip(), validate=True).decode("utf-8") == expected:
                        entry["auth"] = "right"
                except ValueError:
                    pass
        try:
            if self.server.state.asks_for(path) and entry["auth"] != "right":
                self.answer(sock, entry, 407, [("Proxy-Authenticate", 'Basic realm="test"')])
                return
            host, _, port = hostport.rpartition(":")
            if host != "127.0.0.1" or not port.isdigit():
                self.answer(sock, entry, 403, [])
                return
            try:
                upstream = socket.create_connection((host, int(port)), timeout=10)
            except OSError:
                self.answer(sock, entry, 502, [])
                return
            with upstream:
                upstream.settimeout(None)
                if method == "CONNECT":
                    entry["status"] = 200
                    self.server.state.journal(entry)
                    sock.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                    if rest:
                        upstream.sendall(rest)
                    pump(sock, upstream)
                    return
                skip = {"proxy-authorization", "proxy-connection", "connection", "keep-alive"}
                out = ["%s %s %s" % (method, path, version)]
                out += ["%s: %s" % (k, v) for k, v in headers if k.lower() not in skip]
                out.append("Connection: close")
                upstream.sendall(("\r\n".join(out) + "\r\n\r\n").encode("latin-1") + rest)
                self.relay(sock, upstream, entry)
        except OSError:
            pass

    def answer(self, sock, entry, status, extra):
        entry["status"] = status
        self.server.state.journal(entry)
        body = b"proxy status %d\n" % status
        head = ["HTTP/1.1 %d %s" % (status, {403: "Forbidden", 407: "Proxy Authentication Required",
                                             502: "Bad Gateway"}[status])]
        head += ["%s: %s" % kv for kv in extra]
        head += ["Content-Type: text/plain", "Content-Length: %d" % len(body), "Connection: close"]
        sock.sendall(("\r\n".join(head) + "\r\n\r\n").encode("latin-1") + body)

    def relay(self, sock, upstream, entry):
        """The origin's answer back to the client, its head marked "Connection: close"."""
        head, rest = read_head(upstream)
        if head is None:
            self.answer(sock, entry, 502, [])
            return
        lines = head.split("\r\n")
        try:
            entry["status"] = int(lines[0].split(" ")[1])
        except (IndexError, ValueError):
            entry["status"] = 0
        self.server.state.journal(entry)
        kept = [l for l in lines[1:] if l.split(":", 1)[0].strip().lower() not in ("connection", "keep-alive")]
        sock.sendall(("\r\n".join([lines[0]] + kept + ["Connection: close"]) + "\r\n\r\n").encode("latin-1") + rest)
        while True:
            r, _, _ = select.select([upstream], [], [], IDLE_LIMIT)
            if not r:
                return
            data = upstream.recv(65536)
            if not data:
                return
            sock.sendall(data)


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = False

    def __init__(self, state):
        self.state = state
        super().__init__(("127.0.0.1", 0), Handler)

    def handle_error(self, request, client_address):
        pass  # a client that went away is normal here


def main():
    argv, command = split_command(sys.argv[1:])
    p = argparse.ArgumentParser(description="Loopback forward proxy for tests.")
    p.add_argument("--run", action="store_true", required=True, help="run a command beside a fresh proxy")
    p.add_argument("--lifetime", type=float, metavar="S", help="seconds before everything stops")
    args = p.parse_args(argv)
    if not command:
        p.error("--run needs a command after --")
    ctl = tempfile.mkdtemp(prefix="df-proxy-")
    try:
        server = Server(ProxyState(ctl))
        threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True).start()
        env = dict(os.environ)
        env["DF_TEST_PROXY"] = "127.0.0.1:%d" % server.server_address[1]
        env["DF_TEST_PROXY_CTL"] = ctl
        code = run_command(command, env, args.lifetime, "proxy_server")
        server.shutdown()
        server.server_close()
        return code
    finally:
        shutil.rmtree(ctl, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
