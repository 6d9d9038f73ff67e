"""F10 in the running demo saves the window as a PNG in the data root."""
import os
import re
import subprocess
import tempfile
import time
import unittest

import kelp_harness as kh

NAME = re.compile(r"^Screenshot_550_(\d\d)-(\d\d)-(\d{4})_(\d\d)-(\d\d)-(\d\d)\.png$")


def rgba(path):
    """(width, height, RGBA bytes) of an image file, read by ImageMagick."""
    size = subprocess.run(["identify", "-format", "%w %h", path], capture_output=True, text=True, check=True)
    w, h = (int(v) for v in size.stdout.split())
    raw = subprocess.run(["convert", path, "-depth", "8", "rgba:-"], capture_output=True, check=True).stdout
    return w, h, raw


def close(a, i, b, j):
    return abs(a[i] - b[j]) <= 8 and abs(a[i + 1] - b[j + 1]) <= 8 and abs(a[i + 2] - b[j + 2]) <= 8


def still_pixels(w, h, grabs, step=2):
    """Pixels (x, y) on a grid that look the same in every grab of the window,
    from before the key went down until after it was let go: they held still
    all along, so any frame drawn in between shows them too."""
    first = grabs[0]
    return [(x, y) for y in range(0, h, step) for x in range(0, w, step)
            if all(close(first, (y * w + x) * 4, g, (y * w + x) * 4) for g in grabs[1:])]


def agreement(shot, seen, w, h, pixels, flip):
    """The share of `pixels` where the shot (upside down if flip) shows what
    the X server showed."""
    same = 0
    for x, y in pixels:
        sy = h - 1 - y if flip else y
        if close(shot, (sy * w + x) * 4, seen, (y * w + x) * 4):
            same += 1
    return same / len(pixels)


