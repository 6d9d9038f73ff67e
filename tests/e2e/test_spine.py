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
        demo = kh.Demo(kh.BIN_DIR, env)
        try:
            demo.start()
            self.assertEqual(1, demo.wait_exit(20))
            log = demo.log()
            self.assertIn("ERRORRZ", log)
            self.assertIn("Farewell happy gamer", log)
            err = open(demo.err_path).read()
            self.assertIn("No display could be opened", err)
        finally:
            demo.cleanup()

    def _run_until_closed(self, close):
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as tmp:
            wav = os.path.join(tmp, "out.wav")
            env = kh.wave_audio_env(x.env(), wav, tmp)
            demo = kh.Demo(kh.BIN_DIR, env)
            try:
                demo.start()
                # The first, small window is replaced by the real one.
                deadline = time.time() + 15
                while True:
                    w = demo.window()
                    geo = subprocess.run(["xdotool", "getwindowgeometry", w], env=env,
                                         capture_output=True, text=True).stdout
                    if "800x600" in geo or time.time() > deadline:
                        break
                    time.sleep(0.1)
                # 800 x 600, centred on the 1280 x 720 screen.
                self.assertIn("Geometry: 800x600", geo)
                self.assertIn("Position: 240,60", geo)
                time.sleep(2.5)  # past the loader's 120 updates
                close(demo, env, w)
                self.assertEqual(0, demo.wait_exit(20))
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
