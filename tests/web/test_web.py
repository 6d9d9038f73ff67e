"""The demo's browser build in headless Chromium, driven over the DevTools
protocol: it is built (incrementally, in build-web/ beside the desktop tree),
served by the score server on 127.0.0.1, and played. The loading screen and
the start page show; held keys reach the level page and a game; an effect
and the music play; V stores a score and the answer reaches the log; F10
offers a screenshot; F4, or leaving the page, saves, and the saves survive a
reload. The example game plays and keeps its best score in the page too.

Skipped, with a line saying why, only when Emscripten, Chromium or
python3-websocket is missing (scripts/setup.sh installs them)."""
import base64
import contextlib
import glob
import os
import re
import shutil
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

import kelp_harness as kh
import web_harness as wh

SAVE = "/kelp/Save_550_Test Game.sav"
SETTINGS = "/kelp/Settings.sav"
KEPT = wh.KEPT
ANSWER = "OK\\r\\nScore 0\\r\\nRank "  # as the demo logs it: control bytes escaped

ARGS = {}

# Records what the page's OpenAL starts playing (source, queued buffers,
# frames in the first), and taps its output.
AUDIO_HOOK = """(function () {
    window.kelpPlays = [];
    var set = AL.setSourceState;
    AL.setSourceState = function (src, state) {
        if (state === 0x1012) window.kelpPlays.push([src.id, src.bufQueue.length, src.bufQueue[0] ? src.bufQueue[0].length : 0]);
        return set.apply(this, arguments);
    };
    var tap = AL.currentCtx.audioCtx.createAnalyser();
    tap.fftSize = 4096;
    AL.currentCtx.gain.connect(tap);
    window.kelpTap = tap;
    return true;
})()"""

# The output's level (RMS of the last 4096 samples), the audio clock, its
# state, and the OpenAL sources now playing with their queued buffers.
AUDIO_STATE = """(function () {
    var ctx = AL.currentCtx, data = new Float32Array(window.kelpTap.fftSize), sum = 0;
    window.kelpTap.getFloatTimeDomainData(data);
    for (var i = 0; i < data.length; i++) sum += data[i] * data[i];
    var playing = [];
    for (var id in ctx.sources) if (ctx.sources[id].state === 0x1012) playing.push([+id, ctx.sources[id].bufQueue.length]);
    return {level: Math.sqrt(sum / data.length), time: ctx.audioCtx.currentTime, state: ctx.audioCtx.state, playing: playing};
})()"""


# The page's display, driven: requestAnimationFrame is replaced by a timer,
# and once kelpDisplay(hz) is called each frame moves the page's clock
# (performance.now, which the game's clock reads) on by exactly 1000 / hz ms
# and comes as soon as the page is free, so the game sees a display of that
# rate however busy the machine is. Until then frames come every 16 ms on
# the real clock.
DRIVEN_DISPLAY = """(function () {
    var realNow = performance.now.bind(performance), drive = null, frames = 0;
    performance.now = function () { return drive ? drive.now : realNow(); };
    window.kelpDisplay = function (hz) { drive = {hz: hz, now: performance.now()}; };
    window.kelpFrames = function () { return frames; };
    window.requestAnimationFrame = function (callback) {
        return setTimeout(function () {
            if (drive) drive.now += 1000 / drive.hz;
            frames++;
            callback(performance.now());
        }, drive ? 0 : 16);
    };
})();"""