class Screenshot(unittest.TestCase):
    def shots(self, root):
        return sorted(f for f in os.listdir(root) if f.startswith("Screenshot_"))

    def grab(self, demo, env):
        path = os.path.join(self.tmp, "grab.png")
        subprocess.run(["import", "-window", demo.window(), path], env=env, check=True)
        return rgba(path)

    def take(self, demo, env, before):
        """Holds F10 until the demo has saved at least twice, grabbing the
        window through X before the key goes down, while it is held and
        after it is let go; returns the new screenshot files and the grabs."""
        grabs = [self.grab(demo, env)]
        saved = demo.log().count("Saving Image - ")
        code = kh.glfw_key("F10")
        since = len(demo.key_states())
        demo.keydown("F10")
        deadline = time.time() + kh.PATIENCE * kh.TIME_SCALE
        while demo.log().count("Saving Image - ") < saved + 2 and time.time() < deadline:
            grabs.append(self.grab(demo, env))
        demo.keyup("F10")
        self.assertGreaterEqual(demo.log().count("Saving Image - "), saved + 2, demo.log()[-2000:])
        # Once a poll has read the release, no render saves any more, and the
        # last save has been written: saving is part of a render, and the
        # renders and polls take turns on one thread.
        self.assertTrue(kh.wait_until(lambda: any(code not in k for k in demo.key_states()[since + 1:])))
        grabs.append(self.grab(demo, env))
        new = [f for f in self.shots(demo.root) if f not in before]
        self.assertGreaterEqual(len(new), 1, demo.log()[-2000:])
        return new, grabs

    def check_file(self, demo, name):
        """The screenshot's name, size and opacity; returns its pixels."""
        m = NAME.match(name)
        self.assertIsNotNone(m, name)
        day, month, year, hour, minute, second = (int(v) for v in m.groups())
        self.assertTrue(1 <= day <= 31 and 1 <= month <= 12 and year >= 2000, name)
        self.assertTrue(hour < 24 and minute < 60 and second < 61, name)
        w, h, raw = rgba(os.path.join(demo.root, name))
        self.assertEqual((800, 600), (w, h))
        self.assertTrue(all(a == 255 for a in raw[3::4]), "a pixel is not opaque")
        return raw

    def check_upright(self, raw, seen, pixels, least):
        """On these pixels the file shows what X showed, and its mirror image
        does not: the file is upright."""
        upright = agreement(raw, seen, 800, 600, pixels, flip=False)
        mirrored = agreement(raw, seen, 800, 600, pixels, flip=True)
        self.assertGreaterEqual(upright, least, "the file differs from the screen (mirror image: %.3f)" % mirrored)
        self.assertLess(mirrored, upright - 0.3)

    def test_f10_saves_the_window_on_the_loading_screen_and_the_menu(self):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            self.tmp = tmp
            env = kh.wave_audio_env(x.env(), os.path.join(tmp, "out.wav"), tmp)
            demo = kh.Demo(kh.BIN_DIR, env)
            try:
                demo.start()
                # The loading screen, held still: without the focus the loop
                # runs no update, so every render draws the same frame, and
                # the held key still saves it.
                self.assertTrue(kh.wait_until(lambda: "Load Image : KELPLogo" in demo.log()))
                w = demo.window()
                subprocess.run(["xdotool", "windowfocus", "--sync", root_window(env)], env=env, check=True)
                self.assertTrue(demo.wait_log("Trace focus: 0"), demo.log()[-2000:])
                still = {}

                def settled():
                    g = self.grab(demo, env)
                    settle = still.get("last") == g
                    still["last"] = g
                    return settle

                self.assertTrue(kh.wait_until(settled), "the unfocused loading screen kept changing")
                loading, grabs = self.take(demo, env, [])
                self.assertEqual(1, len({g[2] for g in grabs}), "the still screen changed")
                self.assertNotIn("Trace screen: start", demo.log())
                # A held key saves at every render; in one second they share
                # a name and the last one wins.
                saves = [t for t in demo.log_lines() if t.startswith("Saving Image - ")]
                self.assertGreaterEqual(len(saves), 2)
                prefix = "Saving Image - 800x600  ~ " + demo.root + "/"
                for t in saves:
                    self.assertTrue(t.startswith(prefix), t)
                # Every save wrote one of the files; repeats overwrote them.
                self.assertEqual(set(loading), {t[len(prefix):] for t in saves})
                self.assertNotIn("The image save didn't work", demo.log())
                raw = self.check_file(demo, loading[-1])
                every = [(x_, y) for y in range(0, 600, 2) for x_ in range(0, 800, 2)]
                self.check_upright(raw, grabs[0][2], every, 0.99)

                # The start page, focused and moving: compared on the pixels
                # that held still while the key was down.
                subprocess.run(["xdotool", "windowfocus", "--sync", w], env=env, check=True)
                self.assertTrue(demo.wait_screen("start"), demo.log()[-2000:])
                # The screen is named at its first update; its first render
                # comes after (slower on a busy machine), so the window may
                # still show the loading screen. Wait until two grabs in a
                # row agree on most pixels and no longer show the loading
                # screen: the start page is up.
                loading_seen = grabs[0][2]
                last = {}

                def shown():
                    g = self.grab(demo, env)[2]
                    up = ("g" in last and len(still_pixels(800, 600, [last["g"], g])) > 0.5 * 400 * 300
                          and len(still_pixels(800, 600, [loading_seen, g])) < 0.5 * 400 * 300)
                    last["g"] = g
                    return up

                self.assertTrue(kh.wait_until(shown), "the start page never held still")
                menu, grabs = self.take(demo, env, loading)
                raw = self.check_file(demo, menu[-1])
                pixels = still_pixels(800, 600, [g[2] for g in grabs])
                self.assertGreater(len(pixels), 0.5 * 400 * 300, "most of the start page should hold still")
                self.check_upright(raw, grabs[0][2], pixels, 0.97)

                self.assertEqual(0, demo.quit())
            finally:
                demo.cleanup()


def root_window(env):
    """The root window's id: giving it the focus takes the focus from ours."""
    out = subprocess.run(["xwininfo", "-root"], env=env, capture_output=True, text=True, check=True).stdout
    m = re.search(r"Window id: (0x[0-9a-f]+)", out)
    return m.group(1)


if __name__ == "__main__":
    kh.main()
