#!/usr/bin/env python3
"""Loopback release server for the network tests and benchmarks.

Two modes:

  release_server.py --run [--lifetime S] -- CMD ARGS...
      Makes a fresh temporary folder with root/ and ctl/, starts an HTTP server and an HTTPS
      server (throwaway self-signed certificate made with the openssl command) on 127.0.0.1,
      runs CMD with DF_TEST_HTTP, DF_TEST_HTTPS, DF_TEST_ROOT and DF_TEST_CTL added to the
      environment, then stops the servers, removes the folder and exits with CMD's exit code.
      CMD is killed after the lifetime (default 1200 s) and the exit code is then 124.

  release_server.py --serve DIR --port-file F [--host ADDR] [--ctl DIR] [--lifetime S] [--delay-ms D]
                    [--rate-conn B] [--rate-server B]
      Serves DIR over HTTP on ADDR (default 127.0.0.1) and writes the port into F once
      listening. Stops after the lifetime (default 600 s) or on SIGTERM/SIGINT. With --ctl,
      faults and the journal live in that folder as in --run. With --delay-ms, every answer
      waits D ms after its request arrived, as a server far away does (the latency bench).
      --rate-conn and --rate-server cap the body bytes per second of each connection and of
      the whole server (a token bucket each), as a far link does (the bandwidth bench).

Serving: GET maps the URL path (query ignored) to a file below the root; a missing file is
404. "Range: bytes=N-" and "bytes=N-M" give 206 with Content-Range; N at or past the end gives
416 with "Content-Range: bytes */size".

Faults: ctl/faults.json, re-read on every request, maps a URL path (with or without its query)
to an object with any of these keys:
  "status": N         answer status N with a short text body
  "ignore_range": true answer 200 with the whole file even when a Range was sent
  "other_range": true answer a satisfiable Range with 206 and another range (one byte later at
                      its start, or earlier for a one-byte range), its Content-Range saying so
  "cut_after": K      full headers, then close the connection after K body bytes
  "stall_after": K    send K body bytes, then stall (connection open) until the client goes
                      away or "stall_seconds" (default 120) pass
  "no_answer": true   read the request and never answer (bounded like a stall)
  "wrong_bytes": true same length, different content
  "endless": true     200 without Content-Length, bytes until the client closes (bounded);
                      a number instead of true is sent as the (false) Content-Length
  "html": true        200 with a small text/html page instead of the file
  "rate": B           at most B body bytes per second
  "rate_after": K      with "rate": the first K body bytes of the answer at full speed
  "gather": K         hold the answer until K requests carrying a "gather" fault are held at
                      once, or "gather_seconds" (default 10) pass; the journal line then has
                      "gathered": true or false (the way to prove transfers overlap)
  "times": N          apply the fault to the first N matching requests only
The counts behind "times" are kept per path and start again whenever faults.json is replaced.

Journal: ctl/journal.jsonl gets one JSON object per request:
  {"path", "range", "status", "sent", "agent", "accept", "t"}
"sent" is the body length the answer carries (for a cut or stall: the bytes before it; for an
endless answer: the bytes sent until the client left); "t" is the server's monotonic clock in
seconds when the request arrived, so tests can measure pauses. The line is written before the
status line goes out, so a client that has its answer (even just its headers) can read it;
only an endless answer is written when it ends.
"""

import argparse
import http.server
import json
import os
import select
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

CHUNK = 1 << 20
STALL_LIMIT = 120.0      # longest stall or silent wait, seconds
ENDLESS_LIMIT = 120.0    # longest endless body, seconds
ENDLESS_BYTES = 1 << 30  # and its largest size


