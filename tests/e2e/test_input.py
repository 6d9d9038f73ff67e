"""Hot keys pressed for real under Xvfb: F1 flips the statistics line once per
press, F11 goes full screen and back to a centred 800 x 600 window, Q + 1
opens the 4:3 window preset, Escape in the menu and F4 end the program."""
import subprocess
import time
import unittest

import kelp_harness as kh


def geometry(env, window):
    out = subprocess.run(["xdotool", "getwindowgeometry", window], env=env,
                         capture_output=True, text=True).stdout
    pos = size = None
    for line in out.splitlines():
        line = line.strip()
        if line.startswith("Position:"):
            x, y = line.split()[1].split(",")
            pos = (int(x), int(y))
        elif line.startswith("Geometry:"):
            w, h = line.split()[1].split("x")
            size = (int(w), int(h))
    return pos, size


class HotKeys(unittest.TestCase):
    def setUp(self):
        self.x = kh.Xvfb().__enter__()  # 1280 x 720
        self.env = self.x.env()
        self.demo = kh.Demo(kh.BIN_DIR, self.env).start()
        self.demo.window()
        time.sleep(2.5)  # past the loader

    def tearDown(self):
        self.demo.cleanup()
        self.x.__exit__(None, None, None)

    def wait_geometry(self, size, timeout=10):
        """The demo's window once it has the given size (a new window after re-creation)."""
        deadline = time.time() + timeout
        last = None
        while time.time() < deadline:
            try:
                w = self.demo.window(timeout=2)
                last = geometry(self.env, w)
                if last[1] == size:
                    return w, last
            except RuntimeError:
                pass
            time.sleep(0.1)
        self.fail("window never became %r (last %r)" % (size, last))

    def press(self, key, seconds=0.15):
        """Hold a key on the current window. The key may close or replace the
        window, and then its release has nowhere to go."""
        w = self.demo.window()
        subprocess.run(["xdotool", "keydown", "--window", w, key], env=self.env, check=True)
        time.sleep(seconds)
        up = subprocess.run(["xdotool", "keyup", "--window", w, key], env=self.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if up.returncode != 0:
            # Make sure the server does not keep the key down either.
            subprocess.run(["xdotool", "keyup", key], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(0.1)

    def quit_with_f4(self):
        self.press("F4")
        self.assertEqual(0, self.demo.wait_exit(20))

    def test_f1_flips_statistics_once_per_press(self):
        lines = lambda: [t for t in self.demo.log_lines() if t in ("Stats On", "Stats Off")]
        self.assertEqual([], lines())
        self.demo.hold("F1", seconds=0.6)  # about 35 polls
        self.assertTrue(self.demo.wait_log("Stats", 5))
        time.sleep(0.3)
        self.assertEqual(1, len(lines()))
        first = lines()[0]
        self.demo.hold("F1", seconds=0.3)
        time.sleep(0.3)
        self.assertEqual([first, "Stats On" if first == "Stats Off" else "Stats Off"], lines())
        self.quit_with_f4()

    def test_f11_twice_returns_to_a_centred_window(self):
        # Held past the key's auto-repeat delay (1.2 s of real time, whatever
        # the build's speed): still one switch.
        self.press("F11", seconds=1.2 / kh.TIME_SCALE)
        self.assertTrue(self.demo.wait_log("Opened Fullscreen", 5))
        w, (pos, size) = self.wait_geometry((1280, 720))
        self.assertEqual((0, 0), pos)
        # Without a window manager nobody gives the new window the focus.
        subprocess.run(["xdotool", "windowfocus", "--sync", w], env=self.env, check=True)
        time.sleep(0.5)
        self.press("F11", seconds=0.3)
        w, (pos, size) = self.wait_geometry((800, 600))
        self.assertEqual((240, 60), pos)
        # One switch per press: one full screen, then two windows (start-up's
        # small one and its replacement) plus the one F11 brought back.
        texts = self.demo.log_lines()
        self.assertEqual(1, texts.count("Opened Fullscreen"))
        self.assertEqual(3, texts.count("Opened Window"))
        self.quit_with_f4()

    def test_q_and_1_open_the_four_by_three_preset(self):
        # Height = monitor height - 128 = 592, width = floor(592 * 1.3333) = 789.
        w = self.demo.window()
        subprocess.run(["xdotool", "keydown", "--window", w, "q"], env=self.env, check=True)
        self.press("1")
        subprocess.run(["xdotool", "keyup", "--window", w, "q"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        w, (pos, size) = self.wait_geometry((789, 592))
        self.assertEqual((640 - 789 // 2, 360 - 592 // 2), pos)
        self.quit_with_f4()

    def test_escape_in_the_menu_quits(self):
        # The menu takes over once the loader is done, which can take a while
        # on a busy machine: press until it answers.
        deadline = time.time() + 20
        while self.demo.proc.poll() is None and time.time() < deadline:
            self.press("Escape", seconds=0.3)
            time.sleep(0.5)
        self.assertEqual(0, self.demo.wait_exit(5))
        self.assertIn("Farewell happy gamer", self.demo.log())


if __name__ == "__main__":
    kh.main()
