#!/usr/bin/env python3
"""Checks the loopback release server itself; runs under release_server.py --run."""

import http.client
import json
import os
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.parse

HTTP = os.environ.get("DF_TEST_HTTP", "")
HTTPS = os.environ.get("DF_TEST_HTTPS", "")
ROOT = os.environ.get("DF_TEST_ROOT", "")
CTL = os.environ.get("DF_TEST_CTL", "")
DATA = bytes((i * 7 + 3) & 0xFF for i in range(5000))
SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "release_server.py")


def get(path, headers=None, base=HTTP, timeout=10):
    """(status, headers dict, body, error) of one GET on a fresh connection."""
    u = urllib.parse.urlsplit(base)
    if u.scheme == "https":
        ctx = ssl.create_default_context()
        ctx.check_hostname = False
        ctx.verify_mode = ssl.CERT_NONE
        c = http.client.HTTPSConnection(u.hostname, u.port, timeout=timeout, context=ctx)
    else:
        c = http.client.HTTPConnection(u.hostname, u.port, timeout=timeout)
    c.request("GET", path, headers=headers or {})
    r = c.getresponse()
    body, error = b"", None
    try:
        body = r.read()
    except http.client.IncompleteRead as e:
        body, error = e.partial, "incomplete"
    except (socket.timeout, TimeoutError) as e:
        error = "timeout"
    hdrs = {k.lower(): v for k, v in r.getheaders()}
    c.close()
    return r.status, hdrs, body, error