class TokenBucket:
    """Bytes per second, shared by the threads that send through it: each send reserves its
    bytes and learns how long to wait before they may go. The balance may go below zero (the
    bytes reserved but not yet due), so the senders queue in the order they asked and the
    bytes sent by any time stay within rate x elapsed + one burst. The burst, a fifth of a
    second's bytes, lets a sender that woke late on a busy machine catch up."""

    def __init__(self, rate):
        self.rate = float(rate)
        self.step = step_for(rate)
        self.burst = max(self.step, int(rate) // 5)
        self.lock = threading.Lock()  # guards balance and stamp
        self.balance = float(self.burst)
        self.stamp = time.monotonic()

    def reserve(self, n):
        """Takes n bytes from the bucket; the seconds to wait before sending them."""
        with self.lock:
            now = time.monotonic()
            self.balance = min(float(self.burst), self.balance + (now - self.stamp) * self.rate)
            self.stamp = now
            self.balance -= n
            return max(0.0, -self.balance / self.rate)


def step_for(rate):
    """The largest send under a cap of rate bytes per second: a twentieth of a second's bytes,
    4 KiB to 256 KiB."""
    return int(min(256 << 10, max(4096, rate // 20)))


class ServerState:
    """What every handler thread shares: the folders, the fault counts and the journal lock."""

    def __init__(self, root, ctl):
        self.root = os.path.realpath(root)
        self.ctl = ctl
        self.lock = threading.Lock()
        self.fault_key = None
        self.counts = {}
        self.stopping = threading.Event()
        self.delay = 0.0  # seconds every answer waits (--delay-ms)
        self.rate_conn = 0  # body bytes per second of each connection (--rate-conn); 0: no cap
        self.server_bucket = None  # the one TokenBucket of the whole server (--rate-server)
        # The "gather" fault: requests held now, and the number of groups released so far.
        self.gather_cond = threading.Condition()
        self.gather_waiting = 0
        self.gather_groups = 0

    def gather(self, count, limit):
        """Holds the caller until count callers are held at once (True) or limit seconds pass
        (False)."""
        with self.gather_cond:
            group = self.gather_groups
            self.gather_waiting += 1
            if self.gather_waiting >= count:
                self.gather_groups += 1
                self.gather_waiting = 0
                self.gather_cond.notify_all()
                return True
            end = time.monotonic() + min(float(limit), STALL_LIMIT)
            while self.gather_groups == group:
                left = end - time.monotonic()
                if left <= 0 or self.stopping.is_set():
                    self.gather_waiting -= 1
                    return False
                self.gather_cond.wait(min(left, 0.5))
            return True

    def faults(self):
        """The current fault table and a key that changes whenever the file is replaced."""
        if not self.ctl:
            return {}, None
        path = os.path.join(self.ctl, "faults.json")
        try:
            st = os.stat(path)
            with open(path, "r", encoding="utf-8") as f:
                text = f.read()
        except OSError:
            return {}, None
        try:
            table = json.loads(text) if text.strip() else {}
        except ValueError as e:
            print("release_server: bad faults.json: %s" % e, file=sys.stderr)
            return {}, None
        if not isinstance(table, dict):
            return {}, None
        return table, (st.st_ino, st.st_mtime_ns, st.st_size, text)

    def fault_for(self, full_path, plain_path):
        """The fault object for this request (already counted against "times"), or {}."""
        table, key = self.faults()
        name = full_path if full_path in table else plain_path
        fault = table.get(name)
        if not isinstance(fault, dict):
            return {}
        with self.lock:
            if key != self.fault_key:
                self.fault_key = key
                self.counts = {}
            n = self.counts.get(name, 0)
            self.counts[name] = n + 1
        times = fault.get("times")
        if times is not None and n >= int(times):
            return {}
        return fault

    def journal(self, entry):
        if not self.ctl:
            return
        line = json.dumps(entry, separators=(",", ":")) + "\n"
        with self.lock:
            with open(os.path.join(self.ctl, "journal.jsonl"), "a", encoding="utf-8") as f:
                f.write(line)
                f.flush()


def parse_range(header, size):
    """(start, end_inclusive) for a satisfiable range, "unsatisfiable", or None (ignore it)."""
    if not header:
        return None
    h = header.strip()
    if not h.lower().startswith("bytes="):
        return None
    range_spec = h[6:].strip()
    if "," in range_spec or "-" not in range_spec:
        return None
    first, last = range_spec.split("-", 1)
    first, last = first.strip(), last.strip()
    try:
        if first == "":
            if not last.isdigit():
                return None
            n = int(last)
            if n == 0:
                return "unsatisfiable"
            return (max(0, size - n), size - 1) if size > 0 else "unsatisfiable"
        if not first.isdigit() or (last and not last.isdigit()):
            return None
        start = int(first)
        end = int(last) if last else size - 1
    except ValueError:
        return None
    if start >= size:
        return "unsatisfiable"
    if end < start:
        return None
    return (start, min(end, size - 1))


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "release-server/1"
    sys_version = ""

    def log_message(self, fmt, *args):  # quiet: the journal is the record
        pass

    def setup(self):
        super().setup()
        state = self.server.state
        # The caps on body bytes: this connection's own bucket, then the server's shared one.
        self._buckets = [b for b in (TokenBucket(state.rate_conn) if state.rate_conn else None,
                                     state.server_bucket) if b is not None]

    # -- journal -------------------------------------------------------------------------

    def _begin(self):
        self._entry = {
            "path": self.path,
            "range": self.headers.get("Range"),
            "status": 0,
            "sent": 0,
            "agent": self.headers.get("User-Agent", ""),
            "accept": self.headers.get("Accept", ""),
            "t": round(time.monotonic(), 4),
        }
        self._written = False
        self._sent = 0  # body bytes actually written to the socket

    def _record(self, sent):
        """Appends this request's journal line once, with sent as its body byte count."""
        if self._written:
            return
        self._written = True
        entry = dict(self._entry)
        entry["sent"] = sent
        self.server.state.journal(entry)

    # -- sending -------------------------------------------------------------------------

    def _head(self, status, headers, planned):
        """Journals the answer (planned = the body bytes it will carry, None when unknown) and
        sends the status line and headers. A client may stop reading right after the headers,
        so the line is written before them."""
        self._entry["status"] = status
        if planned is not None:
            self._record(planned)
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()

    def _capped_step(self, length):
        """The largest piece of a send of length bytes that the caps allow at once."""
        return min([length] + [b.step for b in self._buckets])

    def _wait_for_caps(self, n):
        """Holds n bytes until the connection's and the server's caps let them go."""
        wait = max([0.0] + [b.reserve(n) for b in self._buckets])
        if wait > 0:
            time.sleep(wait)

    def _send(self, data, rate):
        """Sends data, throttled to rate bytes per second when set, and within the caps."""
        view = memoryview(data)
        step = max(1, min(len(view), int(rate) // 10)) if rate else len(view)
        step = self._capped_step(step)
        pos = 0
        while pos < len(view):
            piece = view[pos:pos + step]
            if rate:
                time.sleep(len(piece) / float(rate))
            self._wait_for_caps(len(piece))
            self.wfile.write(piece)
            self._sent += len(piece)
            pos += len(piece)

    def _send_file(self, path, start, count, fault):
        """Sends count bytes of the file from start, with the byte-level faults applied."""
        rate = fault.get("rate")
        wrong = bool(fault.get("wrong_bytes"))
        plain = not rate and not wrong and not isinstance(self.connection, ssl.SSLSocket)
        with open(path, "rb") as f:
            if plain:
                # Kernel copies: one for the whole body without caps, else one per step.
                step = self._capped_step(count)
                pos = 0
                while pos < count:
                    n = min(step, count - pos)
                    self._wait_for_caps(n)
                    sent = self.connection.sendfile(f, start + pos, n)
                    self._sent += sent
                    if sent < n:
                        break
                    pos += n
                return
            f.seek(start)
            left = count
            fast = int(fault.get("rate_after", 0))
            while left > 0:
                data = f.read(min(CHUNK, left))
                if not data:
                    break
                if wrong:
                    data = bytes((b ^ 0x5A) for b in data)
                left -= len(data)
                if fast > 0:
                    head, data = data[:fast], data[fast:]
                    fast -= len(head)
                    self._send(head, None)
                self._send(data, rate)
        try:
            self.wfile.flush()
        except OSError:
            pass

    def _wait_for_client_gone(self, limit):
        """Holds the connection open until the client closes it, shutdown, or limit seconds."""
        end = time.monotonic() + min(float(limit), STALL_LIMIT)
        sock = self.connection
        while not self.server.state.stopping.is_set():
            left = end - time.monotonic()
            if left <= 0:
                return
            r, _, _ = select.select([sock], [], [], min(0.5, left))
            if r:
                try:
                    if not sock.recv(65536):
                        return
                except (OSError, ssl.SSLError):
                    return

    def _close_now(self):
        self.close_connection = True
        try:
            self.wfile.flush()
        except OSError:
            pass
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass

    # -- the request ---------------------------------------------------------------------

    def do_GET(self):
        self._begin()
        try:
            self._answer()
        except (BrokenPipeError, ConnectionResetError, ConnectionAbortedError, ssl.SSLError, OSError):
            self.close_connection = True
        finally:
            self._record(self._sent)

    def _answer(self):
        state = self.server.state
        plain_path = urllib.parse.urlsplit(self.path).path
        fault = state.fault_for(self.path, plain_path)
        if state.delay > 0:
            time.sleep(state.delay)
        if "gather" in fault:
            self._entry["gathered"] = state.gather(int(fault["gather"]), fault.get("gather_seconds", 10))

        if fault.get("no_answer"):
            self._record(0)
            self._wait_for_client_gone(fault.get("stall_seconds", STALL_LIMIT))
            self._close_now()
            return

        if "status" in fault or fault.get("html"):
            if "status" in fault:
                status = int(fault["status"])
                body = ("status %d\n" % status).encode()
                kind = "text/plain"
            else:
                status = 200
                body = b"<!DOCTYPE html>\n<html><head><title>Sign in</title></head><body>Please sign in.</body></html>\n"
                kind = "text/html; charset=utf-8"
            self._head(status, [("Content-Type", kind), ("Content-Length", str(len(body)))], len(body))
            self._send(body, fault.get("rate"))
            return

        rel = urllib.parse.unquote(plain_path).lstrip("/")
        file_path = os.path.realpath(os.path.join(state.root, rel))
        inside = file_path == state.root or file_path.startswith(state.root + os.sep)
        if not inside or not os.path.isfile(file_path):
            body = b"not found\n"
            self._head(404, [("Content-Type", "text/plain"), ("Content-Length", str(len(body)))], len(body))
            self._send(body, None)
            return
        size = os.path.getsize(file_path)

        if fault.get("endless"):
            self._endless(file_path, size, fault)
            return

        rng = None if fault.get("ignore_range") else parse_range(self.headers.get("Range"), size)
        if fault.get("other_range") and isinstance(rng, tuple):
            rng = (rng[0] + 1, rng[1]) if rng[0] < rng[1] else (max(0, rng[0] - 1), rng[1])
        if rng == "unsatisfiable":
            self._head(416, [("Content-Range", "bytes */%d" % size), ("Content-Length", "0")], 0)
            return
        if rng is None:
            start, count = 0, size
            headers = [("Content-Type", "application/octet-stream"), ("Content-Length", str(size))]
            status = 200
        else:
            start, count = rng[0], rng[1] - rng[0] + 1
            headers = [("Content-Type", "application/octet-stream"), ("Content-Length", str(count)),
                       ("Content-Range", "bytes %d-%d/%d" % (rng[0], rng[1], size))]
            status = 206

        if "cut_after" in fault:
            k = min(int(fault["cut_after"]), count)
            self._head(status, headers, k)
            self._send_file(file_path, start, k, fault)
            self._close_now()
            return
        if "stall_after" in fault:
            k = min(int(fault["stall_after"]), count)
            self._head(status, headers, k)
            self._send_file(file_path, start, k, fault)
            self._wait_for_client_gone(fault.get("stall_seconds", STALL_LIMIT))
            self._close_now()
            return
        self._head(status, headers, count)
        self._send_file(file_path, start, count, fault)

    def _endless(self, path, size, fault):
        # The only answer journalled at its end: its length is whatever the client takes.
        announced = fault.get("endless")
        headers = [("Content-Type", "application/octet-stream")]
        if isinstance(announced, (int, float)) and not isinstance(announced, bool):
            headers.append(("Content-Length", str(int(announced))))
        else:
            headers.append(("Connection", "close"))
        self.close_connection = True
        self._head(200, headers, None)
        with open(path, "rb") as f:
            pattern = f.read(min(size, CHUNK)) or b"\0" * 4096
        end = time.monotonic() + ENDLESS_LIMIT
        rate = fault.get("rate")
        while self._sent < ENDLESS_BYTES and time.monotonic() < end and not self.server.state.stopping.is_set():
            self._send(pattern, rate)
        self._close_now()


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = False
    request_queue_size = 64  # up to 16 transfers open their connections at once

    def __init__(self, state, tls_context=None, host="127.0.0.1"):
        self.state = state
        self.tls_context = tls_context
        super().__init__((host, 0), Handler)

    def finish_request(self, request, client_address):
        # Headers and body leave in separate writes: with Nagle's rule the body of a kept-alive
        # connection would wait for the client's delayed acknowledgement, 40 ms per answer.
        try:
            request.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            pass
        # The TLS handshake runs in the request's own thread, so a client that refuses the
        # certificate or stalls the handshake never blocks the accept loop.
        if self.tls_context is not None:
            try:
                request.settimeout(30)
                request = self.tls_context.wrap_socket(request, server_side=True)
                request.settimeout(None)
            except (ssl.SSLError, OSError):
                return
        super().finish_request(request, client_address)

    def handle_error(self, request, client_address):
        pass  # a client that went away is normal here


def make_cert(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                    "-days", "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(cert, key)
    return ctx


def start(server):
    t = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2}, daemon=True)
    t.start()
    return t


def stop(servers, state):
    state.stopping.set()
    for s in servers:
        s.shutdown()
        s.server_close()


def split_command(argv):
    """(the options before "--", the command after it); no "--": all options, no command."""
    if "--" not in argv:
        return argv, []
    i = argv.index("--")
    return argv[:i], argv[i + 1:]


def run_command(command, env, lifetime, name):
    """Runs command with env, forwarding SIGTERM and SIGINT, killed after lifetime seconds
    (default 1200, exit code 124 then); its exit code (128 + N for a signal N)."""
    proc = subprocess.Popen(command, env=env)
    forward = lambda signum, frame: proc.send_signal(signum)
    signal.signal(signal.SIGTERM, forward)
    signal.signal(signal.SIGINT, forward)
    try:
        code = proc.wait(timeout=lifetime if lifetime else 1200)
    except subprocess.TimeoutExpired:
        print("%s: lifetime over, killing %s" % (name, command[0]), file=sys.stderr)
        proc.kill()
        proc.wait()
        code = 124
    return code if code >= 0 else 128 - code


def run_mode(args):
    if not args.command:
        print("release_server: --run needs a command after --", file=sys.stderr)
        return 2
    base = tempfile.mkdtemp(prefix="df-release-server-")
    try:
        root = os.path.join(base, "root")
        ctl = os.path.join(base, "ctl")
        os.mkdir(root)
        os.mkdir(ctl)
        state = ServerState(root, ctl)
        http_server = Server(state)
        https_server = Server(state, make_cert(base))
        start(http_server)
        start(https_server)
        env = dict(os.environ)
        env["DF_TEST_HTTP"] = "http://127.0.0.1:%d" % http_server.server_address[1]
        env["DF_TEST_HTTPS"] = "https://127.0.0.1:%d" % https_server.server_address[1]
        env["DF_TEST_ROOT"] = root
        env["DF_TEST_CTL"] = ctl
        code = run_command(args.command, env, args.lifetime, "release_server")
        stop([http_server, https_server], state)
        return code
    finally:
        shutil.rmtree(base, ignore_errors=True)


def serve_mode(args):
    if args.ctl:
        os.makedirs(args.ctl, exist_ok=True)
    state = ServerState(args.serve, args.ctl)
    state.delay = (args.delay_ms or 0) / 1000.0
    state.rate_conn = args.rate_conn or 0
    if args.rate_server:
        state.server_bucket = TokenBucket(args.rate_server)
    server = Server(state, host=args.host)
    done = threading.Event()
    signal.signal(signal.SIGTERM, lambda signum, frame: done.set())
    signal.signal(signal.SIGINT, lambda signum, frame: done.set())
    start(server)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(tmp, args.port_file)
    done.wait(args.lifetime if args.lifetime else 600)
    stop([server], state)
    return 0


def main():
    argv, command = split_command(sys.argv[1:])
    p = argparse.ArgumentParser(description="Loopback release server for tests and benchmarks.")
    p.add_argument("--run", action="store_true", help="run a command beside fresh HTTP and HTTPS servers")
    p.add_argument("--serve", metavar="DIR", help="serve DIR over HTTP")
    p.add_argument("--port-file", metavar="F", help="with --serve: file that receives the port")
    p.add_argument("--ctl", metavar="DIR", help="with --serve: folder of faults.json and journal.jsonl")
    p.add_argument("--lifetime", type=float, metavar="S", help="seconds before everything stops")
    p.add_argument("--delay-ms", type=float, metavar="D", help="with --serve: every answer waits D ms")
    p.add_argument("--host", default="127.0.0.1", metavar="ADDR", help="with --serve: the address to listen on")
    p.add_argument("--rate-conn", type=int, metavar="B", help="with --serve: body bytes per second of each connection")
    p.add_argument("--rate-server", type=int, metavar="B", help="with --serve: body bytes per second of the whole server")
    args = p.parse_args(argv)
    args.command = command
    if args.run == bool(args.serve):
        p.error("give exactly one of --run and --serve")
    if args.serve:
        if not args.port_file:
            p.error("--serve needs --port-file")
        if (args.rate_conn or 0) < 0 or (args.rate_server or 0) < 0:
            p.error("--rate-conn and --rate-server take bytes per second (0: no cap)")
        return serve_mode(args)
    return run_mode(args)


if __name__ == "__main__":
    sys.exit(main())
