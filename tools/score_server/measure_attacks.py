#!/usr/bin/env python3
"""Measures how score server binaries stand up to hostile peers on this
machine (loopback only): the figures behind the score server's limits.

    python3 tools/score_server/measure_attacks.py BINARY [BINARY ...] [attack ...]

Given several binaries (an older and a newer build), each attack runs on
each in turn, so that their figures come from one run side by side.

Attacks: trickle, nonreaders, idle, contain, memory, pipeline, web=FOLDER
(the earlier rounds, run by default), and hold, holdfull, hold40, hold200,
forge, samesize, incompressible, ims, dbstop, dbdown, dbkill (this
round's; the db* ones start a private PostgreSQL server). Each starts its own server on a free
port with a fresh database (and a web folder where it needs one), prints
what it saw, and stops the server. Nothing here asserts: the tests in
tests/score_server/ do that."""
import ctypes
import glob
import gzip
import os
import pwd
import random
import re
import resource
import selectors
import shutil
import signal
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
    def __init__(self, binary, web=None, db=None, extra=()):
        self.dir = tempfile.mkdtemp(prefix="kelp-attack-")
        self.db = db or os.path.join(self.dir, "scores.db")
        args = [binary, "--address", "127.0.0.1", "--port", "0", "--db", self.db] + list(extra)
        if web:
            args += ["--web", web]
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        m = re.search(r"127\.0\.0\.1:(\d+)", line)
        self.port = int(m.group(1)) if m else None

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


def connect(port, source="127.0.0.1", rcvbuf=0, timeout=None):
    s = socket.socket()
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.bind((source, 0))
    s.settimeout(timeout)
    try:
        s.connect(("127.0.0.1", port))
    except OSError:
        s.close()
        raise
    return s


def exchange(port, text, source="127.0.0.1", timeout=300):
    """Sends text and reads until the server closes: (answer, seconds, first byte after)."""
    t0 = time.time()
    try:
        # A server whose listen queue is full does not even complete the connection.
        s = connect(port, source, timeout=timeout)
    except OSError as e:
        return ("<no connection: %s>" % type(e).__name__).encode(), time.time() - t0, None
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
    print("  %s: status %s after %.2f s%s" % (what, status(data), secs,
                                               " " + data.decode("latin-1") if data.startswith(b"<") else ""),
          flush=True)


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


# ---- This round: places, the board, records per address, validators, the database ----

def raise_file_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))
    return hard


class Holders:
    """Keep-alive connections, `each` from every address, each sending a tiny
    request every 3 to 4.5 s and reading its answer; one the server closes
    is opened again at once (renewed)."""

    REQUEST = b"GET / HTTP/1.1\r\nHost: x\r\n\r\n"

    def __init__(self, port, addresses, each):
        self.port = port
        self.slots = [[a, None, 0.0] for a in addresses for _ in range(each)]   # address, socket, next send
        self.sel = selectors.DefaultSelector()
        self.open = self.answers = self.refused = self.renewed = 0
        self.stop = threading.Event()
        for slot in self.slots:
            self.connect(slot, first=True)
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def connect(self, slot, first=False):
        try:
            s = connect(self.port, slot[0], timeout=1)
        except OSError:
            slot[1] = None
            return
        s.setblocking(False)
        slot[1], slot[2] = s, time.time()
        self.sel.register(s, selectors.EVENT_READ, slot)
        self.open += 1
        if not first:
            self.renewed += 1

    def lost(self, slot):
        self.sel.unregister(slot[1])
        slot[1].close()
        slot[1] = None
        self.open -= 1

    def run(self):
        rng = random.Random(29)
        while not self.stop.is_set():
            now = time.time()
            for slot in self.slots:
                if slot[1] is None:
                    self.connect(slot)
                elif now >= slot[2]:
                    try:
                        slot[1].send(self.REQUEST)
                    except OSError:
                        self.lost(slot)
                        continue
                    slot[2] = now + 3 + rng.random() * 1.5
            for key, _ in self.sel.select(0.05):
                slot = key.data
                try:
                    data = slot[1].recv(65536)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                if not data:
                    self.lost(slot)
                    continue
                self.answers += data.count(b"HTTP/1.1 ")
                self.refused += data.count(b"HTTP/1.1 503 ")

    def close(self):
        self.stop.set()
        self.thread.join()
        for slot in self.slots:
            if slot[1] is not None:
                slot[1].close()


