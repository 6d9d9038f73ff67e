#!/usr/bin/env python3
"""A short scripted tour of the demo on a virtual display.

Runs the demo in a fresh data root under a private Xvfb, walks through its
screens with real key presses, saves a screenshot of each with F10, quits,
and prints where the pictures are.

usage: tour.py [--bin-dir build/bin] [--out build/tour]
"""
import glob
import os
import shutil
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
import kelp_harness as kh  # noqa: E402


def arg(name, default):
    return sys.argv[sys.argv.index(name) + 1] if name in sys.argv else default


def main():
    bin_dir = os.path.abspath(arg("--bin-dir", os.path.join(HERE, "..", "build", "bin")))
    out = os.path.abspath(arg("--out", os.path.join(HERE, "..", "build", "tour")))
    os.makedirs(out, exist_ok=True)
    for old in glob.glob(os.path.join(out, "*.png")):
        os.remove(old)
    shots = []

    with kh.Xvfb() as x:
        demo = kh.Demo(bin_dir, x.env())
        try:
            demo.start()
            demo.window()

            def shot(name, settle=0.4):
                time.sleep(settle)
                before = set(glob.glob(os.path.join(demo.root, "Screenshot_*.png")))
                demo.hold("F10", 0.05)
                deadline = time.time() + 5
                while time.time() < deadline:
                    new = set(glob.glob(os.path.join(demo.root, "Screenshot_*.png"))) - before
                    if new:
                        time.sleep(0.2)  # let the last render's file be written whole
                        src = sorted(new)[-1]
                        dst = os.path.join(out, "%02d-%s.png" % (len(shots) + 1, name))
                        shutil.copyfile(src, dst)
                        os.remove(src)
                        shots.append(dst)
                        print("  %-22s %s" % (name, dst))
                        return
                    time.sleep(0.05)
                print("  %-22s (no screenshot was written)" % name)

            print("Touring the demo on a virtual display (%s):" % x.display)
            demo.wait_log("Load Image : menu", 20)
            shot("loading", 0.1)
            demo.wait_log("Load Image : gfx", 30)
            time.sleep(2.5)                   # the loader runs 120 updates
            shot("start-page")
            demo.hold("z")                    # Start -> level page
            shot("level-page", 1.0)           # the scoreboard panel slides in
            demo.hold("x")                    # back to the start page
            demo.hold("Right")                # Options
            demo.hold("z")
            shot("options", 0.6)
            demo.hold("BackSpace")            # back
            for _ in range(3):
                demo.hold("Left")             # Start, exit, Credits
            demo.hold("z")
            shot("credits", 2.5)
            demo.hold("x")                    # close the credits
            demo.hold("Right")                # exit item
            demo.hold("Right")                # Start
            demo.hold("z")                    # level page
            time.sleep(0.5)
            demo.hold("z")                    # start a game
            time.sleep(0.5)
            demo.keydown("z")                 # fire: particles and points
            time.sleep(1.5)
            shot("game-particles", 0.0)
            demo.keyup("z")
            demo.hold("Escape")               # pause
            shot("pause-menu", 0.6)
            demo.hold("Left")                 # Quit
            demo.hold("z")
            shot("end-banner", 0.3)
            time.sleep(2.5)                   # the banner, then the menu
            demo.hold("F4")
            demo.wait_exit(15)
        finally:
            demo.cleanup()

    print("%d screenshots in %s" % (len(shots), out))
    return 0 if shots else 1


if __name__ == "__main__":
    sys.exit(main())
