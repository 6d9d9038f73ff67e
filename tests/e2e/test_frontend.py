"""The front end driven for real: the demo under Xvfb, real key presses,
checked through its log and the files it writes in a fresh data root. Each
key is held until the game has read it and let go until it has read that;
each screen is waited for through the test build's screen trace.

Default keys: arrows move, Z is button 1, BackSpace is back, Escape is start
(and the fixed back key), F4 quits.  Set KELP_SCREENSHOT_DIR to keep a
picture of each screen the tests pass through.
"""
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import unittest

import kelp_harness as kh

SETTINGS = "Settings.sav"
SAVE = "Save_550_Test Game.sav"


def ints(path):
    with open(path, "rb") as f:
        data = f.read()
    return list(struct.unpack("<%di" % (len(data) // 4), data[: len(data) // 4 * 4]))


def c_mod(a, b):
    """Remainder of truncating division, as C computes it."""
    r = abs(a) % abs(b)
    return -r if a < 0 else r


def wrap32(v):
    return (v + 2 ** 31) % 2 ** 32 - 2 ** 31


def save_checksum(settings, save, game_number=550):
    """The save file's checksum, worked out independently from its format."""
    m1 = c_mod(settings[24], 5) + 3
    m2 = c_mod(settings[25], 4) + 4
    m3 = c_mod(game_number, 6) + 2
    c = 0
    for i in range(100):
        v = save[i]
        c = c_mod(wrap32(wrap32((v + game_number) * m1) + (100 + i + m2) * m3 + c), 371653)
    for i in range(22000):
        v = save[100 + i]
        c = c_mod(wrap32(wrap32((v + game_number) * m1) + (i + m3) * m2 + c), 371653)
    return c


class FrontEnd(unittest.TestCase):
    def setUp(self):
        self.xvfb = kh.Xvfb().__enter__()
        self.tmp = tempfile.mkdtemp(prefix="kelp-fe-")
        self.env = kh.wave_audio_env(self.xvfb.env(), os.path.join(self.tmp, "out.wav"), self.tmp)
        self.demos = []

    def tearDown(self):
        for d in self.demos:
            d.cleanup()
        self.xvfb.__exit__(None, None, None)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def boot(self, root=None):
        """Start the demo and wait until the loader has handed over to the
        start page."""
        demo = kh.Demo(kh.BIN_DIR, self.env, root=root)
        if root is None:
            self.demos.append(demo)
        demo.start()
        self.assertTrue(demo.wait_screen("start"), demo.log()[-3000:])
        return demo

    def pixel(self, demo, x, y):
        out = subprocess.run(["import", "-window", demo.window(), "-crop", "1x1+%d+%d" % (x, y), "txt:-"],
                             env=self.env, capture_output=True, text=True).stdout
        m = re.search(r"\((\d+),(\d+),(\d+)", out.split("\n", 1)[-1])
        return tuple(int(v) for v in m.groups()) if m else (0, 0, 0)

    # The bottom-left corner tells the screens apart: the menu's blue-green
    # backdrop, or the game's grey shading over its dark blue clear colour
    # (red equals green there).
    def menu_shown(self, demo):
        r, g, b = self.pixel(demo, 20, 580)
        return b > r + 30 and g > r + 10

    def game_shown(self, demo):
        r, g, b = self.pixel(demo, 20, 580)
        return abs(r - g) <= 3 and b > r + 30

    def quit(self, demo):
        self.assertEqual(0, demo.quit(), demo.log()[-2000:])
        demo.stop()

    def keys(self, demo, *names):
        demo.press(*names)

    def screen(self, demo, name):
        self.assertTrue(demo.wait_screen(name), "not on %s: %r" % (name, demo.screens()[-5:]))

    def shot(self, demo, name):
        out = os.environ.get("KELP_SCREENSHOT_DIR")
        if not out:
            return
        os.makedirs(out, exist_ok=True)
        subprocess.run(["import", "-window", demo.window(), os.path.join(out, name + ".png")],
                       env=self.env, check=False)

    def wait_for(self, predicate):
        return kh.wait_until(predicate)

    # ---- first start ------------------------------------------------------

    def test_first_start_creates_a_user_and_both_files(self):
        demo = self.boot()
        self.shot(demo, "start")
        self.quit(demo)
        texts = demo.log_lines()
        order = ["Load Settings", "Load Scores", "Reset User", "Clearing Scoreboard"]
        at = [texts.index(t) for t in order]
        self.assertEqual(sorted(at), at, texts)
        ident = [t for t in texts if t.startswith("User ID '")]
        self.assertEqual(1, len(ident), texts)
        self.assertRegex(ident[0], r"^User ID '[^']+'$")
        self.assertGreater(texts.index(ident[0]), at[-1])

        settings_path = os.path.join(demo.root, SETTINGS)
        save_path = os.path.join(demo.root, SAVE)
        self.assertEqual(4496, os.path.getsize(settings_path))
        self.assertEqual(88404, os.path.getsize(save_path))
        s, v = ints(settings_path), ints(save_path)
        self.assertEqual(v[-1], save_checksum(s, v))
        # The user ID with its check, and its copy inside the save file.
        self.assertTrue(any(s[24:27]))
        self.assertEqual(s[27], c_mod(s[24], 37171) + c_mod(s[25], 17021) + c_mod(s[26], 53496))
        self.assertEqual(s[24:27], v[24:27])
        self.assertEqual(v[27], c_mod(v[24], 53496) + c_mod(v[25], 37171) + c_mod(v[26], 17021))

    # ---- options ----------------------------------------------------------

    def test_sfx_volume_change_is_saved_and_survives_a_restart(self):
        demo = self.boot()
        self.assertEqual(7, ints(os.path.join(demo.root, SETTINGS))[0])
        # Start page: Right highlights Options, Z opens it; Down to the
        # "SFX Volume" row, Left lowers it, BackSpace leaves and saves.
        self.keys(demo, "Right", "z")
        self.screen(demo, "options")
        self.keys(demo, "Down")
        self.shot(demo, "options")
        self.keys(demo, "Left", "Left", "BackSpace")
        path = os.path.join(demo.root, SETTINGS)
        self.assertTrue(self.wait_for(lambda: ints(path)[0] == 5), ints(path)[:2])
        self.quit(demo)
        self.assertEqual(5, ints(path)[0])

        again = self.boot(root=demo.root)
        self.demos.append(again)
        self.quit(again)
        self.assertNotIn("Clearing Scoreboard", again.log_lines())
        self.assertEqual(5, ints(path)[0])

    def test_holding_confirm_on_the_fullscreen_row_switches_once(self):
        demo = self.boot()
        # Options, down to "Fullscreen [F11]".
        self.keys(demo, "Right", "z")
        self.screen(demo, "options")
        self.keys(demo, "Down", "Down", "Down")
        old = demo.window()
        since = len(demo.key_states())
        demo.keydown("Return")
        self.assertTrue(kh.wait_until(lambda: any(257 in k for k in demo.key_states()[since:])))
        held_from = time.time()
        self.assertTrue(demo.wait_log("Opened Fullscreen"), demo.log()[-2000:])
        # Without a window manager nobody gives the new window the focus;
        # given it, the new window gets the server's repeats of the held key.
        found = {}

        def new_window():
            try:
                found["w"] = demo.window(timeout=1)
            except RuntimeError:
                return False
            return found["w"] != old

        self.assertTrue(kh.wait_until(new_window), "no new window")
        subprocess.run(["xdotool", "windowfocus", "--sync", found["w"]], env=self.env, check=True)
        # Held 1.5 s of real time, past the server's auto-repeat delay.
        time.sleep(max(0.0, held_from + 1.5 - time.time()))
        since = len(demo.key_states())
        demo.release("Return")
        self.assertTrue(kh.wait_until(lambda: any(257 not in k for k in demo.key_states()[since:])))
        texts = demo.log_lines()
        self.assertEqual(1, texts.count("Opened Fullscreen"), texts)
        # Start-up's two windows only: the row did not switch back.
        self.assertEqual(2, texts.count("Opened Window"), texts)
        self.quit(demo)

    # ---- save file protection -------------------------------------------------

    def test_changed_or_foreign_save_file_clears_the_scoreboard(self):
        first = self.boot()
        self.quit(first)
        other = self.boot()
        self.quit(other)

        # Untouched, the save file is accepted.
        again = self.boot(root=first.root)
        self.quit(again)
        self.assertNotIn("Clearing Scoreboard", again.log_lines())

        # One score changed by hand.
        path = os.path.join(first.root, SAVE)
        with open(path, "r+b") as f:
            f.seek(400)
            score = struct.unpack("<i", f.read(4))[0]
            f.seek(400)
            f.write(struct.pack("<i", score + 5))
        changed = self.boot(root=first.root)
        self.quit(changed)
        self.assertIn("Clearing Scoreboard", changed.log_lines())
        self.assertNotIn("Reset User", changed.log_lines())

        # A valid save file next to another installation's settings.
        shutil.copy2(os.path.join(first.root, SAVE), os.path.join(other.root, SAVE))
        foreign = self.boot(root=other.root)
        self.quit(foreign)
        self.assertIn("Clearing Scoreboard", foreign.log_lines())

    # ---- redefine keys --------------------------------------------------------

    def test_redefining_up_binds_the_next_new_key_and_saves_it(self):
        demo = self.boot()
        # Options, down to "Controller", Define.
        self.keys(demo, "Right", "z")
        self.screen(demo, "options")
        self.keys(demo, *["Down"] * 6, "z")
        self.screen(demo, "redefine")
        self.shot(demo, "redefine")
        # From "Test" down two rows to "Up", Button 1 starts the capture.
        self.keys(demo, "Down", "Down", "z")
        self.screen(demo, "redefine capture")
        self.shot(demo, "redefine_capture")
        self.keys(demo, "p")
        self.assertTrue(demo.wait_log("Button Caught 80"), demo.log())
        # Up three rows to "Save".
        self.keys(demo, "Up", "Up", "Up", "z")
        path = os.path.join(demo.root, SETTINGS)

        def up_bindings():
            s = ints(path)
            return s[100 + 0 * 64: 100 + 1 * 64]

        self.assertTrue(self.wait_for(lambda: up_bindings()[63] == 80), up_bindings())
        s = ints(path)
        bindings = s[100:]
        self.assertEqual(1, bindings.count(80))
        self.assertNotIn(90, up_bindings())  # the Z that opened the capture was not taken
        self.assertIn(90, bindings[10 * 64: 11 * 64])
        self.assertNotIn("Button Caught 90", demo.log())
        self.quit(demo)

    # ---- pause menu -------------------------------------------------------

    def test_pause_menu_pauses_resumes_and_quits_back_to_the_menu(self):
        demo = self.boot()
        save = os.path.join(demo.root, SAVE)
        settings = os.path.join(demo.root, SETTINGS)
        self.assertEqual(0, ints(save)[0])

        self.keys(demo, "z")
        self.screen(demo, "level")
        self.shot(demo, "level")
        self.keys(demo, "z")                     # Normal starts
        self.screen(demo, "game")
        self.assertTrue(self.wait_for(lambda: self.game_shown(demo)), "game not shown")
        self.keys(demo, "Escape")                # pause
        self.screen(demo, "pause")
        self.shot(demo, "pause")

        # Options from the pause menu: lower the effects volume, come back.
        self.keys(demo, "Right", "z")
        self.screen(demo, "options")
        self.keys(demo, "Down", "Left", "BackSpace")
        self.assertTrue(self.wait_for(lambda: ints(settings)[0] == 6), ints(settings)[:2])
        self.screen(demo, "pause")

        # Back on the pause menu with Options chosen: Left to Resume.
        self.keys(demo, "Left", "z")
        self.screen(demo, "game")
        # Playing again: pause anew (the cursor starts on Resume), Left to Quit.
        self.keys(demo, "Escape")
        self.screen(demo, "pause")
        self.keys(demo, "Left", "z")
        self.screen(demo, ("game banner", "pause banner"))
        self.shot(demo, "banner")
        # The banner runs 120 updates, then the game is filed and saved.
        self.assertTrue(self.wait_for(lambda: ints(save)[0] == 1), ints(save)[:2])
        v = ints(save)
        self.assertEqual(v[-1], save_checksum(ints(settings), v))
        # A first start highlights "Normal", and that is the level played.
        self.assertEqual(2, v[1])

        # The level list comes back, and once the banner has faded (every
        # input is latched meanwhile) a second game starts and is quit the
        # same way.
        self.screen(demo, "level")
        self.assertTrue(self.wait_for(lambda: self.menu_shown(demo)), "menu not back")
        self.shot(demo, "level_after")
        self.keys(demo, "z")
        self.screen(demo, "game")
        self.shot(demo, "game2")
        self.keys(demo, "Escape")
        self.screen(demo, "pause")
        self.shot(demo, "pause2")
        self.keys(demo, "Left", "z")
        self.assertTrue(self.wait_for(lambda: ints(save)[0] == 2), ints(save)[:2])
        self.quit(demo)

    # ---- credits ----------------------------------------------------------

    def test_credits_open_and_close(self):
        demo = self.boot()
        # Left twice from Start reaches Credits and Z opens it.  Z closes it,
        # and the start page answers again: Left from Credits wraps to
        # Options, which opens with Z.
        self.keys(demo, "Left", "Left", "z")
        self.screen(demo, "credits")
        self.shot(demo, "credits")
        self.keys(demo, "z")
        self.screen(demo, "start")
        self.keys(demo, "Left", "z")
        self.screen(demo, "options")
        self.keys(demo, "Down", "Left", "BackSpace")
        path = os.path.join(demo.root, SETTINGS)
        self.assertTrue(self.wait_for(lambda: ints(path)[0] == 6), ints(path)[:2])
        self.quit(demo)


if __name__ == "__main__":
    kh.main()
