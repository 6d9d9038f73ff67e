#!/usr/bin/env python3
"""Measures how a score server binary stands up to hostile peers on this
machine (loopback only): the figures behind the score server's limits.

    python3 tools/score_server/measure_attacks.py build/tools/score_server [attack ...]

Attacks: trickle, nonreaders, idle, contain, memory, pipeline, web. Each
starts its own server on a free port with a fresh database (and a web folder
where it needs one), prints what it saw, and stops the server. Nothing here
asserts: the tests in tests/score_server/ do that."""
import os
import re
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

KEYWORD = b"Sample keyword text"
GAME = 550
CODES = {"&": "A", "\\": "B", "'": "C", "`": "D", '"': "E", "/": "F", ">": "G", "#": "H", "^": "I",
         "{": "J", "}": "K", "<": "L", "|": "M", "%": "P", "?": "Q", "+": "R", "$": "S", ",": "T", " ": "U"}


def signed(b):
    return b - 256 if b > 127 else b


# The game's record scramble and query escaping, for building valid records.
TABLE = [(i + signed(KEYWORD[i % len(KEYWORD)]) + GAME) % 92 for i in range(64)]


def scramble(text):
    out, r = [], 0
    for i, ch in enumerate(text):
        a = ord(ch) - 32
        if a < 0 or a > 91:
            a = 0
        r = (TABLE[i % 64] + r) % 92
        out.append(chr((a + r) % 92 + 32))
    return "".join(out)


def target(name="Tam C++", score=0, uid="202612061230451234567"):
    plain = "%s{%s{%04d{%04d{%04d{10{1{15{2{20{3{KELP{" % (uid, name, GAME, 1, score)
    return "/Scores.php?Game=550&Score=" + "".join("*!%s!*" % CODES[c] if c in CODES else c
                                                     for c in scramble(plain))


def folder_with(name, data=b"", size=0):
    """A fresh web folder holding one file (sparse when `size` is given)."""
    web = tempfile.mkdtemp(prefix="kelp-attack-web-")
    with open(os.path.join(web, name), "wb") as f:
        f.write(data)
        if size:
            f.truncate(size)
    return web


class Server:
    def __init__(self, binary, web=None):
        self.dir = tempfile.mkdtemp(prefix="kelp-attack-")
        self.db = os.path.join(self.dir, "scores.db")
        args = [binary, "--address", "127.0.0.1", "--port", "0", "--db", self.db]
        if web:
            args += ["--web", web]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.port = int(re.search(r":(\d+)", self.proc.stdout.readline()).group(1))

    def rss_kb(self):
        with open("/proc/%d/status" % self.proc.pid) as f:
            return int(re.search(r"VmRSS:\s+(\d+)", f.read()).group(1))

    def sockets(self):
        """Sockets the server process holds open."""
        fds = "/proc/%d/fd" % self.proc.pid
        count = 0
        for f in os.listdir(fds):
            try:
                count += os.readlink(os.path.join(fds, f)).startswith("socket:")
            except OSError:   # closed between the listing and the look
                pass
        return count

    def rows(self):
        with sqlite3.connect(self.db) as c:
            return c.execute("SELECT COUNT(*) FROM scores").fetchone()[0]

    def stop(self):
        self.proc.kill()
        self.proc.wait()


def connect(port, source="127.0.0.1", rcvbuf=0):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.bind((source, 0))
    s.connect(("127.0.0.1", port))
    return s


def exchange(port, text, source="127.0.0.1", timeout=300):
    """Sends text and reads until the server closes: (answer, seconds, first byte after)."""
    t0 = time.time()
    s = connect(port, source)
    s.settimeout(timeout)
    s.sendall(text.encode("latin-1"))
    data, first = b"", None
    try:
        while True:
            part = s.recv(65536)
            if not part:
                break
            if first is None:
                first = time.time() - t0
            data += part
    except (socket.timeout, ConnectionError) as e:
        data += ("<%s>" % type(e).__name__).encode()
    s.close()
    return data, time.time() - t0, first


def get(port, path, source="127.0.0.1", headers="", timeout=300):
    return exchange(port, "GET %s HTTP/1.1\r\nHost: x\r\n%sConnection: close\r\n\r\n" % (path, headers), source,
                    timeout)


def status(data):
    m = re.match(rb"HTTP/1\.\d (\d+)", data)
    return int(m.group(1)) if m else None


def score_behind(port, what, source="127.0.1.1", timeout=300):
    data, secs, _ = get(port, target(), source, timeout=timeout)
    print("  %s: status %s after %.2f s" % (what, status(data), secs), flush=True)


def attack_trickle(binary):
    print("632 trickling connections from 79 addresses (8 each):")
    srv = Server(binary)
    peers = []
    for a in range(79):
        for _ in range(8):
            try:
                s = connect(srv.port, "127.0.2.%d" % (a + 1))
                s.setblocking(False)
                s.send(b"GET /Scores.php?Game=550&Score=")
                peers.append(s)
            except OSError:
                pass
    stop = threading.Event()

    def trickle():
        while not stop.wait(1.0):
            for s in peers:
                try:
                    s.send(b"a")
                except OSError:
                    pass
    threading.Thread(target=trickle, daemon=True).start()
    time.sleep(1)
    score_behind(srv.port, "a valid score")
    stop.set()
    for s in peers:
        s.close()
    srv.stop()


