"""The demo from start to end: banners, data root, window, loop, quit."""
import os
import re
import subprocess
import tempfile
import time
import unittest

import kelp_harness as kh


class Spine(unittest.TestCase):
    def test_no_display_exits_with_status_1_and_says_why(self):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        demo = kh.Demo(kh.BIN_DIR, env, exe="MyGame", trace=False)
        try:
            demo.start()
            self.assertEqual(1, demo.wait_exit())
            log = demo.log()
            self.assertIn("ERRORRZ", log)
            self.assertIn("Farewell happy gamer", log)
            with open(demo.err_path) as f:
                err = f.read()
            self.assertIn("No display could be opened", err)
        finally:
            demo.cleanup()

    def _run_until_closed(self, close):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            wav = os.path.join(tmp, "out.wav")
            env = kh.wave_audio_env(x.env(), wav, tmp)
            demo = kh.Demo(kh.BIN_DIR, env)
            try:
                started = time.time()
                demo.start()
                # The first, small window is replaced by the real one.
                found = {}

                def real_window():
                    found["w"] = w = demo.window()
                    found["geo"] = subprocess.run(["xdotool", "getwindowgeometry", w], env=env,
                                                  capture_output=True, text=True).stdout
                    return "800x600" in found["geo"]

                kh.wait_until(real_window)
                w, geo = found["w"], found["geo"]
                # 800 x 600, centred on the 1280 x 720 screen.
                self.assertIn("Geometry: 800x600", geo)
                self.assertIn("Position: 240,60", geo)
                # Past the loader's 120 updates, and at least 2.5 s in, for
                # the runtime line.
                self.assertTrue(demo.wait_screen("start"), demo.log()[-2000:])
                time.sleep(max(0.0, 2.5 - (time.time() - started)))
                close(demo, env, w)
                self.assertEqual(0, demo.wait_exit())
                out = demo.log()
                lines = out.splitlines()
                self.assertEqual(["", "-=-=-=-=-=-=-=-=-", "Root " + demo.root], lines[:3])
                texts = demo.log_lines()
                self.assertIn("Opened Window", texts)
                self.assertIn("OpenAL Audio Engaged!", texts)
                self.assertLess(texts.index("OpenAL Audio Engaged!"), len(texts))
                self.assertRegex(out, r"Runtime : \d+:\d\d\nFarewell happy gamer\n-=-=-=-=-=-=-=-=-\n")
                runtime = re.search(r"Runtime : (\d+):(\d\d)", out)
                self.assertEqual(0, int(runtime.group(1)))
                self.assertGreaterEqual(int(runtime.group(2)), 2)
            finally:
                demo.cleanup()

    def test_f4_quits(self):
        self._run_until_closed(lambda demo, env, w: demo.hold("F4"))

    def test_closing_the_window_quits(self):
        xclose = os.path.join(kh.BUILD_DIR, "tests", "xclose")
        self._run_until_closed(lambda demo, env, w: subprocess.run([xclose, w], env=env, check=True))


if __name__ == "__main__":
    kh.main()