def hold(binary, addresses, each, extra=()):
    raise_file_limit()
    srv = Server(binary, extra=extra)
    total = len(addresses) * each
    h = Holders(srv.port, addresses, each)
    t0 = time.time()
    while h.answers < total and time.time() - t0 < 30:
        time.sleep(0.1)
    time.sleep(4.5)   # every connection has sent again once
    print("  %d connections, %d answers in %.1f s; holding %d open" % (total, h.answers, time.time() - t0, h.open))
    score_behind(srv.port, "a valid score from a new address", source="127.0.1.1", timeout=20)
    print("  then: %d open, %d answered 503, %d renewed" % (h.open, h.refused, h.renewed), flush=True)
    h.close()
    srv.stop()


def attack_hold(binary):
    print("16 addresses x 256 keep-alive connections, each with a request every 3-4.5 s:")
    hold(binary, ["127.0.20.%d" % (i + 1) for i in range(16)], 256)


def attack_holdfull(binary):
    print("16 addresses x 256 keep-alive connections on a server with 4,096 places (--max-connections 4096):")
    hold(binary, ["127.0.22.%d" % (i + 1) for i in range(16)], 256, ["--max-connections", "4096"])


def attack_hold40(binary):
    print("40 addresses x 256 keep-alive connections, each with a request every 3-4.5 s:")
    hold(binary, ["127.0.23.%d" % (i + 1) for i in range(40)], 256)


def attack_hold200(binary):
    print("200 addresses x 21 keep-alive connections, each with a request every 3-4.5 s:")
    hold(binary, ["127.0.21.%d" % (i + 1) for i in range(200)], 21)


def read_answer(s, pending):
    """One answer from a kept connection: (status, rest of the bytes)."""
    while b"\r\n\r\n" not in pending:
        part = s.recv(65536)
        if not part:
            return None, b""
        pending += part
    head, _, rest = pending.partition(b"\r\n\r\n")
    length = int(re.search(rb"(?i)content-length: *(\d+)", head).group(1))
    while len(rest) < length:
        part = s.recv(65536)
        if not part:
            return None, b""
        rest += part
    return status(head), rest[length:]


