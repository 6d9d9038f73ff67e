"""The start page's frame time in the browser beside the desktop's, same run.

Desktop: bench_scenes' "start page" row (update + render on a window under
Xvfb, Mesa's llvmpipe). Browser: the test build's page in headless Chromium
(SwiftShader), on its start page, each loop pass (one update and one render)
timed on the page's main thread through Emscripten's main-loop hooks; then
the same with the GPU's work waited for after each pass (a one-pixel read),
which is what the desktop's figure includes; and the interval between the
browser's frames. Prints one table; asserts nothing. Builds nothing: build
the desktop tree and build-web/ first (scripts/web.sh with
KELP_WEB_BUILD_ONLY=1 builds both).

    python3 bench/web.py [--build-dir build] [--web-dir build-web] [--frames 200]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
import kelp_harness as kh  # noqa: E402
import web_harness as wh  # noqa: E402

# Times `frames` passes of the page's loop: the pass alone, or with the GPU's
# work finished (readPixels waits for it), and the frame intervals.
MEASURE = """new Promise(function (done) {
    var frames = %d, sync = %s, passes = [], starts = [], t0 = 0, px = new Uint8Array(4), uploads = 0;
    var image = GLctx.texImage2D, subImage = GLctx.texSubImage2D;
    GLctx.texImage2D = function () { uploads++; return image.apply(GLctx, arguments); };
    GLctx.texSubImage2D = function () { uploads++; return subImage.apply(GLctx, arguments); };
    Module.preMainLoop = function () { t0 = performance.now(); starts.push(t0); };
    Module.postMainLoop = function () {
        if (sync) GLctx.readPixels(0, 0, 1, 1, GLctx.RGBA, GLctx.UNSIGNED_BYTE, px);
        passes.push(performance.now() - t0);
        if (passes.length < frames) return;
        Module.preMainLoop = Module.postMainLoop = null;
        GLctx.texImage2D = image;
        GLctx.texSubImage2D = subImage;
        var gaps = [];
        for (var i = 1; i < starts.length; i++) gaps.push(starts[i] - starts[i - 1]);
        done({passes: passes, gaps: gaps, uploads: uploads, heap: HEAP8.length});
    };
})"""


def desktop_start_page(build, frames):
    out = subprocess.run([sys.executable, os.path.join(HERE, "..", "tests", "harness", "with_xvfb.py"),
                          os.path.join(build, "bench", "bench_scenes"), str(frames)],
                         capture_output=True, text=True).stdout
    m = re.search(r"^\|\s*start page\s*\|\s*([\d.]+)\s*\|\s*([\d.]+)\s*\|\s*([\d.]+)", out, re.M)
    if not m:
        raise SystemExit("bench_scenes printed no start page row:\n" + out[-2000:])
    return float(m.group(1)), float(m.group(3))


def browser_start_page(build, web, frames):
    tmp = tempfile.mkdtemp(prefix="kelp-bench-web-")
    server = subprocess.Popen([os.path.join(build, "tools", "score_server"), "--address", "127.0.0.1", "--port", "0",
                               "--db", os.path.join(tmp, "scores.db"), "--web", web],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        port = re.search(r":(\d+),", server.stdout.readline()).group(1)
        with wh.Chromium() as chromium:
            page = chromium.page()
            page.open("http://127.0.0.1:%s/web-test/index.html?trace=1" % port)
            if not page.wait_screen("start"):
                raise SystemExit("the page never reached its start page:\n" + page.log_tail())
            page.evaluate(MEASURE % (40, "false"))   # uploads and fades settle
            plain = page.evaluate(MEASURE % (frames, "false"))
            synced = page.evaluate(MEASURE % (frames, "true"))
            version = page.call("Browser.getVersion")["product"].replace("Chrome/", "Chromium ").split(".")[0]
            page.close()
        return plain, synced, version
    finally:
        server.terminate()
        server.wait(30)
        server.stdout.close()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build-dir", default="build")
    ap.add_argument("--web-dir", default="build-web")
    ap.add_argument("--frames", type=int, default=200)
    args = ap.parse_args()
    missing = wh.emscripten_missing()
    if missing:
        raise SystemExit("needs " + missing)
    build, web = os.path.abspath(args.build_dir), os.path.abspath(args.web_dir)
    print("Load average: %s; %d cores" % (" ".join(open("/proc/loadavg").read().split()[:3]), os.cpu_count()),
          flush=True)
    median, main_thread = desktop_start_page(build, args.frames)
    plain, synced, version = browser_start_page(build, web, args.frames)
    print()
    print("Start page, median frame (one update and one render), ms:")
    print("| build                                        | frame | main thread | frame interval | uploads |")
    print("|----------------------------------------------|------:|------------:|---------------:|--------:|")
    print("| %-44s | %5.2f | %11.2f |                |         |" % ("desktop (Xvfb, llvmpipe)", median, main_thread))
    print("| %-44s | %5.2f | %11.2f | %14.2f | %7d |" % (
        "browser (%s headless, SwiftShader)" % version, statistics.median(synced["passes"]),
        statistics.median(plain["passes"]), statistics.median(plain["gaps"]), plain["uploads"]))
    print()
    print("Desktop frame: update, render and swap; main thread: the game thread's own CPU time. Browser frame: the")
    print("pass and the GPU process's work on it (a one-pixel read after it waits for that); main thread: the pass")
    print("alone. Uploads: texture uploads in the browser's %d measured frames. The page's memory: %d MiB." % (
        args.frames, plain["heap"] >> 20))
    print("Load average: %s" % " ".join(open("/proc/loadavg").read().split()[:3]))


if __name__ == "__main__":
    main()
