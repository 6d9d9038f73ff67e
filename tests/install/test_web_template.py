"""A game's own browser build: the framework alone (KELP_LIBRARY_ONLY) is
configured with emcmake in a tree of its own, built and installed into a
temporary prefix, as the README's author section says, building nothing of
the demo or its pages; the game template, copied out of that prefix, is
built with emcmake against the prefix alone; its page folder is served by a
plain static server and played in headless Chromium: it starts, draws its
scene, the ship moves on a held key, its pause holds the music where it is
and its end of pause plays it on from there, and F4 ends it and keeps its
save in the browser's storage.

Skipped, with a line saying why, only when Emscripten, Chromium or
python3-websocket is missing (scripts/setup.sh installs them)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import kelp_harness as kh
import web_harness as wh

ARGS = {}
BACKDROP = (20, 16, 40)   # the template's SetCLS


def run(cmd, **kw):
    start = time.time()
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise AssertionError("%s failed (%d)\n--- stdout:\n%s\n--- stderr:\n%s" %
                             (" ".join(cmd), r.returncode, r.stdout[-4000:], r.stderr[-4000:]))
    return r, time.time() - start


def backdrop(pixel):
    return all(abs(a - b) <= 4 for a, b in zip(pixel, BACKDROP))


class WebTemplate(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="kelp-web-template-")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        cls.lib = os.path.join(cls.tmp, "build-web-lib")
        _, took = run(["emcmake", "cmake", "-S", ARGS["source"], "-B", cls.lib, "-DKELP_LIBRARY_ONLY=ON"])
        print("the framework alone for browsers, configure: %.0f s" % took, flush=True)
        built, took = run(["cmake", "--build", cls.lib, "-j2"])
        cls.built = built.stdout + built.stderr
        print("the framework alone for browsers, build: %.0f s" % took, flush=True)
        run(["cmake", "--install", cls.lib, "--prefix", cls.prefix])

    @classmethod
    def tearDownClass(cls):
        if os.environ.get("KELP_KEEP_ROOT") is None:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_the_framework_alone_builds_nothing_else(self):
        self.assertNotIn("warning", self.built.lower())
        listed, _ = run(["cmake", "--build", self.lib, "--target", "help"])
        targets = {line[4:].split()[0] for line in listed.stdout.splitlines() if line.startswith("... ")}
        targets = {t for t in targets if "/" not in t}   # the library's per-file targets
        cmake_own = {"all", "clean", "depend", "edit_cache", "install", "install/local", "install/strip",
                     "list_install_components", "rebuild_cache"}
        self.assertEqual({"kelp", "kelp_man"}, targets - cmake_own)
        for made in ("web", "web-test", "hello-test", "native"):
            self.assertFalse(os.path.exists(os.path.join(self.lib, made)), made)

    def test_the_template_builds_for_the_browser_and_plays(self):
        # What a browser build installs, beside where a desktop one would.
        package = os.path.join(self.prefix, "lib", "wasm32-emscripten")
        for rel in ("libkelp.a", "cmake/KELP/KELPConfig.cmake", "cmake/KELP/KELPWebPage.cmake",
                    "cmake/KELP/web/index.html", "cmake/KELP/web/pre.js"):
            self.assertTrue(os.path.isfile(os.path.join(package, rel)), rel)
        self.assertTrue(os.path.isfile(os.path.join(self.prefix, "include", "kelp", "KELPCore.h")))

        # The README's command, in the game's own folder, with nothing but
        # the prefix to find the framework by.
        game = os.path.join(self.tmp, "my-game")
        shutil.copytree(os.path.join(self.prefix, "share", "kelp", "templates", "new-game"), game)
        _, configured = run(["emcmake", "cmake", "-S", ".", "-B", "build-web", "-DCMAKE_PREFIX_PATH=" + self.prefix],
                            cwd=game)
        built, took = run(["cmake", "--build", "build-web"], cwd=game)
        print("the template's browser build: %.0f s (configure %.0f s)" % (took, configured), flush=True)
        self.assertNotIn("warning:", built.stdout + built.stderr)
        page_dir = os.path.join(game, "build-web", "web")
        self.assertEqual(["index.html", "newgame.data", "newgame.js", "newgame.wasm"], sorted(os.listdir(page_dir)))
        with open(os.path.join(page_dir, "index.html"), encoding="utf-8") as f:
            index = f.read()
        self.assertIn("<title>New Game</title>", index)
        self.assertIn("var script = 'newgame.js'", index)
        self.assertNotIn("@KELP_", index)
        # The whole page is in the folder: nothing points back at the sources.
        for name in os.listdir(page_dir):
            with open(os.path.join(page_dir, name), "rb") as f:
                self.assertNotIn(ARGS["source"].encode(), f.read(), name)

        # Any static server will do: Python's own.
        server = subprocess.Popen([sys.executable, "-u", "-m", "http.server", "--bind", "127.0.0.1", "0"],
                                  cwd=page_dir, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.addCleanup(server.stdout.close)
        self.addCleanup(server.wait, 30)
        self.addCleanup(server.terminate)
        m = re.search(r"port (\d+)", server.stdout.readline())
        self.assertTrue(m, "the static server did not start")
        with wh.Chromium() as chromium:
            page = chromium.page()
            try:
                self.play(page, "http://127.0.0.1:%s/" % m.group(1))
            except AssertionError as e:
                raise AssertionError("%s\n--- the page's log:\n%s" % (e, page.log_tail(60))) from None
            finally:
                page.close()

    def play(self, page, url):
        # The canvas fills the page: a page of 800 x 600 makes a canvas unit
        # one CSS pixel.
        page.device(800, 600)
        page.open(url)
        self.assertTrue(page.wait_log("New Game ready"), "the game never started")
        log = page.log_text()
        self.assertIn("Loaded Spritesheet of 9 x 32x32 sprites", log)
        self.assertIn("Load Wave pickup to 1", log)
        for fault in ("OMGERRORZ", "Error Opening", "Rejected", "Missing Image"):
            self.assertNotIn(fault, log)
        self.assertEqual("New Game", page.evaluate("document.title"))

        # Its scene: the backdrop, and the ship where it starts (the middle
        # of the bottom, 80 units up; nothing else comes near it until it moves).
        x0, y0, x1, y1 = page.canvas_box()
        sx, sy = (x1 - x0) / page.evaluate("Module.canvas.width"), (y1 - y0) / page.evaluate("Module.canvas.height")
        ship = (x0 + int(385 * sx), y0 + int(505 * sy), x0 + int(415 * sx), y0 + int(535 * sy))

        def ship_there():
            shot = page.screenshot()
            return shot.count(lambda r, g, b: not backdrop((r, g, b)), ship) > 50

        self.assertTrue(kh.wait_until(lambda: backdrop(page.screenshot().pixel(x0 + 5, y1 - 5))),
                        "the backdrop never showed: %s" % (page.screenshot().pixel(x0 + 5, y1 - 5),))
        self.assertTrue(kh.wait_until(ship_there), "no ship where it starts")
        # Right held: the ship leaves the centre.
        page.key("Right", True)
        try:
            self.assertTrue(kh.wait_until(lambda: not ship_there()), "the ship did not move on Right")
        finally:
            page.key("Right", False)

        self.pause_holds_the_music(page)
        self.assertIsNone(page.end_game())
        self.assertEqual(4, page.evaluate('FS.readFile("/kelp/newgame.sav").length'))


    def pause_holds_the_music(self, page):
        """P pauses the template: its music source (the one with a queue of
        buffers) is paused and its place in the track holds; P again plays
        it on from that place, not from the start of its queue."""
        music = ("(function () { var c = AL.currentCtx; if (!c) return null;"
                 " for (var id in c.sources) { var s = c.sources[id];"
                 "   if (s && s.bufQueue && s.bufQueue.length > 1) return [s.state, AL.sourceTell(s)]; }"
                 " return null; })()")
        playing, paused = 0x1012, 0x1013
        self.assertTrue(kh.wait_until(lambda: (page.evaluate(music) or [0])[0] == playing), "no music playing")

        frame = "Browser.mainLoop.currentFrameNumber"

        def frames_pass(n):
            start = page.evaluate(frame)
            return kh.wait_until(lambda: page.evaluate(frame) >= start + n, poll=0.02)

        def toggle(state):
            page.key("p", True)
            try:
                return kh.wait_until(lambda: (page.evaluate(music) or [0])[0] == state, poll=0.02)
            finally:
                page.key("p", False)
                # A press counts once its release has been seen by a frame.
                frames_pass(3)
        self.assertTrue(toggle(paused), "P did not pause the music: %s" % page.evaluate(music))
        held = page.evaluate(music)[1]
        for _ in range(3):
            self.assertTrue(frames_pass(10))
            self.assertEqual(paused, page.evaluate(music)[0])
            self.assertAlmostEqual(held, page.evaluate(music)[1], places=3)
        # Where in its queue the source is scheduled to sound again when it
        # is played (the buffers it has played, and the offset into the next
        # that the page's audio node starts at).
        page.evaluate("(function () { var set = AL.setSourceState; window.kelpPlayedAt = [];"
                      " AL.setSourceState = function (src, state) { set.call(AL, src, state);"
                      "   if (state !== 0x1012 || src.bufQueue.length < 2 || !src.audioQueue.length) return;"
                      "   var at = src.audioQueue[0]._startOffset;"
                      "   for (var i = 0; i < src.bufsProcessed; i++) at += src.bufQueue[i].audioBuf.duration;"
                      "   kelpPlayedAt.push(at); };"
                      " return true; })()")
        self.assertTrue(toggle(playing), "P again did not play the music on: %s" % page.evaluate(music))
        played_at = page.evaluate("kelpPlayedAt")
        self.assertEqual(1, len(played_at), played_at)
        self.assertAlmostEqual(held, played_at[0], delta=0.02, msg="the music did not go on from where it was")


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for flag in ("--build-dir", "--source-dir"):
        parser.add_argument(flag, required=True)
    options, rest = parser.parse_known_args()
    ARGS.update(build=os.path.realpath(options.build_dir), source=os.path.realpath(options.source_dir))
    if wh.emscripten_missing():
        print("SKIPPED: the browser build of a game needs %s (scripts/setup.sh installs them)" %
              wh.emscripten_missing())
        sys.exit(77)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