def attack_forge(binary):
    print("Forged records from one address, as fast as 8 kept connections take them, for 3 s:")
    srv = Server(binary)
    counts = {}
    lock = threading.Lock()
    stop = time.time() + 3

    def forger(k):
        s = connect(srv.port, "127.0.6.1")
        s.settimeout(30)
        pending, i = b"", 0
        while time.time() < stop:
            i += 1
            s.sendall(("GET %s HTTP/1.1\r\nHost: x\r\n\r\n" % target("Forged", 9999, str(10 ** 6 * (k + 1) + i))).encode())
            st, pending = read_answer(s, pending)
            with lock:
                counts[st] = counts.get(st, 0) + 1
            if st is None:
                break
        s.close()
    threads = [threading.Thread(target=forger, args=(k,)) for k in range(8)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    rows = srv.rows()
    print("  answers by status: %s; %d rows stored: %.0f records a second" % (
        dict(sorted(counts.items(), key=lambda kv: str(kv[0]))), rows, rows / 3.0), flush=True)
    srv.stop()


_brotli = None


def unbrotli(data):
    global _brotli
    if _brotli is None:
        _brotli = ctypes.CDLL("libbrotlidec.so.1")
    out = ctypes.create_string_buffer(64 << 20)
    size = ctypes.c_size_t(len(out))
    if _brotli.BrotliDecoderDecompress(ctypes.c_size_t(len(data)), data, ctypes.byref(size), out) != 1:
        return None
    return out.raw[:size.value]


def fetch(port, name, coding):
    """(decoded body, ETag, Content-Encoding) of a GET."""
    headers = "Accept-Encoding: %s\r\n" % coding if coding else ""
    data, _, _ = get(port, "/" + name, headers=headers, timeout=30)
    head, _, body = data.partition(b"\r\n\r\n")
    fields = {k.lower(): v.strip() for k, v in re.findall(r"(?m)^([^:\r\n]+):(.*)$", head.decode("latin-1"))}
    enc = fields.get("content-encoding", "-")
    if enc == "br":
        body = unbrotli(body)
    elif enc == "gzip":
        body = gzip.decompress(body)
    return body, fields.get("etag", "-"), enc


def attack_samesize(binary):
    print("A page replaced by other bytes of the same size, its time kept (as cp -p writes over it):")
    old = "".join("var a%d = 1;\n" % i for i in range(2000)).encode()
    new = old.replace(b"1", b"2")
    web = folder_with("MyGame.js", old)
    path = os.path.join(web, "MyGame.js")
    srv = Server(binary, web)
    t0 = time.time()
    while not (os.path.exists(path + ".br") and os.path.exists(path + ".gz")) and time.time() - t0 < 60:
        time.sleep(0.1)
    time.sleep(0.5)
    before = {c: fetch(srv.port, "MyGame.js", c) for c in (None, "br", "gzip")}
    st = os.stat(path)
    with open(path, "r+b") as f:   # in place, as cp -p does
        f.write(new)
    os.utime(path, ns=(st.st_atime_ns, st.st_mtime_ns))
    for when, wait in (("at once", 0), ("2 s later", 2)):
        time.sleep(wait)
        for c in (None, "br", "gzip"):
            body, tag, enc = fetch(srv.port, "MyGame.js", c)
            print("  %s, %s: sent as %s, %s bytes, ETag %s (before: %s)" % (
                when, c or "identity", enc, "new" if body == new else "OLD" if body == old else "other",
                "changed" if tag != before[c][1] else "SAME", before[c][1]), flush=True)
    srv.stop()
    # The copies on the disk now, and what --precompress makes of them.
    out = subprocess.run([binary, "--precompress", web], capture_output=True, text=True, timeout=300).stdout.strip()
    with open(path + ".br", "rb") as f:
        br = unbrotli(f.read())
    with open(path + ".gz", "rb") as f:
        gz = gzip.decompress(f.read())
    print("  --precompress afterwards: %r; the .br copy holds the %s bytes, the .gz copy the %s bytes" % (
        out, "new" if br == new else "OLD", "new" if gz == new else "OLD"), flush=True)


def attack_incompressible(binary):
    print("A 60 MiB file that does not compress (random bytes), the folder precompressed:")
    web = folder_with("MyGame.data", os.urandom(60 << 20))
    t0 = time.time()
    subprocess.run([binary, "--precompress", web], capture_output=True, timeout=900)
    sizes = {suffix: os.path.getsize(os.path.join(web, "MyGame.data" + suffix))
             for suffix in (".br", ".gz") if os.path.exists(os.path.join(web, "MyGame.data" + suffix))}
    print("  in %.1f s; copies kept: %s (%.1f MB)" % (time.time() - t0, sizes or "none",
                                                       sum(sizes.values()) / 1e6), flush=True)
    shutil.rmtree(web, ignore_errors=True)


def attack_ims(binary):
    print("If-Modified-Since later than the file's date:")
    web = folder_with("index.html", b"<!doctype html><title>page</title>")
    srv = Server(binary, web)
    for what, date in (("a second after the file's", time.strftime("%a, %d %b %Y %H:%M:%S GMT", time.gmtime(
            os.stat(os.path.join(web, "index.html")).st_mtime + 1))), ("in 2100", "Fri, 01 Jan 2100 00:00:00 GMT")):
        data, _, _ = get(srv.port, "/index.html", headers="If-Modified-Since: %s\r\n" % date)
        print("  %s: status %s" % (what, status(data)), flush=True)
    srv.stop()


class Postgres:
    """A private PostgreSQL server (initdb in a temporary folder), as the tests start theirs."""

    def __init__(self):
        found = sorted(glob.glob("/usr/lib/postgresql/*/bin/initdb"))
        if not found:
            raise RuntimeError("PostgreSQL is not installed")
        self.bin = os.path.dirname(found[-1])
        self.dir = tempfile.mkdtemp(prefix="kelp-pg-")
        self.user = []
        if os.geteuid() == 0:
            pw = pwd.getpwnam("postgres")
            os.chown(self.dir, pw.pw_uid, pw.pw_gid)
            self.user = ["setpriv", "--reuid=%d" % pw.pw_uid, "--regid=%d" % pw.pw_gid, "--clear-groups"]
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        self.port = s.getsockname()[1]
        s.close()
        self.run([self.bin + "/initdb", "-D", self.dir + "/data", "-A", "trust", "-U", "postgres", "-E", "UTF8",
                  "--locale=C"])
        self.ctl("start")

    def run(self, args):
        subprocess.run(self.user + args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def ctl(self, what, mode="fast"):
        self.run([self.bin + "/pg_ctl", "-D", self.dir + "/data", "-l", self.dir + "/server.log", "-w", "-m", mode,
                  "-o", "-p %d -k %s -c listen_addresses=127.0.0.1 -c max_connections=60" % (self.port, self.dir),
                  what])

    def sql(self, db, text):
        r = subprocess.run(["psql", "-h", "127.0.0.1", "-p", str(self.port), "-U", "postgres", "-d", db, "-qAtX",
                            "-v", "ON_ERROR_STOP=1", "-c", text], capture_output=True, text=True)
        if r.returncode != 0:
            raise RuntimeError("psql: " + r.stderr.strip())
        return r.stdout.strip()

    def uri(self, db):
        return "postgresql://postgres@127.0.0.1:%d/%s" % (self.port, db)

    def hold(self):
        """Stops (SIGSTOP) the postmaster, then its children, listed once it
        can fork no more; returns them all."""
        with open(self.dir + "/data/postmaster.pid") as f:
            main = int(f.readline())
        os.kill(main, signal.SIGSTOP)
        pids = [main]
        for entry in os.listdir("/proc"):
            if entry.isdigit():
                try:
                    with open("/proc/%s/stat" % entry) as f:
                        stat = f.read()
                except OSError:
                    continue
                if int(stat[stat.rindex(")") + 2:].split()[1]) == main:
                    os.kill(int(entry), signal.SIGSTOP)
                    pids.append(int(entry))
        return pids

    def stop(self):
        try:
            self.ctl("stop")
        except subprocess.CalledProcessError:
            pass
        shutil.rmtree(self.dir, ignore_errors=True)


_pg = None
_dbs = [0]


def fresh_database():
    global _pg
    if _pg is None:
        _pg = Postgres()
    _dbs[0] += 1
    name = "attack%d" % _dbs[0]
    _pg.sql("postgres", "CREATE DATABASE %s" % name)
    return _pg, name


def attack_dbstop(binary):
    print("The database's processes stopped (SIGSTOP) for 10 s under a score:")
    pg, name = fresh_database()
    srv = Server(binary, db=pg.uri(name))
    get(srv.port, target("Before", 1, "1"))
    time.sleep(1)   # the server's other connections, made in the background
    pids = pg.hold()
    resume = threading.Timer(10, lambda: [os.kill(pid, signal.SIGCONT) for pid in pids])
    resume.start()
    data, secs, _ = get(srv.port, target("Held", 50, "2"), timeout=60)
    print("  answered %s after %.2f s: %s" % (status(data), secs, data.split(b"\r\n\r\n", 1)[-1][:60]), flush=True)
    resume.join()
    data, secs, _ = get(srv.port, target("Held", 50, "2"), timeout=60)
    print("  sent again once it goes on: %s after %.2f s; rows of it: %s" % (
        status(data), secs, pg.sql(name, "SELECT COUNT(*) FROM scores WHERE name = 'Held'")), flush=True)
    srv.stop()


def attack_dbdown(binary):
    print("The database down when the server starts, up 3 s later:")
    pg, name = fresh_database()
    pg.ctl("stop")
    srv = Server(binary, db=pg.uri(name))
    if srv.port is None:
        srv.proc.wait()
        print("  the server ended with status %d" % srv.proc.returncode, flush=True)
        pg.ctl("start")
        return
    data, secs, _ = get(srv.port, target("Early", 5, "3"), timeout=30)
    print("  a score meanwhile: %s after %.2f s" % (status(data), secs), flush=True)
    time.sleep(3)
    pg.ctl("start")
    t0 = time.time()
    st = None
    while st != 200 and time.time() - t0 < 60:
        data, _, _ = get(srv.port, target("Early", 5, "3"), timeout=30)
        st = status(data)
        if st != 200:
            time.sleep(0.1)
    print("  serving: status %s, %.1f s after the database came up" % (st, time.time() - t0), flush=True)
    srv.stop()


def attack_dbkill(binary):
    print("The database stopped (fast) and started again under 16 clients sending 1,600 records:")
    pg, name = fresh_database()
    srv = Server(binary, db=pg.uri(name), extra=["--records-per-second", "0"] if "records" in help_of(binary) else [])
    answers = {}
    lock = threading.Lock()

    def client(k):
        for i in range(100):
            uid = str(10 ** 6 * (k + 1) + i)
            data, _, _ = get(srv.port, target("K", i, uid), source="127.0.7.%d" % (k + 1), timeout=60)
            with lock:
                answers[uid] = status(data)
    threads = [threading.Thread(target=client, args=(k,)) for k in range(16)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    pg.ctl("restart")
    for t in threads:
        t.join()
    stored = set(pg.sql(name, "SELECT user_id FROM scores").split())
    by = {}
    for uid, st in answers.items():
        by.setdefault(st, [0, 0])[0] += 1
        by[st][1] += uid in stored
    print("  answers by status (answered, of them stored): %s" % by, flush=True)
    srv.stop()


def help_of(binary):
    return subprocess.run([binary, "--help"], capture_output=True, text=True).stdout



def main():
    args = sys.argv[1:]
    binaries = [os.path.abspath(a) for a in args if os.path.isfile(a)]
    wanted = [a for a in args if not os.path.isfile(a)] or [
        "trickle", "nonreaders", "idle", "contain", "memory", "pipeline"]
    try:
        for name in wanted:
            for binary in binaries:
                print("== %s" % binary, flush=True)
                if name.startswith("web="):
                    attack_web(binary, name[4:])
                else:
                    globals()["attack_" + name](binary)
    finally:
        if _pg is not None:
            _pg.stop()


if __name__ == "__main__":
    main()
