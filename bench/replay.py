#!/usr/bin/env python3
"""Each of the demo's scenes beside a replay of its own GL calls, on one
private display: how much of a scene's render is the framework's own cost
and how much is the GL work of what it draws.

Each scene is shown alone (`bench_scenes --scene K`) under `apitrace trace`,
which records its GL calls; `apitrace replay` (glretrace, benchmark mode)
then replays the last recorded frame, one of the scene's, over and over, and
times each replay. The scene's own render (the render only: list walk, GL
calls, swap and event pump) is timed by bench_scenes in a run without the
tracer. The two take turns, a round at a time, so that a change in machine
load hits both alike; the ratio is taken in each round and the median of the
rounds printed with its range. A ratio of 1 means the render costs what its
GL calls cost when nothing else is done.

Prints a table; asserts nothing. Builds nothing: build bench_scenes first.
Given several builds (--build A --build B: a tree before a change and one
after it), each round runs them all in turn, and each gets its own table.
    python3 bench/replay.py [--build build ...] [--frames 200] [--rounds 3]
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
import kelp_harness as kh  # noqa: E402


def median(values):
    v = sorted(values)
    return v[len(v) // 2] if v else 0.0


def run(cmd, env):
    return subprocess.run(cmd, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True).stdout


def render_ms(bench, k, frames, env):
    """(name, median render ms) of scene k in bench_scenes, or None past the last scene."""
    m = re.search(r"^scene %d (.*): render median ([0-9.]+) ms" % k, run([bench, "--scene", str(k), str(frames)], env),
                  re.M)
    return (m.group(1), float(m.group(2))) if m else None


def replay_ms(trace, frames, env):
    """Median time of the trace's last frame replayed `frames` times (ms)."""
    out = run(["glretrace", "-b", "--loop=%d" % frames, "--pframes=opengl: [0, 1]", trace], env)
    times = [int(line.split()[1]) / 1e6 for line in out.splitlines() if line.startswith("frame\t")]
    return median(times[-frames:])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", action="append")
    ap.add_argument("--frames", type=int, default=200)
    ap.add_argument("--rounds", type=int, default=3)
    args = ap.parse_args()
    builds = [os.path.abspath(b) for b in (args.build or [os.path.join(HERE, "..", "build")])]
    for tool in ("apitrace", "glretrace"):
        if not shutil.which(tool):
            sys.exit("%s is missing (Debian's apitrace package; scripts/setup.sh installs it)" % tool)
    tmp = tempfile.mkdtemp(prefix="kelp-replay-")
    conf = os.path.join(tmp, "alsoft.conf")
    with open(conf, "w") as f:
        f.write("[wave]\nfile=/dev/null\n")
    scenes = {}   # build: [(name, trace)]
    rows = {}     # (build, name): (render times, replay times, ratios)
    try:
        with kh.Xvfb() as x:
            env = dict(x.env(), ALSOFT_DRIVERS="wave", ALSOFT_CONF=conf)
            for n, build in enumerate(builds):
                bench = os.path.join(build, "bench", "bench_scenes")
                scenes[build] = []
                while True:
                    k = len(scenes[build])
                    trace = os.path.join(tmp, "build%d-scene%d.trace" % (n, k))
                    out = run(["apitrace", "trace", "-o", trace, bench, "--scene", str(k), "5"], env)
                    m = re.search(r"^scene %d (.*): render median" % k, out, re.M)
                    if not m or not os.path.exists(trace):
                        break
                    scenes[build].append((m.group(1), trace))
                    rows[(build, m.group(1))] = ([], [], [])
                if not scenes[build]:
                    sys.exit("no scene was traced (is %s built?)" % bench)
            for _ in range(args.rounds):
                for k in range(max(len(v) for v in scenes.values())):
                    for build in builds:
                        if k >= len(scenes[build]):
                            continue
                        name, trace = scenes[build][k]
                        ours = render_ms(os.path.join(build, "bench", "bench_scenes"), k, args.frames, env)
                        theirs = replay_ms(trace, args.frames, env)
                        if ours and theirs > 0:
                            row = rows[(build, name)]
                            row[0].append(ours[1])
                            row[1].append(theirs)
                            row[2].append(ours[1] / theirs)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    for build in builds:
        print("%s: each scene's render beside the replay of its own GL calls (%d frames each, %d rounds; ms, "
              "medians)\n" % (build, args.frames, args.rounds))
        print("| %-26s | %7s | %7s | %14s | %11s |" % ("scene", "render", "replay", "render/replay", "range"))
        print("|%s|%s|%s|%s|%s|" % ("-" * 28, "-" * 8 + ":", "-" * 8 + ":", "-" * 15 + ":", "-" * 12 + ":"))
        for name, _ in scenes[build]:
            ours, theirs, ratios = rows[(build, name)]
            if not ratios:
                continue
            print("| %-26s | %7.2f | %7.2f | %14.2f | %5.2f–%-5.2f |" % (name, median(ours), median(theirs),
                                                                          median(ratios), min(ratios), max(ratios)))
        print()


if __name__ == "__main__":
    main()