def attack_nonreaders(binary):
    print("32 clients (4 addresses x 8) that request a 16 MiB file and never read:")
    srv = Server(binary, folder_with("MyGame.data", os.urandom(16 << 20)))
    peers = []
    t0 = time.time()
    base = srv.sockets()   # before the non-readers: some may be gone by the score's answer
    for a in range(4):
        for _ in range(8):
            s = connect(srv.port, "127.0.3.%d" % (a + 1), rcvbuf=4096)
            s.sendall(b"GET /MyGame.data HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
            peers.append(s)
    time.sleep(1)
    score_behind(srv.port, "a valid score", timeout=160)
    # How long the server holds a reader that takes nothing: its sockets,
    # seen from the server's side (a client that reads nothing may never
    # see a graceful close arrive).
    while time.time() - t0 < 400 and srv.sockets() > base:
        time.sleep(0.5)
    print("  the server held the non-readers' connections for %.0f s (%d of %d closed)" % (
        time.time() - t0, len(peers) - max(0, srv.sockets() - base), len(peers)))
    for s in peers:
        s.close()
    srv.stop()


def attack_idle(binary):
    print("64 idle connections from one address:")
    srv = Server(binary)
    peers = [connect(srv.port, "127.0.4.1") for _ in range(64)]
    time.sleep(0.5)
    score_behind(srv.port, "a valid score from the same address", source="127.0.4.1", timeout=60)
    for s in peers:
        s.close()
    srv.stop()


def attack_contain(binary):
    print("Containment:")
    web = folder_with("index.html", b"<!doctype html><title>page</title>")
    os.symlink("/etc/passwd", os.path.join(web, "passwd"))
    srv = Server(binary, web)
    for path in ("/passwd", "/index.html%00.js"):
        data, _, _ = get(srv.port, path)
        head = data.split(b"\r\n\r\n")[0].decode("latin-1")
        ctype = re.search(r"(?im)^content-type: *(.*)$", head)
        print("  %s: status %s, %s, %d bytes, root:x %s" % (path, status(data), ctype.group(1).strip() if ctype else "-",
                                                      len(data), b"root:x" in data))
    srv.stop()


def attack_memory(binary):
    print("Memory: a sparse 1 GiB file")
    srv = Server(binary, folder_with("big.data", size=1 << 30))
    print("  resident at start: %.1f MB" % (srv.rss_kb() / 1024))
    for what, headers in (("whole file", ""), ("Range: bytes=0-0", "Range: bytes=0-0\r\n")):
        peak = [0]
        done = threading.Event()

        def watch():
            while not done.is_set():
                peak[0] = max(peak[0], srv.rss_kb())
                time.sleep(0.05)
        threading.Thread(target=watch, daemon=True).start()
        s = connect(srv.port)
        t0 = time.time()
        s.sendall(("GET /big.data HTTP/1.1\r\nHost: x\r\n%sConnection: close\r\n\r\n" % headers).encode())
        s.settimeout(120)
        first = s.recv(4096)
        ttfb = time.time() - t0
        got = len(first)
        head = first.split(b"\r\n\r\n")[0]
        try:
            while got < (1 << 30) + 1000:
                part = s.recv(1 << 20)
                if not part:
                    break
                got += len(part)
        except (socket.timeout, ConnectionError):
            pass
        done.set()
        s.close()
        print("  %s: first byte after %.2f s, %s, %d bytes, peak resident %.1f MB" % (
            what, ttfb, head.split(b"\r\n")[0].decode(), got, peak[0] / 1024), flush=True)
    srv.stop()


def attack_pipeline(binary):
    print("Pipelining: three score requests sent at once on one connection")
    srv = Server(binary)
    text = "".join("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target("P%d" % i, 10 * i) for i in range(3))
    data, _, _ = exchange(srv.port, text + "GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % target("P3", 30),
                          timeout=20)
    print("  answers: %d of 4, rows stored: %d" % (len(re.findall(rb"HTTP/1\.1 \d+", data)), srv.rows()))
    srv.stop()


def attack_web(binary, folder):
    print("Web serving of %s:" % folder)
    srv = Server(binary, folder)
    time.sleep(float(os.environ.get("SETTLE", "0")))
    for name in ("index.html", "MyGame.js", "MyGame.wasm", "MyGame.data"):
        data, secs, first = get(srv.port, "/" + name, headers="Accept-Encoding: br, gzip\r\n")
        head = data.split(b"\r\n\r\n")[0].decode("latin-1")
        fields = {k.lower(): v.strip() for k, v in re.findall(r"(?m)^([^:\r\n]+):(.*)$", head)}
        etag = fields.get("etag")
        again = "-"
        if etag:
            d2, _, _ = get(srv.port, "/" + name, headers="Accept-Encoding: br, gzip\r\nIf-None-Match: %s\r\n" % etag)
            again = "%s (%d bytes)" % (status(d2), len(d2))
        print("  %s: %s, first byte %.3f s, %d bytes sent of %d, encoding %s, Cache-Control %s, ETag %s, "
              "Last-Modified %s, repeat: %s" % (
                  name, status(data), first or secs, len(data), os.path.getsize(os.path.join(folder, name)),
                  fields.get("content-encoding", "-"), fields.get("cache-control", "-"), etag or "-",
                  "yes" if "last-modified" in fields else "-", again), flush=True)
    srv.stop()


def main():
    binary = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:] or ["trickle", "nonreaders", "idle", "contain", "memory", "pipeline"]
    for name in wanted:
        if name.startswith("web="):
            attack_web(binary, name[4:])
        else:
            globals()["attack_" + name](binary)


if __name__ == "__main__":
    main()
