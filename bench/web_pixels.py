"""Frames a second on a phone's screen, with and without the page's pixel
budget, in one run.

The test build's page (web-test/, ?trace=1) in headless Chromium as a phone:
390 x 844 CSS pixels, touch, at scale 1 (the reference) and at scale 3 with
the canvas's buffer as the page sizes it (two pixels to a CSS pixel: 780 x
1688) and with the budget lifted as a game may lift it (?pixelratio=Infinity
&pixels=Infinity: 1170 x 2532). Chromium draws WebGL with SwiftShader, on
the CPU, as a browser without a usable GPU does. Each setting is measured on
the start page and in a game (the demo scene), over --seconds of the
browser's own frames (not driven), in --rounds rounds that take the settings
in turn, so that a change in the machine's load falls on all of them; the
median round is printed. Prints one table; asserts nothing. Builds nothing:
build the desktop tree and build-web/ first (KELP_WEB_BUILD_ONLY=1 sh
scripts/web.sh builds both).

    python3 bench/web_pixels.py [--build-dir build] [--web-dir build-web] [--seconds 8] [--rounds 2]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
import web_harness as wh  # noqa: E402

# The loop's passes over `ms` of the page's clock: how many, and the median
# interval between them.
MEASURE = """new Promise(function (done) {
    var starts = [], t0 = performance.now();
    Module.preMainLoop = function () {
        var now = performance.now();
        starts.push(now);
        if (now - t0 < %d) return;
        Module.preMainLoop = null;
        var gaps = [];
        for (var i = 1; i < starts.length; i++) gaps.push(starts[i] - starts[i - 1]);
        gaps.sort(function (a, b) { return a - b; });
        done({fps: (starts.length - 1) * 1000 / (now - starts[0]), gap: gaps[gaps.length >> 1] || 0});
    };
})"""

SETTINGS = (
    ("scale 1 (reference)", 1, ""),
    ("scale 3, the page's budget", 3, ""),
    ("scale 3, budget lifted", 3, "&pixelratio=Infinity&pixels=Infinity"),
)


def measure(page, origin, scale, query, seconds):
    page.device(390, 844, scale=scale, mobile=True, touch=True)
    page.open(origin + "/web-test/index.html?trace=1" + query)
    if not page.wait_screen("start"):
        raise SystemExit("the page never reached its start page:\n" + page.log_tail())
    buffer = tuple(page.evaluate("[Module.canvas.width, Module.canvas.height]"))
    page.evaluate(MEASURE % 1000)    # the start page's fade settles
    start = page.evaluate(MEASURE % (seconds * 1000))
    page.hold("z")
    page.wait_screen("level")
    page.hold("z")
    if not page.wait_screen("game"):
        raise SystemExit("no game started:\n" + page.log_tail())
    page.evaluate(MEASURE % 1000)
    game = page.evaluate(MEASURE % (seconds * 1000))
    if page.screen() != "game":
        raise SystemExit("the game ended while it was measured (%s)" % page.screen())
    return buffer, start, game


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", default="build")
    ap.add_argument("--web-dir", default="build-web")
    ap.add_argument("--seconds", type=int, default=8)
    ap.add_argument("--rounds", type=int, default=2)
    args = ap.parse_args()
    missing = wh.emscripten_missing()
    if missing:
        raise SystemExit("needs " + missing)
    build, web = os.path.abspath(args.build_dir), os.path.abspath(args.web_dir)
    print("Load average: %s; %d cores" % (" ".join(open("/proc/loadavg").read().split()[:3]), os.cpu_count()),
          flush=True)
    tmp = tempfile.mkdtemp(prefix="kelp-bench-pixels-")
    server = subprocess.Popen([os.path.join(build, "tools", "score_server"), "--address", "127.0.0.1", "--port", "0",
                               "--db", os.path.join(tmp, "scores.db"), "--web", web],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    results = {label: [] for label, _, _ in SETTINGS}
    buffers = {}
    try:
        origin = "http://127.0.0.1:%s" % re.search(r":(\d+),", server.stdout.readline()).group(1)
        with wh.Chromium() as chromium:
            page = chromium.page()
            version = page.call("Browser.getVersion")["product"].replace("Chrome/", "Chromium ").split(".")[0]
            for r in range(args.rounds):
                for label, scale, query in SETTINGS:
                    buffer, start, game = measure(page, origin, scale, query, args.seconds)
                    buffers[label] = buffer
                    results[label].append((start, game))
                    print("round %d, %s: start page %.1f, game %.1f frames a second" % (
                        r + 1, label, start["fps"], game["fps"]), flush=True)
            page.close()
    finally:
        server.terminate()
        server.wait(30)
        server.stdout.close()

    def median(label, which, key):
        return statistics.median(r[which][key] for r in results[label])

    ref = (median(SETTINGS[0][0], 0, "fps"), median(SETTINGS[0][0], 1, "fps"))
    print()
    print("A phone's screen (390 x 844 CSS pixels) in %s headless (SwiftShader), median of %d rounds of %d s:" % (
        version, args.rounds, args.seconds))
    print("| setting                      | buffer      | pixels | start page fps | frame ms | game fps | frame ms "
          "| game fps / scale 1 |")
    print("|------------------------------|-------------|-------:|---------------:|---------:|---------:|---------:"
          "|-------------------:|")
    for label, _, _ in SETTINGS:
        w, h = buffers[label]
        print("| %-28s | %4d x %4d | %4.2f M | %14.1f | %8.1f | %8.1f | %8.1f | %18.2f |" % (
            label, w, h, w * h / 1e6, median(label, 0, "fps"), median(label, 0, "gap"), median(label, 1, "fps"),
            median(label, 1, "gap"), median(label, 1, "fps") / ref[1]))
    print()
    print("fps: the page's loop passes a second (one a browser frame); frame ms: the median interval between them.")
    print("Load average: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))


if __name__ == "__main__":
    main()