def journal():
    try:
        with open(os.path.join(CTL, "journal.jsonl")) as f:
            return [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []


def faults(table):
    tmp = os.path.join(CTL, "faults.json.tmp")
    with open(tmp, "w") as f:
        json.dump(table, f)
    os.replace(tmp, os.path.join(CTL, "faults.json"))


class ReleaseServer(unittest.TestCase):
    def setUp(self):
        with open(os.path.join(ROOT, "a.bin"), "wb") as f:
            f.write(DATA)
        for name in ("faults.json", "journal.jsonl"):
            try:
                os.remove(os.path.join(CTL, name))
            except FileNotFoundError:
                pass

    def test_addresses_are_loopback(self):
        for base in (HTTP, HTTPS):
            self.assertEqual(urllib.parse.urlsplit(base).hostname, "127.0.0.1")

    def test_whole_file_range_and_416(self):
        cases = [
            (None, 200, DATA, None),
            ("bytes=1000-", 206, DATA[1000:], "bytes 1000-4999/5000"),
            ("bytes=4999-", 206, DATA[4999:], "bytes 4999-4999/5000"),
            ("bytes=10-19", 206, DATA[10:20], "bytes 10-19/5000"),
            ("bytes=5000-", 416, b"", "bytes */5000"),
            ("bytes=9999-", 416, b"", "bytes */5000"),
            ("items=3-", 200, DATA, None),
        ]
        for rng, status, body, content_range in cases:
            with self.subTest(rng=rng):
                s, h, b, err = get("/a.bin?q=1", {"Range": rng} if rng else {})
                self.assertEqual((s, b, err), (status, body, None))
                self.assertEqual(h.get("content-range"), content_range)
                self.assertEqual(int(h["content-length"]), len(body))
        j = journal()
        self.assertEqual([e["range"] for e in j], [c[0] for c in cases])
        self.assertEqual([e["status"] for e in j], [c[1] for c in cases])
        self.assertEqual([e["sent"] for e in j], [len(c[2]) for c in cases])
        self.assertEqual(j[0]["path"], "/a.bin?q=1")

    def test_missing_and_escaping_paths_are_404(self):
        for path in ("/nothing", "/../a.bin", "/%2e%2e/%2e%2e/etc/passwd", "/"):
            with self.subTest(path=path):
                self.assertEqual(get(path)[0], 404)

    def test_journal_keeps_agent_and_accept(self):
        get("/a.bin", {"User-Agent": "ua/1", "Accept": "x/y, */*"})
        e = journal()[-1]
        self.assertEqual((e["agent"], e["accept"]), ("ua/1", "x/y, */*"))

    def test_https_serves_the_same_folder(self):
        s, _, b, _ = get("/a.bin", base=HTTPS)
        self.assertEqual((s, b), (200, DATA))

    def test_status_times_and_reset_on_new_table(self):
        faults({"/a.bin": {"status": 503, "times": 2}})
        self.assertEqual([get("/a.bin")[0] for _ in range(3)], [503, 503, 200])
        faults({"/a.bin": {"status": 500, "times": 1}})
        self.assertEqual([get("/a.bin")[0] for _ in range(2)], [500, 200])

    def test_ignore_range_html_wrong_bytes(self):
        faults({"/a.bin": {"ignore_range": True}})
        s, _, b, _ = get("/a.bin", {"Range": "bytes=1000-"})
        self.assertEqual((s, b), (200, DATA))
        faults({"/a.bin": {"html": True}})
        s, h, b, _ = get("/a.bin")
        self.assertEqual(s, 200)
        self.assertTrue(h["content-type"].startswith("text/html"))
        self.assertIn(b"<html>", b)
        faults({"/a.bin": {"wrong_bytes": True}})
        s, _, b, _ = get("/a.bin")
        self.assertEqual((s, len(b)), (200, len(DATA)))
        self.assertTrue(all(x != y for x, y in zip(b, DATA)))

    def test_cut_after_closes_with_full_length(self):
        faults({"/a.bin": {"cut_after": 1234}})
        s, h, b, err = get("/a.bin")
        self.assertEqual((s, h["content-length"], len(b), err), (200, "5000", 1234, "incomplete"))
        faults({"/a.bin": {"cut_after": 100}})
        s, h, b, err = get("/a.bin", {"Range": "bytes=1000-"})
        self.assertEqual((s, h["content-length"], b, err), (206, "4000", DATA[1000:1100], "incomplete"))
        self.assertEqual([e["sent"] for e in journal()], [1234, 100])

    def test_gather_holds_answers_until_enough_are_held(self):
        faults({"/a.bin": {"gather": 3, "gather_seconds": 10}, "/lone.bin": {"gather": 2, "gather_seconds": 0.3}})
        results = []
        threads = [threading.Thread(target=lambda: results.append(get("/a.bin")[0])) for _ in range(3)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertEqual(results, [200, 200, 200])
        self.assertEqual(get("/lone.bin")[0], 404)  # alone: released after its bound
        held = [e["gathered"] for e in journal() if "gathered" in e]  # (an earlier test's late line has none)
        self.assertEqual(held, [True, True, True, False])

    def test_stall_after_holds_the_connection(self):
        faults({"/a.bin": {"stall_after": 10, "stall_seconds": 30}})
        t = time.monotonic()
        s, _, b, err = get("/a.bin", timeout=1)
        self.assertEqual((s, err), (200, "timeout"))
        self.assertLess(time.monotonic() - t, 10)
        deadline = time.monotonic() + 10
        while not journal() and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(journal()[0]["sent"], 10)

    def test_endless_body_rate_and_fast_start(self):
        faults({"/a.bin": {"endless": True}})
        u = urllib.parse.urlsplit(HTTP)
        c = http.client.HTTPConnection(u.hostname, u.port, timeout=10)
        c.request("GET", "/a.bin")
        r = c.getresponse()
        self.assertIsNone(r.getheader("Content-Length"))
        got = 0
        while got < 3 * len(DATA) + 1:
            got += len(r.read(4096))
        c.close()
        faults({"/a.bin": {"rate": 10000}})
        t = time.monotonic()
        s, _, b, _ = get("/a.bin")
        self.assertEqual((s, b), (200, DATA))
        self.assertGreater(time.monotonic() - t, 0.4)
        # A fast start: 4,000 bytes at once, then the last 1,000 at 1,000 bytes a second.
        faults({"/a.bin": {"rate": 1000, "rate_after": 4000}})
        t = time.monotonic()
        s, _, b, _ = get("/a.bin")
        self.assertEqual((s, b), (200, DATA))
        self.assertGreater(time.monotonic() - t, 0.9)
        self.assertLess(time.monotonic() - t, 3)


class RateCaps(unittest.TestCase):
    def test_serve_on_a_host_within_the_connection_and_server_caps(self):
        conn, server, size = 200000, 300000, 150000
        with tempfile.TemporaryDirectory() as d:
            body = os.urandom(size)
            with open(os.path.join(d, "f.bin"), "wb") as f:
                f.write(body)
            port_file = os.path.join(d, "port")
            proc = subprocess.Popen([sys.executable, SERVER, "--serve", d, "--port-file", port_file, "--host", "127.0.0.2",
                                     "--rate-conn", str(conn), "--rate-server", str(server), "--lifetime", "60"])
            try:
                deadline = time.monotonic() + 10
                while not os.path.exists(port_file) and time.monotonic() < deadline:
                    time.sleep(0.05)
                port = int(open(port_file).read())
                with self.assertRaises(ConnectionRefusedError):
                    get("/f.bin", base="http://127.0.0.1:%d" % port)
                # One transfer meets the connection's cap; three at once, the server's. A bucket
                # lets a fifth of a second's bytes go at once, then holds each to its rate.
                for count, cap in ((1, conn), (3, server)):
                    with self.subTest(transfers=count):
                        got = []
                        threads = [threading.Thread(target=lambda: got.append(get("/f.bin", base="http://127.0.0.2:%d" % port)))
                                   for _ in range(count)]
                        t = time.monotonic()
                        for th in threads:
                            th.start()
                        for th in threads:
                            th.join()
                        elapsed = time.monotonic() - t
                        self.assertEqual([(s, b) for s, _, b, _ in got], [(200, body)] * count)
                        total = count * size
                        self.assertGreaterEqual(elapsed, (total - cap // 5) / cap * 0.98)
                        self.assertLess(elapsed, total / cap * 1.5 + 0.3)
            finally:
                proc.terminate()
                proc.wait()


if __name__ == "__main__":
    unittest.main(verbosity=1)
