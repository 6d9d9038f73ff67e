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


def blocks(w, h, raw, cols=8, rows=6):
    """Mean colour of each cell of a coarse grid, rows from the top."""
    out = []
    for by in range(rows):
        for bx in range(cols):
            acc = [0, 0, 0]
            n = 0
            for y in range(by * h // rows, (by + 1) * h // rows, 4):
                for x in range(bx * w // cols, (bx + 1) * w // cols, 4):
                    i = (y * w + x) * 4
                    for c in range(3):
                        acc[c] += raw[i + c]
                    n += 1
            out.append([a / n for a in acc])
    return out


def distance(a, b):
    return sum(abs(p - q) for u, v in zip(a, b) for p, q in zip(u, v))


def flipped(grid, cols=8, rows=6):
    return [grid[(rows - 1 - r) * cols + c] for r in range(rows) for c in range(cols)]


class Screenshot(unittest.TestCase):
    def shots(self, root):
        return sorted(f for f in os.listdir(root) if f.startswith("Screenshot_"))

    def take(self, demo, env, before):
        """Holds F10 until the demo has saved at least twice, captures the
        window through X as well, and returns the new screenshot files and
        the X capture's path."""
        saved = demo.log().count("Saving Image - ")
        demo.keydown("F10")
        # A loading step can stall an update for a while on a busy machine,
        # so the key stays down until the demo has seen it.
        seen = demo.wait_log("Saving Image - ", timeout=20, count=saved + 2)
        demo.keyup("F10")
        self.assertTrue(seen, demo.log())
        # Start-up replaces a first small window, so look the window up now.
        xcap = os.path.join(self.tmp, "x%d.png" % len(before))
        subprocess.run(["import", "-window", demo.window(), xcap], env=env, check=True)
        time.sleep(0.5)   # the last save of the held key has finished
        return [f for f in self.shots(demo.root) if f not in before], xcap

    def check_shot(self, demo, name, xcap):
        m = NAME.match(name)
        self.assertIsNotNone(m, name)
        day, month, year, hour, minute, second = (int(v) for v in m.groups())
        self.assertTrue(1 <= day <= 31 and 1 <= month <= 12 and year >= 2000, name)
        self.assertTrue(hour < 24 and minute < 60 and second < 61, name)
        path = os.path.join(demo.root, name)
        w, h, raw = rgba(path)
        self.assertEqual((800, 600), (w, h))
        self.assertTrue(all(a == 255 for a in raw[3::4]), "a pixel is not opaque")
        # The file shows the window upright: it matches what X shows of the
        # window far better than its own mirror image does.
        xw, xh, xraw = rgba(xcap)
        self.assertEqual((800, 600), (xw, xh))
        shot, seen = blocks(w, h, raw), blocks(xw, xh, xraw)
        self.assertLess(distance(shot, seen), 0.5 * distance(flipped(shot), seen))
        return path

    def test_f10_saves_the_window_on_the_loading_screen_and_the_menu(self):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            self.tmp = tmp
            env = kh.wave_audio_env(x.env(), os.path.join(tmp, "out.wav"), tmp)
            demo = kh.Demo(kh.BIN_DIR, env)
            try:
                demo.start()
                demo.window()
                time.sleep(0.6)   # the loading screen, with its fans and text
                loading, xcap = self.take(demo, env, [])
                self.assertGreaterEqual(len(loading), 1, demo.log())
                # A held key saves at every render; in one second they share
                # a name and the last one wins, so at most two files.
                self.assertLessEqual(len(loading), 2)
                saves = [t for t in demo.log_lines() if t.startswith("Saving Image - ")]
                self.assertGreaterEqual(len(saves), 2)
                prefix = "Saving Image - 800x600  ~ " + demo.root + "/"
                for t in saves:
                    self.assertTrue(t.startswith(prefix), t)
                # Every save wrote one of the files; repeats overwrote them.
                self.assertEqual(set(loading), {t[len(prefix):] for t in saves})
                self.assertNotIn("The image save didn't work", demo.log())
                self.check_shot(demo, loading[-1], xcap)

                time.sleep(max(0.0, 3.5 - 0.6))   # past the loader: the menu
                menu, xcap = self.take(demo, env, loading)
                self.assertGreaterEqual(len(menu), 1, demo.log())
                self.check_shot(demo, menu[-1], xcap)

                # F4 quits at once, so the window is gone before a key-up.
                demo.keydown("F4")
                self.assertEqual(0, demo.wait_exit(20))
            finally:
                demo.cleanup()


if __name__ == "__main__":
    kh.main()
