#!/usr/bin/env python3
"""A score's cost on a big board: fills a board to 2,000,000 rows (by default)
on each store, SQLite and PostgreSQL, then starts each score server binary
given on it and prints how long the server took to start on that board, the
time of one score, and of 16 sent at once from 16 addresses.

    python3 bench/score_board.py [--rows N] [--stores sqlite,postgresql] BINARY [BINARY ...]

Give an older binary and a newer one to see them side by side: each runs on
a copy of the same board. The board is made as servers before the kept
counts made it (the table and its indexes), so each binary sets up what it
needs itself when it opens it, as it would on a published server's board.
The PostgreSQL server is a private one started here (initdb, in a temporary
folder, with its default durability). Nothing is asserted: this prints."""
import argparse
import os
import random
import re
import shutil
import socket
import sqlite3
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "score_server"))
# The game's record scramble, and a private PostgreSQL server.
from measure_attacks import Postgres, target  # noqa: E402

OLD_TABLE = ("CREATE TABLE scores (id {id}, game INTEGER NOT NULL, user_id TEXT NOT NULL, name TEXT NOT NULL,"
             " version INTEGER NOT NULL, score INTEGER NOT NULL, extra TEXT NOT NULL, received {received})")
# Scores spread over 0..999,999: the probes score 10, below nearly all.
PROBE_SCORE = 10


def fill_sqlite(path, rows):
    db = sqlite3.connect(path)
    db.executescript(OLD_TABLE.format(id="INTEGER PRIMARY KEY AUTOINCREMENT",
                                      received="TEXT NOT NULL DEFAULT (strftime('%Y-%m-%d %H:%M:%S', 'now'))") + ";"
                     "PRAGMA journal_mode=WAL;")
    rng = random.Random(29)
    db.execute("BEGIN")
    db.executemany("INSERT INTO scores (game, user_id, name, version, score, extra) VALUES (550, ?, ?, 1, ?, ?)",
                   ((str(10 ** 9 + i), "F%d" % (i % 1000), rng.randrange(1000, 1000000), "10{1{15{2{20{3")
                    for i in range(rows)))
    db.execute("COMMIT")
    # The indexes the servers before the counts made.
    db.executescript("CREATE INDEX scores_by_game ON scores (game, score DESC);"
                     "CREATE INDEX scores_by_player ON scores (game, user_id, score);")
    db.close()


def fill_postgres(pg, rows):
    pg.sql("postgres", "CREATE DATABASE board")
    table = OLD_TABLE.format(id="BIGSERIAL PRIMARY KEY", received="TIMESTAMPTZ NOT NULL DEFAULT now()")
    fill = ("INSERT INTO scores (game, user_id, name, version, score, extra)"
            " SELECT 550, (1000000000 + g)::text, 'F' || (g %% 1000), 1, 1000 + (hashint4(g) & 2147483647) %% 999000,"
            " '10{1{15{2{20{3' FROM generate_series(1, %d) g" % rows)
    pg.sql("board", table + ";" + fill + ";"
           "CREATE UNIQUE INDEX scores_one_row ON scores (game, user_id, name, version, score, extra);"
           "CREATE INDEX scores_by_game ON scores (game, score DESC, id)")
    pg.sql("board", "VACUUM ANALYZE scores")


class Server:
    def __init__(self, binary, db):
        t0 = time.time()
        self.proc = subprocess.Popen([binary, "--address", "127.0.0.1", "--port", "0", "--db", db],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.proc.stdout.readline()
        self.start = time.time() - t0
        m = re.search(r":(\d+),", line)
        if not m:
            raise RuntimeError("%s did not start: %r" % (binary, line))
        self.port = int(m.group(1))

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def score(port, n, source):
    """One new record (its own user ID), answered: (seconds, status)."""
    text = "GET %s HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n" % target("Bench", PROBE_SCORE, str(5000 + n))
    t0 = time.time()
    s = socket.socket()
    s.bind((source, 0))
    s.settimeout(120)
    s.connect(("127.0.0.1", port))
    s.sendall(text.encode())
    data = b""
    while True:
        part = s.recv(65536)
        if not part:
            break
        data += part
    s.close()
    m = re.match(rb"HTTP/1\.\d (\d+)", data)
    return time.time() - t0, int(m.group(1)) if m else 0


counter = [0]


def measure(binary, db):
    srv = Server(binary, db)
    try:
        def one(source):
            counter[0] += 1
            return score(srv.port, counter[0], source)
        one("127.0.50.1")  # warms the server's connections and the database's cache
        singles = [one("127.0.51.%d" % (i + 1)) for i in range(5)]
        rounds = []
        for r in range(3):
            results = [None] * 16
            ns = []
            for i in range(16):
                counter[0] += 1
                ns.append(counter[0])
            go = threading.Barrier(16)

            def worker(i):
                go.wait()
                results[i] = score(srv.port, ns[i], "127.0.%d.%d" % (52 + r, i + 1))
            threads = [threading.Thread(target=worker, args=(i,)) for i in range(16)]
            for t in threads:
                t.start()
            for t in threads:
                t.join()
            rounds.append(results)
        return srv.start, singles, rounds
    finally:
        srv.stop()


def report(store, binary, start, singles, rounds):
    single = statistics.median(s for s, _ in singles)
    worst = [max(s for s, _ in rnd) for rnd in rounds]
    statuses = sorted({st for s, st in singles} | {st for rnd in rounds for _, st in rnd})
    print("  %-10s %-45s start %6.1f s | one score: median %7.1f ms (of 5) | 16 at once: all answered in %s ms"
          " | statuses %s" % (store, binary, start, single * 1000,
                              " / ".join("%.0f" % (w * 1000) for w in worst), statuses), flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rows", type=int, default=2000000)
    ap.add_argument("--stores", default="sqlite,postgresql")
    ap.add_argument("binaries", nargs="+")
    args = ap.parse_args()
    binaries = [os.path.abspath(b) for b in args.binaries]
    print("Load average: %s; %d cores" % (open("/proc/loadavg").read().split()[:3], os.cpu_count()))
    print("A board of %d rows; each score a new record with score %d (below nearly all)" % (args.rows, PROBE_SCORE))
    stores = args.stores.split(",")
    if "sqlite" in stores:
        work = tempfile.mkdtemp(prefix="kelp-bench-board-")
        try:
            t0 = time.time()
            fill_sqlite(work + "/board.db", args.rows)
            print("SQLite board filled in %.1f s" % (time.time() - t0), flush=True)
            for b in binaries:
                shutil.copy(work + "/board.db", work + "/run.db")
                report("SQLite", b, *measure(b, work + "/run.db"))
                for suffix in ("", "-wal", "-shm"):
                    if os.path.exists(work + "/run.db" + suffix):
                        os.remove(work + "/run.db" + suffix)
        finally:
            shutil.rmtree(work, ignore_errors=True)
    if "postgresql" in stores:
        pg = Postgres()
        try:
            t0 = time.time()
            fill_postgres(pg, args.rows)
            print("PostgreSQL board filled in %.1f s" % (time.time() - t0), flush=True)
            for i, b in enumerate(binaries):
                name = "run%d" % i
                pg.sql("postgres", "CREATE DATABASE %s TEMPLATE board" % name)
                report("PostgreSQL", b, *measure(b, pg.uri(name)))
                pg.sql("postgres", "DROP DATABASE %s" % name)
        finally:
            pg.stop()
    print("Load average: %s" % open("/proc/loadavg").read().split()[:3])


if __name__ == "__main__":
    main()
