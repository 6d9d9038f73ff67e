"""The browser build's start-up as a player meets it: the time from the
navigation to the loading screen and to the start page, and the bytes the
page fetched, on a first visit (empty cache) and on a repeat visit (the same
profile, a new navigation: the browser's cache as it is).

The page is the test build's (web-test/, ?trace=1: its screens are logged),
served from build-web/ by a plain static server that sends Last-Modified and
no caching headers (Python's http.server), or with --server score by the
score server. Each run has a fresh Chromium profile. Prints one table;
asserts nothing. Builds nothing: build the desktop tree and build-web/ first
(KELP_WEB_BUILD_ONLY=1 sh scripts/web.sh builds both).

    python3 bench/web_start.py [--build-dir build] [--web-dir build-web] [--runs 3] [--server static|score]
                               [--size 800x600] [--mbit N]

The page is --size CSS pixels at scale 1 (default 800 x 600, the size of the
canvas before it filled the page): Chromium draws with SwiftShader, on the
CPU, so a larger canvas slows every frame of the loading screen here.
--mbit N limits the page's downloads to N megabits a second (40 ms of
latency), as on a player's connection; without it they come at loopback
speed.
"""
import argparse
import functools
import http.server
import os
import re
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
import web_harness as wh  # noqa: E402


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def static_server(web):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=web))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, "http://127.0.0.1:%d" % server.server_address[1]


def score_server(build, web, tmp):
    proc = subprocess.Popen([os.path.join(build, "tools", "score_server"), "--address", "127.0.0.1", "--port", "0",
                             "--db", os.path.join(tmp, "scores.db"), "--web", web],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    port = re.search(r":(\d+),", proc.stdout.readline()).group(1)
    return proc, "http://127.0.0.1:%s" % port


def visit(page, url):
    """Seconds from the navigation to the loading screen and to the start
    page; bytes fetched by the loading screen, by the start page, and once
    the network has been idle for two seconds after it."""
    with page.lock:
        page.console.clear()
        page.finished.clear()
        page.responses.clear()
    page.open(url)
    if not page.wait_screen("loading", timeout=120):
        raise SystemExit("the page never reached its loading screen:\n" + page.log_tail())
    with page.lock:
        by_loading = sum(n for _, n in page.finished)
    if not page.wait_screen("start", timeout=120):
        raise SystemExit("the page never reached its start page:\n" + page.log_tail())
    origin = page.evaluate("performance.timeOrigin")

    def at(screen):
        with page.lock:
            stamps = [t for _, text, t in page.console if text.endswith("Trace screen: " + screen)]
        return (stamps[0] - origin) / 1000 if stamps else float("nan")
    with page.lock:
        by_start = sum(n for _, n in page.finished)
    idle_since, count = time.time(), -1
    while time.time() - idle_since < 2:
        with page.lock:
            n = len(page.finished)
        if n != count:
            count, idle_since = n, time.time()
        time.sleep(0.1)
    with page.lock:
        total = sum(n for _, n in page.finished)
    return at("loading"), at("start"), by_loading, by_start, total


def run(url, runs, size, mbit):
    rows = []
    for _ in range(runs):
        with wh.Chromium() as chromium:
            page = chromium.page()
            page.device(*size)
            page.call("Network.enable")
            if mbit:
                page.call("Network.emulateNetworkConditions", offline=False, latency=40,
                          downloadThroughput=mbit * 125000, uploadThroughput=mbit * 125000)
            first = visit(page, url)
            page.open("about:blank")
            repeat = visit(page, url)
            page.close()
        rows.append((first, repeat))
    return rows


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", default="build")
    ap.add_argument("--web-dir", default="build-web")
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--server", choices=("static", "score"), default="static")
    ap.add_argument("--size", default="800x600")
    ap.add_argument("--mbit", type=float, default=0)
    args = ap.parse_args()
    if wh.emscripten_missing():
        raise SystemExit("needs " + wh.emscripten_missing())
    load = lambda: " ".join(open("/proc/loadavg").read().split()[:3])
    print("Load average: %s; %d cores" % (load(), os.cpu_count()), flush=True)
    web = os.path.abspath(args.web_dir)
    if args.server == "static":
        server, origin = static_server(web)
    else:
        tmp = tempfile.mkdtemp(prefix="kelp-bench-start-")
        server, origin = score_server(os.path.abspath(args.build_dir), web, tmp)
    try:
        rows = run(origin + "/web-test/index.html?trace=1", args.runs, [int(v) for v in args.size.split("x")],
                   args.mbit)
    finally:
        if args.server == "static":
            server.shutdown()
        else:
            server.terminate()
            server.wait(30)
            server.stdout.close()
    print()
    print("Start-up in headless Chromium (%s server, page %s%s), %d runs, medians (all runs):" % (
        args.server, args.size, ", %g Mbit/s" % args.mbit if args.mbit else "", args.runs))
    print("| visit  | loading screen, s | start page, s | KiB by the loading screen | by the start page | in all |")
    print("|--------|------------------:|--------------:|--------------------------:|------------------:|-------:|")
    for name, i in (("first", 0), ("repeat", 1)):
        cols = [[r[i][k] for r in rows] for k in range(5)]
        print("| %-6s | %17s | %13s | %25d | %17d | %6d |" % (
            name,
            "%.2f (%s)" % (statistics.median(cols[0]), " ".join("%.2f" % v for v in cols[0])),
            "%.2f (%s)" % (statistics.median(cols[1]), " ".join("%.2f" % v for v in cols[1])),
            statistics.median(cols[2]) / 1024, statistics.median(cols[3]) / 1024,
            statistics.median(cols[4]) / 1024))
    print("Load average: %s" % load())


if __name__ == "__main__":
    main()
