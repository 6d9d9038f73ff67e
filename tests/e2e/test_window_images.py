"""Every switch of window (F11 to full screen and back, a Q preset) makes a new
GL context, which has none of the old one's textures: the menu's pictures
must still show in each new window, not the clear colour or untextured white."""
import re
import subprocess
import time
import unittest

import kelp_harness as kh


class WindowImages(unittest.TestCase):
    def setUp(self):
        self.x = kh.Xvfb().__enter__()  # 1280 x 720
        self.env = self.x.env()
        self.demo = kh.Demo(kh.BIN_DIR, self.env).start()

    def tearDown(self):
        self.demo.cleanup()
        self.x.__exit__(None, None, None)

    def pixel(self, x, y):
        out = subprocess.run(["import", "-window", self.demo.window(), "-crop", "1x1+%d+%d" % (x, y), "txt:-"],
                             env=self.env, capture_output=True, text=True).stdout
        m = re.search(r"\((\d+),(\d+),(\d+)", out.split("\n", 1)[-1])
        return tuple(int(v) for v in m.groups()) if m else (0, 0, 0)

    def size(self):
        out = subprocess.run(["xdotool", "getwindowgeometry", self.demo.window()], env=self.env,
                             capture_output=True, text=True).stdout
        m = re.search(r"Geometry: (\d+)x(\d+)", out)
        return (int(m.group(1)), int(m.group(2))) if m else (0, 0)

    def menu_in_window(self, size, timeout=kh.PATIENCE):
        """Waits for a window of `size` whose lower-left corner shows the menu's
        blue-green backdrop, which comes from the background sheet's texture."""
        deadline = time.time() + timeout * kh.TIME_SCALE
        last = None
        while time.time() < deadline:
            try:
                if self.size() == size:
                    last = self.pixel(20, size[1] - 20)
                    r, g, b = last
                    if b > r + 30 and g > r + 10:
                        return
            except RuntimeError:
                pass
            time.sleep(0.2)
        self.fail("no menu picture in a %dx%d window (last corner pixel %r)\n%s" %
                  (size[0], size[1], last, self.demo.log()[-1500:]))

    def press_until(self, keys, text, count):
        """Holds the keys on the current window until the log shows `text`
        `count` times, then lets go (the window they went to is gone by then)."""
        w = self.demo.window()
        subprocess.run(["xdotool", "windowfocus", "--sync", w], env=self.env, check=True)
        for k in keys:
            subprocess.run(["xdotool", "keydown", "--window", w, k], env=self.env, check=True)
        ok = self.demo.wait_log(text, count=count)
        for k in reversed(keys):
            subprocess.run(["xdotool", "keyup", k], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(ok, self.demo.log()[-1500:])

    def test_the_menu_shows_its_pictures_in_every_new_window(self):
        self.assertTrue(self.demo.wait_screen("start"), self.demo.log()[-2000:])
        self.menu_in_window((800, 600))
        self.press_until(["F11"], "Opened Fullscreen", 1)
        self.menu_in_window((1280, 720))
        # F11 does not switch again within a second of switching (the key's
        # auto-repeat must not flip the window back and forth): a second of
        # real time has to pass, however fast the program runs.
        time.sleep(1.2)
        # Start-up opened two windows; F11 back opens the third.
        self.press_until(["F11"], "Opened Window", 3)
        self.menu_in_window((800, 600))
        # Q + 1: height = screen height - 128 = 592, width 789.
        self.press_until(["q", "1"], "Opened Window", 4)
        self.menu_in_window((789, 592))
        self.assertEqual(0, self.demo.quit(), self.demo.log()[-2000:])


if __name__ == "__main__":
    kh.main()