def ints(data):
    return struct.unpack("<%di" % (len(data) // 4), bytes(data[:len(data) // 4 * 4]))


def loading_colour(pixel):
    # The loading screen's clear colour, 40 0 80.
    return all(abs(a - b) <= 3 for a, b in zip(pixel, (40, 0, 80)))


def in_game(shot, box=None):
    # The demo scene's backdrop: blue over an even grey gradient.
    r, g, b = shot.mean(box)
    return b > g + 30 and abs(r - g) < 15


def orange(r, g, b):
    return r > 200 and 100 < g < 235 and b < 120


def start_page(shot, box):
    # Blue-green menus under the orange title art.
    r, g, b = shot.mean(box)
    x0, y0, x1, y1 = box
    top = (x0, y0, x1, (y0 + y1) // 2)
    return g > r + 8 and shot.count(orange, top) > 0.05 * (x1 - x0) * (top[3] - y0)


# Whether the page's music plays: a source with a queue of buffers.
MUSIC_PLAYING = """Object.keys(AL.currentCtx.sources).some(function (id) {
    var s = AL.currentCtx.sources[id];
    return s.state === 0x1012 && s.bufQueue.length > 1;
})"""

ENDED = "The game has ended. Press a key or tap to play again."

# The bytes of a file as the game's store in the browser holds it (null if
# the store or the file is missing), read apart from the game's own copy.
STORED = """new Promise(function (done) {
    var open = indexedDB.open(Module.kelpStore);
    open.onsuccess = function () {
        var db = open.result;
        if (!db.objectStoreNames.contains('FILE_DATA')) {
            db.close();
            return done(null);
        }
        var get = db.transaction('FILE_DATA').objectStore('FILE_DATA').get('%s');
        get.onsuccess = function () {
            db.close();
            done(get.result && get.result.contents ? Array.from(get.result.contents) : null);
        };
    };
    open.onerror = function () { done(null); };
})"""


class Canvas:
    """Where a point of the game's canvas is on the page, by the canvas
    rules: 800 units wide, or 512 on a portrait buffer, and as tall as the
    buffer's shape gives; on a buffer more than twice as tall as wide the
    top band of 32 units is outside the game's canvas (the left band on one
    more than twice as wide)."""

    def __init__(self, page):
        bw, bh, self.page_w, self.page_h = page.evaluate(
            "[Module.canvas.width, Module.canvas.height, innerWidth, innerHeight]")
        units = 512 if bh > bw else 800
        tall = units * bh / bw
        self.left = 32 if units > 2 * tall else 0
        self.top = 32 if tall > 2 * units else 0
        self.W, self.H = units - self.left, tall - self.top
        self.scale = self.page_w / units

    def at(self, x, y):
        return (x + self.left) * self.scale, (y + self.top) * self.scale


def keep_screen(page, name):
    """Saves what the page shows as name.png in $KELP_WEB_SCREENS, if set
    (the README's phone pictures come from there), at the page's CSS size."""
    folder = os.environ.get("KELP_WEB_SCREENS")
    if not folder:
        return
    w, h = page.evaluate("[innerWidth, innerHeight]")
    shot = page.call("Page.captureScreenshot", format="png",
                     clip={"x": 0, "y": 0, "width": w, "height": h, "scale": 1 / page.evaluate("devicePixelRatio")})
    with open(os.path.join(folder, name + ".png"), "wb") as f:
        f.write(base64.b64decode(shot["data"]))


def build_web():
    """Configures build-web/ for this desktop tree's assets when it is not,
    then builds it; returns the folder of the built pages."""
    src, web, assets = ARGS["source"], ARGS["web"], os.path.join(ARGS["build"], "bin", "Data", "550")
    log = os.path.join(ARGS["build"], "web-build.log")
    cache = os.path.join(web, "CMakeCache.txt")
    configured = False
    if os.path.exists(cache):
        with open(cache) as f:
            configured = ("KELP_ASSETS_DIR:PATH=%s\n" % assets) in f.read()
    with open(log, "w") as out:
        steps = [] if configured else [["emcmake", "cmake", "-S", src, "-B", web, "-DKELP_ASSETS_DIR=" + assets]]
        steps.append(["cmake", "--build", web, "-j2"])
        for step in steps:
            start = time.time()
            rc = subprocess.run(step, stdout=out, stderr=subprocess.STDOUT).returncode
            print("%s: %.0f s" % (" ".join(step[:2]), time.time() - start), flush=True)
            if rc != 0:
                out.flush()
                with open(log) as f:
                    raise AssertionError("the browser build failed (%s):\n%s" % (" ".join(step), f.read()[-4000:]))
    for name in ("web/index.html", "web/MyGame.js", "web/MyGame.wasm", "web/MyGame.data",
                 "web-test/index.html", "web-test/MyGame_test.js", "web-test/MyGame_test.wasm",
                 "hello-test/index.html", "hello-test/hello_kelp_test.wasm"):
        if not os.path.exists(os.path.join(web, name)):
            raise AssertionError("the browser build made no " + name)
    return web


class WebDemo(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.web = build_web()
        cls.tmp = tempfile.mkdtemp(prefix="kelp-web-")
        cls.db = os.path.join(cls.tmp, "scores.db")
        # The whole build-web/ folder: the published page is /web/, the test
        # build's /web-test/, and both send their scores to this origin.
        cls.server, cls.origin = cls.start_server(cls.db, "--web", cls.web)

    @classmethod
    def start_server(cls, db, *options):
        server = subprocess.Popen([os.path.join(ARGS["build"], "tools", "score_server"), "--address", "127.0.0.1",
                                   "--port", "0", "--db", db] + list(options),
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        m = re.search(r"listening on 127\.0\.0\.1:(\d+)", server.stdout.readline())
        if not m:
            server.kill()
            server.wait()
            raise AssertionError("a score server did not start")
        return server, "http://127.0.0.1:%s" % m.group(1)

    @classmethod
    def tearDownClass(cls):
        cls.server.terminate()
        cls.server.wait(30)
        cls.server.stdout.close()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def read_ints(self, page, path):
        return ints(page.evaluate('Array.from(FS.readFile("%s"))' % path))

    def test_play_sound_scores_and_a_save_that_survives_a_reload(self):
        downloads = os.path.join(self.tmp, "downloads")
        os.makedirs(downloads)
        with wh.Chromium(downloads=downloads) as chromium:
            page = chromium.page()
            try:
                self.play(page, downloads)
            except BaseException:
                print(page.log_tail(60))
                raise
            finally:
                page.close()

    def play(self, page, downloads):
        # Without the focus the game only polls and draws: the loading
        # screen holds still for its picture.
        page.call("Emulation.setFocusEmulationEnabled", enabled=False)
        page.open(self.origin + "/web-test/index.html?trace=1")
        self.assertTrue(page.wait_screen("loading"), "no loading screen")
        self.assertTrue(page.wait_log("Trace focus: 0"), "the page's focus never reached the game")
        # The page is the window: the canvas fills it.
        box = page.canvas_box()
        self.assertEqual((0, 0) + tuple(page.evaluate("[innerWidth, innerHeight]")), box)
        corner = (box[0] + 10, box[1] + 10)
        self.assertTrue(kh.wait_until(lambda: loading_colour(page.screenshot().pixel(*corner))),
                        "the loading screen's colour never showed: %s" % (page.screenshot().pixel(*corner),))
        self.assertEqual("loading", page.screen())
        # With it, the loader runs its 120 updates and the start page shows.
        page.call("Emulation.setFocusEmulationEnabled", enabled=True)
        self.assertTrue(page.wait_log("Trace focus: 1"))
        self.assertTrue(page.wait_screen("start"), "the start page never came")
        self.assertTrue(kh.wait_until(lambda: start_page(page.screenshot(), box)), "the start page never showed")
        self.assertTrue(page.wait_log(KEPT), "the launch's save was not kept")
        settings = self.read_ints(page, SETTINGS)
        plays = self.read_ints(page, SAVE)[0]
        user = re.search(r"User ID '([^']*)'", page.log_text()).group(1)

        # Start, then the level list's row: a game, with its sound.
        self.assertTrue(page.evaluate(AUDIO_HOOK))
        page.hold("z")
        self.assertTrue(page.wait_screen("level"))
        page.hold("z")
        self.assertTrue(page.wait_screen("game"))
        self.assertTrue(kh.wait_until(lambda: in_game(page.screenshot(), box)), "the demo scene never showed")
        # The menu's effects: one buffer each (98.wav: 13230 frames); the
        # music streams through a queue of buffers on a source of its own.
        plays_started = page.evaluate("window.kelpPlays")
        self.assertIn(13230, [frames for _, _, frames in plays_started], plays_started)
        first = page.evaluate(AUDIO_STATE)
        self.assertEqual("running", first["state"])
        self.assertTrue(kh.wait_until(lambda: any(n > 1 for _, n in page.evaluate(AUDIO_STATE)["playing"])),
                        "no music queue is playing: %s" % page.evaluate(AUDIO_STATE))
        self.assertTrue(kh.wait_until(lambda: page.evaluate(AUDIO_STATE)["level"] > 0.01),
                        "the page's output is silent: %s" % page.evaluate(AUDIO_STATE))
        self.assertGreater(page.evaluate(AUDIO_STATE)["time"], first["time"], "the audio clock stands still")

        # V: the test record goes to the page's server, is stored, and the
        # answer reaches the game's log. A page's request does not block the
        # game, which logs the last answer on each update while V is held:
        # V is held until one has come.
        self.assertTrue(page.hold("v", until=lambda: ANSWER in page.log_text()), "no answer reached the log")
        with contextlib.closing(sqlite3.connect(self.db)) as conn:
            rows = conn.execute("SELECT game, user_id, name, score FROM scores").fetchall()
        self.assertEqual([(550, "%d%d%d%d" % tuple(settings[24:28]), "Tam C++", 0)], rows)

        # F10: the screenshot is offered as a download, the scene in it.
        page.hold("F10")
        self.assertTrue(kh.wait_until(lambda: glob.glob(os.path.join(downloads, "Screenshot_550_*.png"))),
                        "no screenshot was downloaded")
        path = glob.glob(os.path.join(downloads, "Screenshot_550_*.png"))[0]
        self.assertTrue(kh.wait_until(lambda: self.png_complete(path)), "the screenshot never finished")
        with open(path, "rb") as f:
            shot = wh.Shot(f.read())
        self.assertEqual(tuple(page.evaluate("[Module.canvas.width, Module.canvas.height]")), (shot.w, shot.h))
        self.assertTrue(in_game(shot), "the screenshot is not the scene: mean %s" % shot.mean())

        # What a page cannot do is said once; full screen is the page's.
        page.hold("F9")
        self.assertTrue(page.wait_log("Wire frame (F9): not available in a browser"))
        fullscreen = "!!document.fullscreenElement"
        page.hold("F11")
        self.assertTrue(page.wait_log("Opened Fullscreen"))
        self.assertTrue(kh.wait_until(lambda: page.evaluate(fullscreen)), "no full screen")
        # Left with the browser's own means, the game knows: its next F11
        # asks again. F11 switches once a press and not again within a
        # second (a held key's repeats), so each press waits that out.
        page.evaluate("document.exitFullscreen()")
        self.assertTrue(kh.wait_until(lambda: not page.evaluate(fullscreen)), "full screen stays")
        time.sleep(1.1)
        page.hold("F11")
        self.assertTrue(page.wait_log("Opened Fullscreen", count=2), "the game missed the page leaving full screen")
        self.assertTrue(kh.wait_until(lambda: page.evaluate(fullscreen)), "no full screen the second time")
        time.sleep(1.1)
        page.hold("F11")
        self.assertTrue(page.wait_log("Opened Window", count=3))
        self.assertTrue(kh.wait_until(lambda: not page.evaluate(fullscreen)), "F11 did not leave full screen")
        self.assertEqual(tuple(page.evaluate("[innerWidth, innerHeight]")),
                         tuple(page.evaluate("[Module.canvas.width, Module.canvas.height]")))

        # F4 ends the game; what it saves reaches the browser's storage.
        self.assertIsNone(page.end_game())
        self.assertEqual(plays + 1, self.read_ints(page, SAVE)[0])

        # A reload reads them back: one more play, the same player.
        page.reload()
        self.assertTrue(page.wait_screen("start"), "the reloaded page never reached the start page")
        self.assertTrue(page.wait_log(KEPT), "the reloaded page's save was not kept")
        self.assertEqual(plays + 1, self.read_ints(page, SAVE)[0])
        self.assertIn("User ID '%s'" % user, page.log_text())
        for line in ("Reset User", "Clearing Scoreboard"):
            self.assertNotIn(line, page.log_texts())

    @staticmethod
    def png_complete(path):
        try:
            with open(path, "rb") as f:
                return f.read()[-8:] == b"IEND\xaeB`\x82"
        except OSError:
            return False

    def test_leaving_the_page_saves(self):
        with wh.Chromium() as chromium:
            page = chromium.page()
            try:
                # The published page (no trace) loads and shows its menus.
                page.open(self.origin + "/web/index.html")
                self.assertTrue(page.wait_log("Load Image : gfx"), "the published page never loaded")
                box = page.canvas_box()
                self.assertTrue(kh.wait_until(lambda: start_page(page.screenshot(), box)),
                                "the published page's start page never showed")

                page.open(self.origin + "/web-test/index.html?trace=1")
                self.assertTrue(page.wait_screen("start"))
                self.assertTrue(page.wait_log(KEPT))
                plays = self.read_ints(page, SAVE)[0]
                page.hold("z")
                self.assertTrue(page.wait_screen("level"))
                page.hold("z")
                self.assertTrue(page.wait_screen("game"))
                # The game counts its play when it starts and would save it at
                # its end; the page goes first.
                page.reload()
                self.assertTrue(page.wait_screen("start"))
                self.assertEqual(plays + 1, self.read_ints(page, SAVE)[0])
                # What the going page left in local storage was taken in once.
                self.assertIsNone(page.evaluate('localStorage.getItem(Module.kelpLeavingKey)'))

                # The site's data cleared while the game runs: the browser
                # closes the game's store and deletes it. The next save opens
                # the store anew and is kept there.
                self.assertTrue(page.wait_log(KEPT))
                page.call("Storage.clearDataForOrigin", origin=self.origin, storageTypes="all")
                self.assertIsNone(page.end_game())
                self.assertNotIn("Saves could not be kept", page.log_text())
                stored = page.evaluate(STORED % SAVE)
                self.assertIsNotNone(stored, "the browser's store holds no save")
                self.assertEqual(plays + 1, ints(stored)[0])
                # In this same Chromium, to spare starting another:
                self.check_display_rates(page)
            except BaseException:
                print(page.log_tail(60))
                raise
            finally:
                page.close()


    def check_display_rates(self, page):
        """The game's speed whatever the display's rate: the update rate the
        game measures is the desktop's 62.5 a second at 50, 60, 75, 120 and
        144 frames a second, with one render a frame at most."""
        script = page.call("Page.addScriptToEvaluateOnNewDocument", source=DRIVEN_DISPLAY)["identifier"]
        try:
            page.open(self.origin + "/web-test/index.html?trace=1")
            self.assertTrue(page.wait_screen("start"))
            seen = {}
            for hz in (50, 60, 75, 120, 144):
                page.evaluate("kelpDisplay(%d)" % hz)
                # Over two seconds of the display's frames: the rate counters'
                # last second is all at this rate.
                frames = page.evaluate("kelpFrames()") + int(2.2 * hz)
                self.assertTrue(kh.wait_until(lambda: page.evaluate("kelpFrames()") >= frames),
                                "the driven frames stopped at %d Hz" % hz)
                seen[hz] = (page.evaluate("Module._kelp_test_update_rate()"),
                            page.evaluate("Module._kelp_test_render_rate()"))
            for hz, (updates, renders) in seen.items():
                self.assertIn(updates, (62, 63), "updates a second at %d Hz: %s" % (hz, seen))
                self.assertLessEqual(abs(renders - min(hz, 62.5)), 1, "renders a second at %d Hz: %s" % (hz, seen))
        finally:
            page.call("Page.removeScriptToEvaluateOnNewDocument", identifier=script)

    def test_the_example_game_keeps_its_best(self):
        self.page_test(self.example)

    def example(self, page, chromium):
        # Any game on the framework: the example, looping through RunLoop.
        page.open(self.origin + "/hello-test/index.html?trace=1")
        self.assertTrue(page.wait_log("Load Wave blip to 1"), "the example never started")
        for _ in range(3):
            page.hold("z")
        self.assertIsNone(page.end_game())
        page.reload()
        self.assertTrue(page.wait_log("Load Wave blip to 1"))
        self.assertEqual(3, self.read_ints(page, "/kelp/hello.sav")[0])
        self.assertNotIn("OMGERRORZ", page.log_text())

        # Two games of one site keep their saves apart and take no
        # turns with each other: the demo starts in a second tab
        # beside the example, and neither sees the other's saves.
        demo = chromium.new_page()
        try:
            demo.open(self.origin + "/web-test/index.html?trace=1")
            self.assertTrue(demo.wait_screen("start"), "the demo waited for the example")
            self.assertTrue(demo.wait_log(KEPT))
            self.assertFalse(demo.evaluate('FS.analyzePath("/kelp/hello.sav").exists'))
            self.assertFalse(page.evaluate('FS.analyzePath("%s").exists' % SAVE))
        except BaseException:
            print(demo.log_tail(40))
            raise
        finally:
            demo.close()

        # Saves that an earlier build kept in the one store a site's
        # games shared are taken by a game whose own store is empty:
        # the example's saves are put there and its own store
        # removed, then a key starts it again.
        self.assertIsNone(page.end_game())
        message = "document.getElementById('message').textContent"
        self.assertTrue(kh.wait_until(lambda: page.evaluate(message) == ENDED), page.evaluate(message))
        page.evaluate("""(function () {
            Module.kelpStoreNow = '/kelp';
            FS.syncfs(false, function () {
                Module.kelpStoreNow = Module.kelpStore;
                IDBFS.dbs[Module.kelpStore].close();
                delete IDBFS.dbs[Module.kelpStore];
                indexedDB.deleteDatabase(Module.kelpStore).onsuccess = function () { window.kelpMoved = true; };
            });
        })()""")
        self.assertTrue(kh.wait_until(lambda: page.evaluate("window.kelpMoved === true")))
        loads = page.log_text().count("Load Wave blip to 1")
        page.key("space", True)
        page.key("space", False)
        self.assertTrue(page.wait_log("Load Wave blip to 1", count=loads + 1), "a key did not start it again")
        self.assertIn("Saves taken from the store that earlier builds shared", page.log_text())
        self.assertEqual(3, self.read_ints(page, "/kelp/hello.sav")[0])
        # They go on in the game's own store from its next save.
        self.assertIsNone(page.end_game())
        page.reload()
        self.assertTrue(page.wait_log("Load Wave blip to 1"))
        self.assertEqual(3, self.read_ints(page, "/kelp/hello.sav")[0])
        self.assertTrue(page.evaluate("!!IDBFS.dbs[Module.kelpStore]"))

    def test_scores_to_another_origin_and_a_server_that_never_answers(self):
        # A score server of its own origin, which lets any origin read its
        # answers (a loopback address), and one that never answers at all.
        other_db = os.path.join(self.tmp, "other.db")
        other, other_origin = self.start_server(other_db)
        silent = socket.socket()
        silent.bind(("127.0.0.1", 0))
        silent.listen(8)
        held = []
        threading.Thread(target=lambda: [held.append(silent.accept()) for _ in range(8)], daemon=True).start()
        try:
            with wh.Chromium() as chromium:
                page = chromium.page()
                try:
                    page.open(self.origin + "/web-test/index.html?trace=1&scores=" + other_origin)
                    self.assertTrue(page.wait_screen("start"))
                    page.hold("z")
                    self.assertTrue(page.wait_screen("level"))
                    page.hold("z")
                    self.assertTrue(page.wait_screen("game"))
                    self.assertTrue(page.hold("v", until=lambda: ANSWER in page.log_text()),
                                    "the other origin's answer was not read")
                    with contextlib.closing(sqlite3.connect(other_db)) as conn:
                        self.assertGreater(conn.execute("SELECT COUNT(*) FROM scores").fetchone()[0], 0)
                    # No answer: the request is given up after its three seconds.
                    # V starts a request only when none is under way, and the
                    # last update V was held on may have started one: wait for
                    # it to end before pointing the page at the silent server.
                    self.assertTrue(kh.wait_until(lambda: page.evaluate("!Module.kelpRequest")),
                                    "the last request to the other origin never ended")
                    page.evaluate("Module.scoreOrigin = 'http://127.0.0.1:%d'" % silent.getsockname()[1])
                    page.hold("v")
                    self.assertTrue(page.wait_log("Web: no answer from localhost within 3 seconds"),
                                    "a request without an answer was not given up")
                    self.assertTrue(held, "the silent server saw no request")
                except BaseException:
                    print(page.log_tail(60))
                    raise
                finally:
                    page.close()
        finally:
            silent.close()
            for conn, _ in held:
                conn.close()
            other.terminate()
            other.wait(30)
            other.stdout.close()

    # ---- The page as players meet it ---------------------------------------------

    def page_test(self, play, chromium=None):
        """Runs play(page, chromium) in a tab of a fresh Chromium; its log is
        printed if it fails."""
        with wh.Chromium() as chromium:
            page = chromium.page()
            try:
                play(page, chromium)
            except BaseException:
                print(page.log_tail(60))
                raise
            finally:
                page.close()

    def test_a_phone_played_through_by_touch(self):
        self.page_test(self.phone)

    def phone(self, page, chromium):
        # A phone: 390 x 844 CSS pixels at scale 3, touch only. The music is
        # held on its way: the start page must not wait for it.
        page.device(390, 844, scale=3, mobile=True, touch=True)
        page.intercept("*Internet.ogg")
        page.open(self.origin + "/web-test/index.html?trace=1")
        music = page.held_request("Internet.ogg")
        self.assertTrue(page.wait_screen("start"), "the start page never came")
        # The page is the window: a portrait canvas at the screen's pixels.
        self.assertEqual([0, 0, 390, 844], list(page.canvas_box()))
        # Its buffer at two pixels to a CSS pixel, the page's pixel budget,
        # not the screen's three.
        self.assertEqual([780, 1688], page.evaluate("[Module.canvas.width, Module.canvas.height]"))
        c = Canvas(page)
        self.assertEqual(512, c.W)
        keep_screen(page, "phone-start")

        # The exit item ends the game (a tap highlights it, a second chooses
        # it); a tap on the screen that follows starts it again, in this page.
        page.evaluate("window.kelpSamePage = true")
        exit_item = c.at(max(128, c.W / 2 - 160), c.H - 96)
        page.tap(*exit_item)
        page.touch("touchStart", [exit_item + (0,)])
        self.assertTrue(page.wait_log("Farewell happy gamer"), "the exit item did not end the game")
        page.touch("touchEnd", [])
        message = "document.getElementById('message').textContent"
        self.assertTrue(kh.wait_until(lambda: page.evaluate(message) == ENDED), page.evaluate(message))
        page.touch("touchStart", [(195, 400, 0)])
        page.touch("touchEnd", [])
        self.assertTrue(page.wait_log("Trace screen: loading", count=2), "a tap did not start the game again")
        self.assertTrue(page.wait_screen("start"))
        self.assertTrue(page.evaluate("window.kelpSamePage === true"), "the page was reloaded")

        # Ten fingers: nine on the empty middle of the page, the tenth on
        # Start, which it highlights (the exit item was), then chooses.
        resting = [(20 + 40 * i, c.at(0, c.H * 0.55)[1], i) for i in range(9)]
        start = c.at(c.W / 2, c.H - 96)
        page.tap(*start, others=resting)
        self.assertEqual("start", page.screen())
        page.tap(*start, others=resting)
        self.assertTrue(page.wait_screen("level"), "ten fingers: the tenth did not reach the level page")

        # A tap on the highlighted row starts a game (while the list still
        # slides into place a tap may highlight a row first); its music
        # waits for its file.
        row = c.at(228, c.H - 180)
        self.assertTrue(kh.wait_until(lambda: page.tap(*row) or page.screen() != "level"),
                        "taps on the level's rows started no game")
        self.assertTrue(page.wait_screen("game"), "a tap on the level's row started no game")
        self.assertFalse(page.evaluate(MUSIC_PLAYING))
        page.let_through(music)
        self.assertTrue(kh.wait_until(lambda: page.evaluate(MUSIC_PLAYING)), "the music never started once it came")
        self.assertNotIn("Error Opening Ogg", page.log_texts())
        keep_screen(page, "phone-game")

        # The pause button, and Quit in the pause menu: the game ends.
        page.tap(*c.at(32, 32))
        self.assertTrue(page.wait_screen("pause"), "the pause button did not pause")
        page.tap(*c.at(c.W / 4, c.H - 128))
        self.assertTrue(page.wait_screen(("game banner", "leaving game", "level banner", "level")),
                        "Quit in the pause menu did not end the game")

    def test_a_tablet_chooses_full_screen_by_touch(self):
        self.page_test(self.tablet)

    def tablet(self, page, chromium):
        # A tablet on its side: 1024 x 768 CSS pixels at scale 2, touch only.
        page.device(1024, 768, scale=2, mobile=True, touch=True)
        canvas = "[Module.canvas.width, Module.canvas.height]"
        # A game that asks for its screen's every pixel has them.
        page.open(self.origin + "/web-test/index.html?trace=1&pixelratio=Infinity&pixels=Infinity")
        self.assertTrue(page.wait_screen("loading"))
        self.assertTrue(kh.wait_until(lambda: page.evaluate(canvas) == [2048, 1536]), page.evaluate(canvas))
        # Otherwise the buffer keeps within 2.5 million pixels, in the
        # canvas's shape.
        page.open(self.origin + "/web-test/index.html?trace=1")
        self.assertTrue(page.wait_screen("start"))
        w, h = page.evaluate(canvas)
        self.assertLessEqual(w * h, 2500000)
        self.assertGreater(w * h, 2400000)
        self.assertAlmostEqual(4 / 3, w / h, delta=0.002)

        # Options (a tap highlights it, a second chooses it), then the
        # Fullscreen row: a tap highlights it and a second switches. The
        # game acts on the finger going down; the browser grants full screen
        # only within an action of the player's, such as the finger lifting.
        # The last taps' grant has lapsed before the deciding tap.
        c = Canvas(page)
        for _ in range(2):
            page.tap(*c.at(c.W - 52, c.H - 96))
        self.assertTrue(page.wait_screen("options"), "taps on Options did not open them")
        row = c.at(c.W / 2, 440)    # the row's top at 434 units: Back, Sound, two rows, Screen above
        page.tap(*row)
        self.assertTrue(kh.wait_until(lambda: not page.evaluate("navigator.userActivation.isActive")))
        page.tap(*row)
        self.assertTrue(page.wait_log("Opened Fullscreen"), "the tap did not switch")
        self.assertTrue(kh.wait_until(lambda: page.evaluate("!!document.fullscreenElement")),
                        "full screen chosen by touch was refused")
        self.assertNotIn("Full screen: the browser refused", page.log_text())

    def test_a_sharp_screen_full_screen_a_failed_download_keys_by_place_and_escape(self):
        self.page_test(self.sharp_screen)

    def sharp_screen(self, page, chromium):
        page.device(640, 400, scale=2)
        page.call("Network.enable")
        # The data pack's first download fails: a message says so, with a
        # retry, and nothing is left half done. The keyboard reaches Retry:
        # Tab, then space.
        page.intercept("*/MyGame_test.data")
        page.open(self.origin + "/web-test/index.html?trace=1")
        page.answer(page.held_request("MyGame_test.data"), 404, b"Not Found")
        message = "document.getElementById('message').textContent"
        retry = "!document.getElementById('retry').hidden"
        self.assertTrue(kh.wait_until(lambda: page.evaluate(retry)), "no retry offered")
        self.assertIn("could not be downloaded", page.evaluate(message))
        self.assertIn("404", page.evaluate(message))
        self.assertEqual([], page.errors)
        page.key("Tab", True)
        page.key("Tab", False)
        self.assertEqual("retry", page.evaluate("document.activeElement.id"), "Tab did not reach Retry")
        page.key("space", True)
        page.key("space", False)
        page.let_through(page.held_request("MyGame_test.data"))
        self.assertTrue(page.wait_screen("start"), "the retried download never led to the start page")
        self.assertTrue(page.evaluate("document.getElementById('screen').hidden"))

        # Keys go by their place on the keyboard, as on the desktop: the
        # keys an AZERTY layout has at W's, A's, Q's and the semicolon's
        # places type z, q, a and m, and are W, A, Q and semicolon to the
        # game (W moves up, Z fires).
        for key, code, number, glfw in (("z", "KeyW", 90, 87), ("q", "KeyA", 81, 65), ("a", "KeyQ", 65, 81),
                                        ("m", "Semicolon", 77, 59)):
            since = len(page.key_states())
            page.dom_key(key, code, number, True)
            try:
                self.assertTrue(kh.wait_until(lambda: any(page.key_states()[since:]), poll=0.02),
                                "the game never read %s (at %s) held down" % (key, code))
                held = set().union(*page.key_states()[since:])
            finally:
                page.dom_key(key, code, number, False)
            self.assertEqual({glfw}, held, "%s typed at %s's place" % (key, code))
            self.assertTrue(kh.wait_until(lambda: not page.key_states()[-1], poll=0.02))

        # Device scale 2: the canvas's buffer is twice its CSS size.
        canvas = "[Module.canvas.width, Module.canvas.height]"
        self.assertEqual([0, 0, 640, 400], list(page.canvas_box()))
        self.assertEqual([1280, 800], page.evaluate(canvas))
        # Quiet: no console errors but the failed download's (the GL
        # emulation's notes are not errors), and an icon of the page's own.
        errors = [text for kind, text, _ in page.console if kind == "error"]
        self.assertEqual(1, len(errors), errors)
        self.assertIn("could not be downloaded", errors[0])
        with page.lock:
            urls = [url for url, _ in page.responses.values()]
        self.assertFalse([u for u in urls if u.endswith("favicon.ico")], urls)

        # Full screen on a screen of 1920 x 1080 pixels, left by F11 or by
        # the browser's own Escape: the page gets its size back, and the
        # canvas with it. Headless Chromium does not resize a full-screen
        # page, so the test gives it the screen's size while it is full
        # screen, as a browser does.
        page.device(640, 400, scale=2, screen=(960, 540))
        full = "!!document.fullscreenElement"
        unscrolled = "[document.documentElement.scrollWidth, document.documentElement.scrollHeight]"
        for leave in ("F11", "Escape"):
            page.hold("F11")
            self.assertTrue(kh.wait_until(lambda: page.evaluate(full)), "F11 gave no full screen")
            page.device(960, 540, scale=2, screen=(960, 540))
            self.assertTrue(kh.wait_until(lambda: page.evaluate(canvas) == [1920, 1080]),
                            "full screen: %s" % page.evaluate(canvas))
            time.sleep(1.1)   # F11 switches once a press, not again within a second
            if leave == "F11":
                page.hold("F11")
            else:
                page.evaluate("document.exitFullscreen()")
            self.assertTrue(kh.wait_until(lambda: not page.evaluate(full)), "full screen stays")
            page.device(640, 400, scale=2, screen=(960, 540))
            self.assertTrue(kh.wait_until(lambda: page.evaluate(canvas) == [1280, 800]),
                            "after full screen left by %s: %s" % (leave, page.evaluate(canvas)))
            self.assertEqual([640, 400], page.evaluate(unscrolled))
            time.sleep(1.1)

        # Escape on the start page ends the game, in a page as on the
        # desktop; a key starts it again, in the same page.
        page.evaluate("window.kelpSamePage = true")
        kept = page.log_text().count(KEPT)
        since = len(page.key_states())
        page.key("Escape", True)
        try:
            self.assertTrue(kh.wait_until(lambda: any(256 in k for k in page.key_states()[since:])))
        finally:
            page.key("Escape", False)
        self.assertTrue(page.wait_log("Farewell happy gamer"), "Escape on the start page did not end the game")
        self.assertTrue(page.wait_log(KEPT, count=kept + 1), "the last save was not kept")
        self.assertTrue(kh.wait_until(lambda: page.evaluate(message) == ENDED), page.evaluate(message))
        page.key("space", True)
        page.key("space", False)
        self.assertTrue(page.wait_log("Trace screen: loading", count=2), "a key did not start the game again")
        self.assertTrue(page.wait_screen("start"))
        self.assertTrue(page.evaluate("window.kelpSamePage === true"), "the page was reloaded")
        self.assertEqual([], page.errors)

    def test_a_download_cut_short_or_changed_is_a_failed_download(self):
        self.page_test(self.cut_downloads)

    def cut_downloads(self, page, chromium):
        # A file that comes whole-looking (status 200, its length as sent)
        # but is not what the build wrote, cut short on its way or changed:
        # the page says the download failed and offers Retry, and no game
        # starts on it.
        message = "document.getElementById('message').textContent"
        retry = "!document.getElementById('retry').hidden"
        for name, how in (("MyGame_test.data", "cut"), ("MyGame_test.data", "changed"), ("MyGame_test.wasm", "cut")):
            with open(os.path.join(self.web, "web-test", name), "rb") as f:
                whole = f.read()
            body = whole[:len(whole) * 2 // 3] if how == "cut" else whole[:100] + bytes([whole[100] ^ 1]) + whole[101:]
            page.intercept("*/" + name)
            page.open(self.origin + "/web-test/index.html?trace=1")
            page.answer(page.held_request(name), 200, body, {"Content-Length": len(body)})
            self.assertTrue(kh.wait_until(lambda: page.evaluate(retry) or page.screen()))
            self.assertTrue(page.evaluate(retry), "%s %s: no retry offered: %r, screen %s" % (
                name, how, page.evaluate(message), page.screen()))
            self.assertIn("could not be downloaded (%s:" % name, page.evaluate(message))
            self.assertIsNone(page.screen(), "%s %s: a game started" % (name, how))
        # Retry fetches it anew and the game starts.
        page.evaluate("document.getElementById('retry').click()")
        page.let_through(page.held_request(name))
        self.assertTrue(page.wait_screen("start"), "the retried download never led to the start page")

    def test_one_game_at_a_time_across_tabs(self):
        self.page_test(self.tabs)

    def tabs(self, a, chromium):
        url = self.origin + "/web-test/index.html?trace=1"
        a.open(url)
        self.assertTrue(a.wait_screen("start"))
        self.assertTrue(a.wait_log(KEPT))
        plays = self.read_ints(a, SAVE)[0]

        # A second tab is told that the game is open in another tab, and
        # starts nothing while it is.
        b = chromium.new_page()
        try:
            b.open(url)
            message = "(document.getElementById('message') || {}).textContent"
            self.assertTrue(kh.wait_until(lambda: "open in another tab" in (b.evaluate(message) or "")),
                            "the second tab did not say the game is open elsewhere")
            self.assertIsNone(b.screen())
            # A goes: its saves are left as the going page's copy, and B's
            # game starts from them, plays once and quits.
            chromium.close_page(a)
            self.assertTrue(b.wait_screen("start"), "the second tab's game never started")
            self.assertTrue(b.wait_log(KEPT))
            older = b.evaluate('btoa(String.fromCharCode.apply(null, FS.readFile("%s")))' % SAVE)
            self.assertEqual(plays, self.read_ints(b, SAVE)[0])
            b.hold("z")
            self.assertTrue(b.wait_screen("level"))
            b.hold("z")
            self.assertTrue(b.wait_screen("game"))
            self.assertIsNone(b.end_game())
            self.assertEqual(plays + 1, self.read_ints(b, SAVE)[0])
            # A copy left by a page that went earlier, with the play count
            # before B's game, is older than the storage's.
            b.evaluate('localStorage.setItem(Module.kelpLeavingKey, JSON.stringify({stamp: 1, files: '
                       '{"%s": {data: "%s", time: 1}}}))' % (SAVE, older))

            # A third tab starts from B's saves.
            c = chromium.new_page()
            try:
                c.open(url)
                self.assertTrue(c.wait_screen("start"), "the third tab's game never started")
                self.assertEqual(plays + 1, self.read_ints(c, SAVE)[0])
                self.assertIsNone(c.evaluate('localStorage.getItem(Module.kelpLeavingKey)'))
                chromium.close_page(c)
            except BaseException:
                print(c.log_tail(40))
                c.close()
                raise
        except BaseException:
            print(b.log_tail(40))
            raise
        finally:
            b.close()

        # Without Web Locks (a page served over plain HTTP from elsewhere)
        # the tabs take turns too. A second tab opened while the first plays
        # waits, even while the first is too busy to answer (its script
        # stopped); when the first goes, the second is told once and starts.
        no_locks = "Object.defineProperty(navigator, 'locks', {value: undefined});"
        d, e, f = chromium.new_page(), chromium.new_page(), None
        try:
            for tab in (d, e):
                tab.call("Page.addScriptToEvaluateOnNewDocument", source=no_locks)
            d.open(url)
            self.assertTrue(d.wait_screen("start"))
            d.pause()
            try:
                e.open(url)
                self.assertTrue(kh.wait_until(lambda: "open in another tab" in (e.evaluate(message) or "")
                                              or e.screen() is not None),
                                "the second tab neither waited nor started")
                self.assertIn("open in another tab", e.evaluate(message),
                              "without Web Locks a second tab played beside a busy first")
                self.assertTrue(e.evaluate("!navigator.locks && !!Module.kelpChannel"))
            finally:
                d.resume()
            e.evaluate("""(function () {
                window.kelpEnded = 0;
                new BroadcastChannel('kelp-game:' + Module.kelpStore).onmessage = function (m) {
                    if (m.data && m.data.kind === 'ended') window.kelpEnded++;
                };
            })()""")
            self.assertIsNone(e.screen())
            chromium.close_page(d)
            self.assertTrue(e.wait_screen("start"), "the waiting tab's game never started")
            self.assertEqual(1, e.evaluate("window.kelpEnded"), "the going tab's end was not said once")

            # A tab that went without a word (its claim left behind) holds a
            # new tab up only until its claim has gone unanswered for 10 s.
            e.evaluate("localStorage.setItem('kelp-turn ' + Module.kelpStore, JSON.stringify({tab: 'gone'}))")
            chromium.close_page(e)
            f = chromium.new_page()
            f.call("Page.addScriptToEvaluateOnNewDocument", source=no_locks)
            f.open(url)
            self.assertTrue(kh.wait_until(lambda: "open in another tab" in (f.evaluate(message) or "")
                                          or f.screen() is not None))
            self.assertIn("open in another tab", f.evaluate(message))
            self.assertTrue(f.wait_screen("start"), "a claim left behind held the game up for good")
            self.assertIn("A claim to the turn went unanswered for 10 s: this tab takes it", f.log_text())
        finally:
            for tab in (d, e, f):
                if tab:
                    tab.close()

    def test_score_answers_that_are_not_whole_and_a_server_that_is_down(self):
        # A server of its own for the page's requests, answering as it is
        # told: an answer broken off after "Rank 1", one in chunks, a
        # redirect; then nothing listens there at all.
        odd = OddScoreServer()
        try:
            self.page_test(lambda page, chromium: self.odd_answers(page, odd))
        finally:
            odd.close()

    def odd_answers(self, page, odd):
        page.open(self.origin + "/web-test/index.html?trace=1&scores=http://127.0.0.1:%d" % odd.port)
        self.assertTrue(page.wait_screen("start"))
        page.hold("z")
        self.assertTrue(page.wait_screen("level"))
        page.hold("z")
        self.assertTrue(page.wait_screen("game"))
        for mode, line in (("cut", "Web: answer from localhost was cut off before its end; not used"),
                           ("chunked", "OK\\r\\nRank 12 of 40\\r\\n"),
                           ("redirect", "Web: answer from localhost is a redirect")):
            odd.mode = mode
            self.assertTrue(page.hold("v", until=lambda: line in page.log_text()),
                            "%s: the log never said %r" % (mode, line))
            self.assertTrue(kh.wait_until(lambda: page.evaluate("!Module.kelpRequest")))
        self.assertNotIn("OK\\r\\nRank 1", page.log_texts(), "a cut answer was shown")
        self.assertEqual([], odd.elsewhere, "the redirect was followed")
        # Down: the game asks on every update while V is held, but after a
        # failed request the next waits, 0.5 s, then twice as long each time
        # up to 4 s; one request at a time. Each refused request is one
        # network error on the console and nothing else is; the log says so
        # once a second at most.
        page.call("Log.enable")
        page.evaluate("""(function () {
            var fetch = window.fetch, seen = window.kelpFetches = {starts: [], now: 0, most: 0};
            window.fetch = function (url) {
                if (!/Scores\.php/.test(url)) return fetch.apply(this, arguments);
                seen.starts.push(performance.now());
                seen.most = Math.max(seen.most, ++seen.now);
                var done = function () { seen.now--; };
                var asked = fetch.apply(this, arguments);
                asked.then(done, done);
                return asked;
            };
        })()""")
        with page.lock:
            entries = len(page.entries)
        odd.close()
        self.assertTrue(page.hold("v", until=lambda: len(page.evaluate("kelpFetches.starts")) >= 5),
                        "the game stopped asking")
        seen = page.evaluate("kelpFetches")
        gaps = [b - a for a, b in zip(seen["starts"], seen["starts"][1:])]
        print("server down: requests %s ms apart" % [round(g) for g in gaps], flush=True)
        for i, gap in enumerate(gaps):
            self.assertGreaterEqual(gap, min(500 * 2 ** i, 4000) - 1, "requests %s ms apart" % gaps)
        self.assertEqual(1, seen["most"])
        with page.lock:
            errors = [e for e in page.entries[entries:] if e[1] == "error"]
        self.assertLessEqual(len(errors), len(seen["starts"]), errors)
        self.assertFalse([t for _, _, t in errors if "ERR_CONNECTION_REFUSED" not in t], errors)
        self.assertFalse([t for kind, t, _ in page.console if kind == "error"])
        lines = [t for t in page.log() if t.startswith("Could not connect")]
        self.assertTrue(any("failed requests in" in t for t in lines), lines)
        # A server that answers again is asked within the longest wait, and
        # its answer clears the wait.
        page.evaluate("Module.scoreOrigin = %r" % self.origin)
        self.assertTrue(page.hold("v", until=lambda: ANSWER in page.log_text()), "no answer once the server was up")


class OddScoreServer:
    """Answers the page's score requests as `mode` says; any other path is
    noted in `elsewhere` (where a redirect would have led)."""
    BLOCK = b"[-\r\nData-]OK\r\nRank 12 of 40\r\n[-\r\nEnd-]"

    def __init__(self):
        self.mode = "cut"
        self.elsewhere = []
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        threading.Thread(target=self.serve, daemon=True).start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            threading.Thread(target=self.answer, args=(conn,), daemon=True).start()

    def answer(self, conn):
        with conn:
            conn.settimeout(10)
            head = b""
            try:
                while b"\r\n\r\n" not in head:
                    part = conn.recv(4096)
                    if not part:
                        return
                    head += part
            except OSError:
                return
            path = head.split(b" ")[1].decode("latin-1")
            cors = b"Access-Control-Allow-Origin: *\r\n"
            if not path.startswith("/Scores.php"):
                self.elsewhere.append(path)
                conn.sendall(b"HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n" + cors + b"\r\n")
            elif self.mode == "cut":
                conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n" % len(self.BLOCK) + cors + b"\r\n" +
                             self.BLOCK[:self.BLOCK.index(b"2 of")])
                time.sleep(0.2)
                # Broken off: a reset, not an end.
                conn.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            elif self.mode == "chunked":
                parts = [self.BLOCK[:7], self.BLOCK[7:20], self.BLOCK[20:]]
                body = b"".join(b"%x\r\n%s\r\n" % (len(p), p) for p in parts) + b"0\r\n\r\n"
                conn.sendall(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n" + cors + b"\r\n" + body)
            else:
                conn.sendall(b"HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:%d/elsewhere\r\nContent-Length: 0\r\n"
                             % self.port + cors + b"\r\n")

    def close(self):
        self.sock.close()


def main():
    argv = list(sys.argv)
    for flag, key in (("--build-dir", "build"), ("--source-dir", "source"), ("--web-dir", "web")):
        i = argv.index(flag)
        ARGS[key] = os.path.abspath(argv[i + 1])
        del argv[i:i + 2]
    missing = wh.emscripten_missing()
    if missing:
        print("SKIPPED: the browser test needs %s (scripts/setup.sh installs them)" % missing)
        sys.exit(77)
    unittest.main(argv=argv, verbosity=2)


if __name__ == "__main__":
    main()
