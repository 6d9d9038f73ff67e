"""The demo game played through its menus with real key presses: a game
starts and is counted, firing throws particles and scores, the test score
record reaches the score server, Quit shows the end banner, and the final
score lands in the save file's boards."""
import contextlib
import os
import re
import socket
import sqlite3
import struct
import subprocess
import tempfile
import threading
import time
import unittest

import kelp_harness as kh

KEYWORD = "Sample keyword text"
GAME = 550
SAVE_NAME = "Save_550_Test Game.sav"
RECORD_TAIL = "{Tam C++{0550{0001{0000{10{1{15{2{20{3{KELP{"
# The server's answer as the game logs it, line breaks escaped.
ANSWER = "> OK\\r\\nScore 0\\r\\nRank 1 of 1\\r\\n1. Tam C++ 0\\r\\n"

ESCAPES = {"A": "&", "B": "\\", "C": "'", "D": "`", "E": '"', "F": "/", "G": ">", "H": "#", "I": "^",
           "J": "{", "K": "}", "L": "<", "M": "|", "P": "%", "Q": "?", "R": "+", "S": "$", "T": ",",
           "U": " "}


def unescape(value):
    return re.sub(r"\*!([A-U])!\*", lambda m: ESCAPES.get(m.group(1), m.group(0)), value)


def unscramble(text, keyword=KEYWORD, game=GAME):
    """The inverse of the game's scramble, worked out from its definition."""
    table = [(i + ord(keyword[i % len(keyword)]) + game) % 92 for i in range(64)]
    out, r = [], 0
    for i, ch in enumerate(text):
        r = (table[i % 64] + r) % 92
        out.append(chr((ord(ch) - 32 - r) % 92 + 32))
    return "".join(out)


