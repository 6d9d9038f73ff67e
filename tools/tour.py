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
        # The test build: its trace lets the tour hold each key until the
        # demo has read it and wait for each screen, however busy the machine.
        demo = kh.Demo(bin_dir, x.env())
        try:
            demo.start()
            demo.window()

            def shot(name, settle=0.4):
                # A moment for the screen's own animation, for the picture's sake.
                time.sleep(settle)
                before = set(glob.glob(os.path.join(demo.root, "Screenshot_*.png")))
                # Once the demo has read F10 let go, its last save is written.
                demo.hold("F10")
                new = set(glob.glob(os.path.join(demo.root, "Screenshot_*.png"))) - before
                if not new:
                    print("  %-22s (no screenshot was written)" % name)
                    return
                src = sorted(new)[-1]
                dst = os.path.join(out, "%02d-%s.png" % (len(shots) + 1, name))
                shutil.copyfile(src, dst)
                os.remove(src)
                shots.append(dst)
                print("  %-22s %s" % (name, dst))

            def screen(name):
                if not demo.wait_screen(name):
                    raise RuntimeError("the demo never showed its %s screen" % name)

            print("Touring the demo on a virtual display (%s):" % x.display)
            demo.wait_log("Load Image : menu")
            shot("loading", 0.1)
            screen("start")
            shot("start-page")
            demo.hold("z")                    # Start -> level page
            screen("level")
            shot("level-page", 1.0)           # the scoreboard panel slides in
            demo.press("x", "Right", "z")     # back to the start page, Options
            screen("options")
            shot("options", 0.6)
            demo.hold("BackSpace")            # back
            screen("start")
            demo.press("Left", "Left", "Left", "z")   # Start, exit, Credits
            screen("credits")
            shot("credits", 2.5)
            demo.hold("x")                    # close the credits
            screen("start")
            demo.press("Right", "Right", "z")   # exit item, Start, level page
            screen("level")
            demo.hold("z")                    # start a game
            screen("game")
            demo.keydown("z")                 # fire: particles and points
            time.sleep(1.5)
            shot("game-particles", 0.0)
            demo.keyup("z")
            demo.hold("Escape")               # pause
            screen("pause")
            shot("pause-menu", 0.6)
            demo.press("Left", "z")           # Quit
            shot("end-banner", 0.3)
            screen("level")                   # the banner, then the menu
            demo.quit()
        finally:
            demo.cleanup()

    print("%d screenshots in %s" % (len(shots), out))
    return 0 if shots else 1


if __name__ == "__main__":
    sys.exit(main())
