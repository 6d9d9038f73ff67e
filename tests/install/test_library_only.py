"""The framework alone, as an author builds it: a fresh tree configured with
-DKELP_LIBRARY_ONLY=ON, built and installed into a temporary prefix. Nothing
of the demo, the tools, the examples, the tests or the benchmarks is
configured or built; the prefix holds the library, its header, the CMake
package, kelp.pc, the manual page, the guide, the template with its assets
and kelp-new-game, and nothing else. kelp-new-game then starts a game that
builds against that prefix alone, with no warning, and runs (heard, saved
under its own name, ended with F4)."""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

import kelp_harness as kh

ARGS = None


def run(cmd, **kw):
    r = subprocess.run(cmd, capture_output=True, text=True, **kw)
    if r.returncode != 0:
        raise AssertionError("%s failed (%d)\n--- stdout:\n%s\n--- stderr:\n%s" %
                             (" ".join(cmd), r.returncode, r.stdout[-4000:], r.stderr[-4000:]))
    return r


def listing(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, files in os.walk(folder) for f in files)


class LibraryOnly(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="kelp-library-only-")
        cls.build = os.path.join(cls.tmp, "build-lib")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        steps = [
            ("configure", [ARGS.cmake, "-S", ARGS.source_dir, "-B", cls.build, "-DKELP_LIBRARY_ONLY=ON",
                           "-DCMAKE_CXX_COMPILER=" + ARGS.cxx]),
            ("build", [ARGS.cmake, "--build", cls.build, "-j2"]),
            ("install", [ARGS.cmake, "--install", cls.build, "--prefix", cls.prefix]),
        ]
        cls.said = ""
        for name, cmd in steps:
            start = time.time()
            r = run(cmd)
            cls.said += r.stdout + r.stderr
            print("the framework alone, %s: %.0f s" % (name, time.time() - start), flush=True)

    @classmethod
    def tearDownClass(cls):
        if os.environ.get("KELP_KEEP_ROOT") is None:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def test_only_the_framework_is_configured_and_built(self):
        self.assertNotIn("warning", self.said.lower())
        # The build's own targets (not CMake's: all, clean, install ...).
        listed = run([ARGS.cmake, "--build", self.build, "--target", "help"]).stdout
        # (The per-file targets, core/Draw.o and the like, are the library's.)
        targets = {line[4:].split()[0] for line in listed.splitlines() if line.startswith("... ")}
        targets = {t for t in targets if "/" not in t}
        cmake_own = {"all", "clean", "depend", "edit_cache", "install", "install/local", "install/strip",
                     "list_install_components", "rebuild_cache"}
        self.assertEqual({"kelp", "kelp_records", "kelp_man"}, targets - cmake_own)
        # No program of any kind was made (CMake's own compiler checks aside),
        # and nothing of the demo's generated data.
        programs = []
        for d, dirs, files in os.walk(self.build):
            dirs[:] = [x for x in dirs if x != "CMakeFiles"]
            for f in files:
                path = os.path.join(d, f)
                with open(path, "rb") as fh:
                    if fh.read(4) == b"\x7fELF" and os.access(path, os.X_OK):
                        programs.append(os.path.relpath(path, self.build))
        self.assertEqual([], programs)
        self.assertFalse(os.path.exists(os.path.join(self.build, "bin")))
        self.assertFalse(os.path.exists(os.path.join(self.build, "tests")))

    def test_the_prefix_holds_the_framework_and_the_kit(self):
        template = ["share/kelp/templates/new-game/" + f for f in listing(
            os.path.join(ARGS.source_dir, "templates", "new-game")) if not f.startswith("build")]
        expected = sorted([
            "bin/kelp-new-game",
            "include/kelp/KELPCore.h",
            "lib/libkelp.a",
            "lib/pkgconfig/kelp.pc",
            "share/doc/kelp/writing-a-game.md",
            "share/man/man3/kelp.3",
        ] + ["lib/cmake/KELP/" + f for f in ("KELPConfig.cmake", "KELPConfigVersion.cmake", "KELPDebian.cmake",
                                               "KELPDependencies.cmake", "KELPTargets.cmake")] + template)
        got = [f for f in listing(self.prefix) if not f.startswith("lib/cmake/KELP/KELPTargets-")]
        self.assertEqual(expected, got)
        self.assertTrue(os.access(os.path.join(self.prefix, "bin/kelp-new-game"), os.X_OK))
        # The template and the guide ask for nothing of the sources.
        for rel in ("share/kelp/templates/new-game/README.md", "share/kelp/templates/new-game/game.cpp",
                    "share/kelp/templates/new-game/CMakeLists.txt", "share/doc/kelp/writing-a-game.md"):
            with open(os.path.join(self.prefix, rel), encoding="utf-8") as f:
                text = f.read()
            for needed in ("gen_audio", "](../", "cp -r templates", "docs/writing-a-game.md"):
                self.assertNotIn(needed, text, rel)
            # The template where the prefix holds it, never the sources' folder.
            self.assertNotRegex(text, r"(?<!share/kelp/)templates/new-game/", rel)

    def test_kelp_new_game_starts_a_game_that_builds_against_the_prefix_and_runs(self):
        command = os.path.join(self.prefix, "bin", "kelp-new-game")
        games = os.path.join(self.tmp, "games")
        os.makedirs(games)
        # A name that cannot name a package, and a folder already in use,
        # are refused before anything is copied.
        for args, why in ((["bad-name", "Space_Rocks"], "cannot name a program"),
                          ([games], "is not an empty folder")):
            os.makedirs(os.path.join(games, "keep"), exist_ok=True)
            r = subprocess.run([command] + args, capture_output=True, text=True, cwd=games)
            self.assertEqual(1, r.returncode, r.stderr)
            self.assertIn(why, r.stderr)
        self.assertEqual(["keep"], sorted(os.listdir(games)))

        folder = os.path.join(games, "Space Rocks")
        r = run([command, folder, "space-rocks"])
        self.assertIn("cmake -S . -B build -DCMAKE_PREFIX_PATH=%s" % self.prefix, r.stdout)
        self.assertEqual(["CMakeLists.txt", "Data/100/audio/music.ogg", "Data/100/audio/pickup.wav",
                          "Data/100/entplain.png", "Data/100/sprites.png", "README.md", "game.cpp",
                          "space-rocks.png"], listing(folder))
        for name in ("CMakeLists.txt", "README.md", "game.cpp"):
            with open(os.path.join(folder, name), encoding="utf-8") as f:
                self.assertNotIn("newgame", f.read(), name)

        build = os.path.join(folder, "build")
        strict = "-Wall -Wextra -Wpedantic"
        run([ARGS.cmake, "-S", folder, "-B", build, "-DCMAKE_PREFIX_PATH=" + self.prefix,
             "-DCMAKE_CXX_COMPILER=" + ARGS.cxx, "-DCMAKE_CXX_FLAGS=" + strict])
        built = run([ARGS.cmake, "--build", build])
        self.assertNotIn("warning:", built.stdout + built.stderr)

        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as audio:
            wav = os.path.join(audio, "out.wav")
            env = kh.wave_audio_env(x.env(os.environ), wav, audio)
            game = kh.Demo(build, env, root=build, exe="space-rocks", trace=False)
            try:
                game.start()
                self.assertTrue(game.wait_log("New Game ready"), game.log())
                game.window()

                def heard():
                    try:
                        _, _, frames = kh.read_wave_output(wav)
                    except (OSError, ValueError):
                        return False
                    return any(abs(f[0]) > 0.01 or abs(f[1]) > 0.01 for f in frames)
                self.assertTrue(kh.wait_until(heard, poll=0.2), "its music was never heard\n" + game.log())
                self.assertEqual(0, game.quit(), game.log())
            finally:
                game.stop()
        self.assertIn("Farewell happy gamer", game.log())
        self.assertTrue(os.path.isfile(os.path.join(build, "space-rocks.sav")))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for flag in ("--cmake", "--source-dir", "--cxx"):
        parser.add_argument(flag, required=True)
    ARGS, rest = parser.parse_known_args()
    ARGS.source_dir = os.path.realpath(ARGS.source_dir)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
