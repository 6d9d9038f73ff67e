"""Hot keys pressed for real under Xvfb: F1 flips the statistics line once per
press, F11 goes full screen and back to a centred 800 x 600 window, Q + 1
opens the 4:3 window preset, Escape in the menu and F4 end the program."""
import subprocess
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
        self.assertTrue(self.demo.wait_screen("start"), self.demo.log()[-2000:])

    def tearDown(self):
        self.demo.cleanup()
        self.x.__exit__(None, None, None)

    def wait_geometry(self, size):
        """The demo's window once it has the given size (a new window after re-creation)."""
        last = {}

        def sized():
            try:
                w = self.demo.window(timeout=2)
            except RuntimeError:
                return False
            last["w"], last["g"] = w, geometry(self.env, w)
            return last["g"][1] == size

        if not kh.wait_until(sized):
            self.fail("window never became %r (last %r)" % (size, last.get("g")))
        return last["w"], last["g"]

    def quit_with_f4(self):
        self.assertEqual(0, self.demo.quit())

    def test_f1_flips_statistics_once_per_press(self):
        lines = lambda: [t for t in self.demo.log_lines() if t in ("Stats On", "Stats Off")]
        self.assertEqual([], lines())
        # Held across many polls (at least 0.6 s): still one flip.
        self.demo.hold("F1", seconds=0.6)
        self.assertEqual(1, len(lines()))
        first = lines()[0]
        self.demo.hold("F1")
        self.assertEqual([first, "Stats On" if first == "Stats Off" else "Stats Off"], lines())
        self.quit_with_f4()

    def test_f11_twice_returns_to_a_centred_window(self):
        # Held past the X server's key auto-repeat delay (660 ms): still one
        # switch, though the new window sees the repeats as a fresh press.
        self.demo.hold("F11", seconds=1.2)
        self.assertTrue(self.demo.wait_log("Opened Fullscreen"))
        w, (pos, size) = self.wait_geometry((1280, 720))
        self.assertEqual((0, 0), pos)
        # Without a window manager nobody gives the new window the focus.
        subprocess.run(["xdotool", "windowfocus", "--sync", w], env=self.env, check=True)
        self.demo.hold("F11")
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
        self.demo.keydown("q")
        self.demo.hold("1")
        # The preset replaced the window: let Q go on the server.
        subprocess.run(["xdotool", "keyup", "q"], env=self.env, check=True)
        w, (pos, size) = self.wait_geometry((789, 592))
        self.assertEqual((640 - 789 // 2, 360 - 592 // 2), pos)
        self.quit_with_f4()

    def test_escape_in_the_menu_quits(self):
        self.demo.hold("Escape")
        self.assertEqual(0, self.demo.wait_exit())
        self.assertIn("Farewell happy gamer", self.demo.log())


if __name__ == "__main__":
    kh.main()
