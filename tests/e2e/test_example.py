"""The example game: it starts from its own data folder, draws, scores on a
key press, plays its sound and keeps its best score across runs. It runs
the example's test variant, whose trace lets each press be held until the
game has read it."""
import os
import shutil
import struct
import tempfile
import unittest

import kelp_harness as kh


class Example(unittest.TestCase):
    def test_scores_and_saves_its_best(self):
        src = os.path.join(kh.BUILD_DIR, "examples")
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as root:
            shutil.copy2(os.path.join(src, "hello_kelp_test"), root)
            shutil.copytree(os.path.join(src, "Data"), os.path.join(root, "Data"))
            for run, presses in ((1, 3), (2, 1)):
                demo = kh.Demo(src, x.env(), root=root, exe="hello_kelp_test")
                try:
                    demo.start()
                    demo.window()
                    self.assertTrue(demo.wait_log("Load Wave blip to 1"))
                    for _ in range(presses):
                        demo.hold("z")
                    self.assertEqual(0, demo.quit())
                finally:
                    demo.stop()
                log = demo.log()
                self.assertIn("Load Font  : entplain.png", log)
                self.assertNotIn("OMGERRORZ", log)
                self.assertNotIn("Error Opening Wave", log)
                with open(os.path.join(root, "hello.sav"), "rb") as f:
                    best = struct.unpack("<i", f.read(4))[0]
                # The best of the two runs survives the second, shorter one.
                self.assertEqual(3, best)


if __name__ == "__main__":
    kh.main()