def ints(path):
    data = open(path, "rb").read()
    return struct.unpack("<%di" % (len(data) // 4), data[:len(data) // 4 * 4])


class RecordingProxy:
    """Passes each HTTP exchange to the score server and keeps the request."""

    def __init__(self, server_port):
        self.server_port = server_port
        self.requests = []
        self.sock = socket.socket()
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(8)
        self.port = self.sock.getsockname()[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while True:
            try:
                client, _ = self.sock.accept()
            except OSError:
                return
            with client:
                client.settimeout(5)
                data = b""
                while b"\r\n\r\n" not in data:
                    chunk = client.recv(4096)
                    if not chunk:
                        break
                    data += chunk
                self.requests.append(data.decode("latin-1"))
                with socket.create_connection(("127.0.0.1", self.server_port), timeout=5) as up:
                    up.sendall(data)
                    while True:
                        chunk = up.recv(4096)
                        if not chunk:
                            break
                        client.sendall(chunk)

    def close(self):
        self.sock.close()


class Screen:
    """The demo window's pixels, read back from the X server."""

    def __init__(self, demo):
        self.demo, self.env = demo, demo.env

    def grab(self):
        # Looked up each time: the start-up may replace the first window.
        geo = subprocess.run(["xdotool", "getwindowgeometry", self.demo.window()], env=self.env,
                             capture_output=True, text=True, timeout=20).stdout
        pos, size = re.search(r"Position: (\d+),(\d+)", geo), re.search(r"Geometry: (\d+)x(\d+)", geo)
        if not pos or not size:
            raise AssertionError("no geometry for the demo window: " + repr(geo))
        x, y = map(int, pos.groups())
        w, h = map(int, size.groups())
        raw = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                              "-depth", "8", "rgb:-"], env=self.env, capture_output=True, check=True, timeout=20).stdout
        if len(raw) != w * h * 3:
            raise AssertionError("screen grab of %d bytes for %dx%d" % (len(raw), w, h))
        return w, h, raw

    @staticmethod
    def mean(shot):
        w, h, raw = shot
        n = w * h
        return [sum(raw[c::3]) / n for c in range(3)]

    @staticmethod
    def count(shot, test, box=None):
        w, h, raw = shot
        x0, y0, x1, y1 = box or (0, 0, w, h)
        n = 0
        for y in range(max(0, y0), min(h, y1)):
            row = raw[3 * (y * w + x0):3 * (y * w + x1)]
            for i in range(0, len(row), 3):
                if test(row[i], row[i + 1], row[i + 2]):
                    n += 1
        return n

    def wait(self, predicate, timeout, what):
        deadline = time.time() + timeout * kh.TIME_SCALE
        while True:
            shot = self.grab()
            if predicate(shot):
                return
            if time.time() > deadline:
                break
            time.sleep(0.2)
        mean = ", ".join("%.0f" % c for c in Screen.mean(shot))
        raise AssertionError("the screen never showed %s (mean colour %s)" % (what, mean))


def menu(shot):
    # The menus are blue-green; the loading screen before them is purple
    # and the window black before its first frame.
    r, g, b = Screen.mean(shot)
    return g > r + 8


def in_game(shot):
    # The demo scene's backdrop: blue over an even grey gradient.
    r, g, b = Screen.mean(shot)
    return b > g + 30 and abs(r - g) < 15


def colourful(r, g, b):
    return max(r, g, b) - min(r, g, b) > 100


def white(r, g, b):
    return r > 200 and g > 200 and b > 200


def banner_words(shot):
    # "Quit" and "Game" in white at 0.4 and 0.6 of the width, 24 above and
    # below the centre.
    w, h, _ = shot
    boxes = [(int(w * 0.4) - 70, h // 2 - 46, int(w * 0.4) + 70, h // 2 - 2),
             (int(w * 0.6) - 70, h // 2 + 2, int(w * 0.6) + 70, h // 2 + 46)]
    return all(Screen.count(shot, white, b) > 300 for b in boxes)


class DemoGame(unittest.TestCase):
    def setUp(self):
        self.server_bin = os.path.join(kh.BUILD_DIR, "tools", "score_server")
        self.assertTrue(os.path.exists(self.server_bin), "score_server is not built")

    def start_server(self, tmp):
        # Port 0: the server takes a free port and names it on its first line.
        db = os.path.join(tmp, "scores.db")
        server = subprocess.Popen([self.server_bin, "--address", "127.0.0.1", "--port", "0", "--db", db],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = server.stdout.readline()
        m = re.search(r"listening on 127\.0\.0\.1:(\d+)", line)
        if not m:
            server.kill()
            server.wait()
            self.fail("score server did not start: " + repr(line))
        return server, int(m.group(1)), db

    def test_play_submit_and_quit(self):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            server, server_port, db = self.start_server(tmp)
            proxy = RecordingProxy(server_port)
            env = kh.wave_audio_env(x.env(), os.path.join(tmp, "out.wav"), tmp)
            env["KELP_SCORE_PORT"] = str(proxy.port)
            demo = kh.Demo(kh.BIN_DIR, env, exe="MyGame_test")
            try:
                demo.start()
                screen = Screen(demo)
                save_path = os.path.join(demo.root, SAVE_NAME)

                # Loader, then the start page: Start, then the level list,
                # whose highlighted row on a fresh install is "Normal".
                self.assertTrue(demo.wait_screen("start"), demo.log()[-2000:])
                screen.wait(menu, 60, "the menu")
                demo.hold("z")
                self.assertTrue(demo.wait_screen("level"))
                demo.hold("z")
                self.assertTrue(demo.wait_screen("game"))
                screen.wait(in_game, 60, "the demo scene")

                # Fire: particles fill the screen and points come in (now
                # and then a spark carries points; they count once it lands).
                quiet = Screen.count(screen.grab(), colourful)
                demo.keydown("z")
                try:
                    screen.wait(lambda shot: Screen.count(shot, colourful) > quiet + 2500, 60,
                                "particles from firing")
                    self.assertTrue(demo.wait_log("Trace score: "), "no points came in")
                finally:
                    demo.keyup("z")

                # The test record goes out on every update while V is held:
                # held for at least a second, and until several have gone out.
                demo.keydown("v")
                try:
                    held = time.time() + 1.0
                    self.assertTrue(kh.wait_until(lambda: time.time() >= held and len(proxy.requests) >= 3),
                                    "the score request was not repeated while V was held")
                finally:
                    demo.keyup("v")
                self.assertTrue(demo.wait_log(ANSWER), demo.log()[-2000:])

                # Pause, move to Quit, confirm: the banner, then the menu.
                demo.hold("Escape")
                self.assertTrue(demo.wait_screen("pause"))
                demo.press("Left", "z")
                screen.wait(banner_words, 60, 'the "Quit" "Game" banner')
                self.assertTrue(kh.wait_until(lambda: ints(save_path)[0] == 1),
                                "the game was not counted in Plays")
                save = ints(save_path)

                self.assertEqual(0, demo.quit())
                settings = ints(os.path.join(demo.root, "Settings.sav"))
                save = ints(save_path)
                log = demo.log()
            finally:
                demo.cleanup()
                proxy.close()
                server.terminate()
                server.wait(10)
                server.stdout.close()

            # The record: the user ID from the settings file, then the fixed fields.
            user_id = "%d%d%d%d" % tuple(settings[24:28])
            for request in proxy.requests:
                m = re.match(r"GET /Scores\.php\?Game=550&Score=(\S+) HTTP/1\.1\r\nHost: localhost\r\n", request)
                self.assertTrue(m, request)
                self.assertEqual(user_id + RECORD_TAIL, unscramble(unescape(m.group(1))))
            # The one record was stored once, every answer gave it the same
            # rank, and each answer was logged on one line.
            with contextlib.closing(sqlite3.connect(db)) as conn:
                rows = conn.execute("SELECT game, user_id, name, version, score FROM scores").fetchall()
            self.assertEqual([(550, user_id, "Tam C++", 1, 0)], rows)
            self.assertEqual(len(proxy.requests), log.count(ANSWER + "\n"), log[-3000:])

            # Plays 1; the level row is "Normal" (2); its board holds the score.
            self.assertEqual(1, save[0])
            self.assertEqual(2, save[1])
            top, last = save[100 + 40:100 + 45], save[100 + 45:100 + 50]
            self.assertGreater(last[0], 0)
            self.assertEqual(0, last[0] % 5)
            self.assertEqual((last[0], 0, 0, 0, 0), tuple(top))
            self.assertEqual((last[0], 0, 0, 0, 0), tuple(last))


if __name__ == "__main__":
    kh.main()
