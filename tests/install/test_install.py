"""The framework as another project uses it. The build is installed into a
temporary prefix; the game template is copied out of the repository and
built there against that prefix alone, once through CMake's find_package and
once through pkg-config, and the example game through pkg-config, all with
-Wall -Wextra -Wpedantic and no warning; each build then runs on a private
display with OpenAL's wave device, is heard (the template's music, the
example's effect) without ever setting a volume, and quits cleanly on F4.
The template's Debian package is made with its one command, unpacked,
checked, and run from where it would be installed by a player who cannot
write there."""
import argparse
import glob
import json
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

import kelp_harness as kh

ARGS = None
STRICT_FLAGS = ["-Wall", "-Wextra", "-Wpedantic"]


def run(cmd, env=None, cwd=None):
    r = subprocess.run(cmd, env=env, cwd=cwd, capture_output=True, text=True)
    if r.returncode != 0:
        raise AssertionError("%s failed (%d)\n--- stdout:\n%s\n--- stderr:\n%s" %
                             (" ".join(cmd), r.returncode, r.stdout[-4000:], r.stderr[-4000:]))
    return r


def wait_heard(wav):
    """True once OpenAL's wave device has written a sample that is not
    silence; False if it never does."""
    def heard():
        try:
            _, _, frames = kh.read_wave_output(wav)
        except (OSError, ValueError):
            return False
        return any(abs(f[0]) > 0.01 or abs(f[1]) > 0.01 for f in frames)
    return kh.wait_until(heard, poll=0.2)


def readme_api_section():
    with open(os.path.join(ARGS.source_dir, "README.md"), encoding="utf-8") as f:
        text = f.read()
    m = re.search(r"^## The `KELPCore` API\n(.*?)^## ", text, re.S | re.M)
    if not m:
        raise AssertionError("README has no API section")
    return m.group(1)


def package_of(lib):
    """The Debian package that holds the shared library `lib` on this machine."""
    m = re.search(r"^\s*%s \(.*\) => (\S+)$" % re.escape(lib), run(["ldconfig", "-p"]).stdout, re.M)
    if not m:
        raise AssertionError("%s is not installed" % lib)
    path = m.group(1)
    for candidate in (path, os.path.realpath(path), "/usr" + path):
        r = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
        if r.returncode == 0:
            return r.stdout.split(":", 1)[0]
    raise AssertionError("no package holds %s" % path)


class Installed(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="kelp-install-")
        cls.prefix = os.path.join(cls.tmp, "prefix")
        run([ARGS.cmake, "--install", ARGS.build_dir, "--prefix", cls.prefix])
        pcs = glob.glob(os.path.join(cls.prefix, "**", "pkgconfig", "kelp.pc"), recursive=True)
        if len(pcs) != 1:
            raise AssertionError("expected one kelp.pc under the prefix, found %s" % pcs)
        cls.env = dict(os.environ)
        cls.env["PKG_CONFIG_PATH"] = os.path.dirname(pcs[0])
        cls.cxx_flags = shlex.split(ARGS.cxx_flags)

    @classmethod
    def tearDownClass(cls):
        if os.environ.get("KELP_KEEP_ROOT") is None:
            shutil.rmtree(cls.tmp, ignore_errors=True)

    def installed(self, name):
        found = glob.glob(os.path.join(self.prefix, "**", name), recursive=True)
        self.assertEqual(1, len(found), "%s under the prefix: %s" % (name, found))
        return found[0]

    def template(self):
        """The template as the prefix holds it, with its assets."""
        folder = os.path.join(self.prefix, "share", "kelp", "templates", "new-game")
        self.assertTrue(os.path.isfile(os.path.join(folder, "game.cpp")), folder)
        return folder

    def assert_outside_repository(self, text, what):
        for tree in (ARGS.source_dir, ARGS.build_dir):
            self.assertNotIn(tree, text, "%s refers to %s" % (what, tree))

    def test_installs_library_headers_and_package_files(self):
        for name in ("libkelp.a", "KELPConfig.cmake", "KELPConfigVersion.cmake", "KELPTargets.cmake"):
            self.installed(name)
        for rel in ("include/kelp/KELPCore.h", "share/man/man3/kelp.3"):
            self.assertTrue(os.path.isfile(os.path.join(self.prefix, rel)), rel)
        # The game API is the only header: the platform layer stays inside.
        self.assertEqual(["KELPCore.h"], sorted(os.listdir(os.path.join(self.prefix, "include", "kelp"))))
        # Nothing installed leads back into the sources or the build.
        for path in glob.glob(os.path.join(self.prefix, "**", "*"), recursive=True):
            if os.path.isfile(path) and not path.endswith(".a"):
                with open(path, "rb") as f:
                    self.assert_outside_repository(f.read().decode("utf-8", "replace"), path)
        # One version everywhere.
        self.assertEqual(ARGS.version, run(["pkg-config", "--modversion", "kelp"], env=self.env).stdout.strip())
        with open(self.installed("KELPConfigVersion.cmake")) as f:
            self.assertIn('set(PACKAGE_VERSION "%s")' % ARGS.version, f.read())

    def test_manual_page_carries_the_readme_api(self):
        if shutil.which("groff") is None:
            self.skipTest("groff is not installed: the page cannot be rendered")
        # Rendered as man would, without hyphenation or line breaks inside a
        # paragraph, so that names can be looked for whole; groff's warnings
        # (bad requests, unknown escapes) go to stderr.
        r = run(["groff", "-k", "-man", "-Tutf8", "-ww", "-rHY=0", "-rLL=2000n", "-P-cbou",
                 os.path.join(self.prefix, "share/man/man3/kelp.3")])
        self.assertEqual("", r.stderr)
        page = re.sub(r"\s+", " ", r.stdout)
        section = readme_api_section()
        groups = re.findall(r"^- \*\*([^*]+)\*\* — ", section, re.M)
        names = re.findall(r"`([^`]+)`", section)
        self.assertGreater(len(groups), 8)
        self.assertGreater(len(names), 100)
        for text in groups + names:
            self.assertIn(re.sub(r"\s+", " ", text), page)
        # Links read as their text; the installed guide, template and header
        # are named where they are.
        self.assertNotIn("](", page)
        for rel in ("share/doc/kelp/writing-a-game.md", "share/kelp/templates/new-game/", "include/kelp/KELPCore.h"):
            self.assertIn(os.path.join(self.prefix, rel), page)

    def test_template_builds_out_of_tree_and_runs(self):
        template = os.path.join(self.tmp, "new-game")
        shutil.copytree(self.template(), template)
        warn_flags = self.cxx_flags + STRICT_FLAGS

        # CMake: find_package(KELP) with the prefix as the only way to it.
        cmake_build = os.path.join(self.tmp, "cmake-build")
        run([ARGS.cmake, "-S", template, "-B", cmake_build, "-DCMAKE_PREFIX_PATH=" + self.prefix,
             "-DCMAKE_CXX_COMPILER=" + ARGS.cxx, "-DCMAKE_CXX_FLAGS=" + " ".join(warn_flags),
             "-DCMAKE_EXE_LINKER_FLAGS=" + ARGS.cxx_flags, "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON"],
            env=self.env)
        built = run([ARGS.cmake, "--build", cmake_build], env=self.env)
        self.assertNotIn("warning:", built.stdout + built.stderr)
        with open(os.path.join(cmake_build, "compile_commands.json")) as f:
            commands = json.load(f)
        self.assertEqual(1, len(commands))
        self.assert_outside_repository(commands[0]["command"], "the template's compile command")
        self.assertIn(os.path.join(self.prefix, "include"), commands[0]["command"])

        # pkg-config: one compiler call, the data folder beside the program.
        flags = run(["pkg-config", "--cflags", "--libs", "kelp"], env=self.env).stdout
        self.assert_outside_repository(flags, "pkg-config --cflags --libs kelp")
        pc_build = os.path.join(self.tmp, "pc-build")
        shutil.copytree(os.path.join(template, "Data"), os.path.join(pc_build, "Data"))
        built = run([ARGS.cxx, "-std=c++17"] + warn_flags +
                    [os.path.join(template, "game.cpp"), "-o", os.path.join(pc_build, "newgame")] +
                    shlex.split(flags), env=self.env)
        self.assertNotIn("warning:", built.stdout + built.stderr)

        for bin_dir in (cmake_build, pc_build):
            with self.subTest(build=os.path.basename(bin_dir)):
                # A fresh data root each, saved into on the way out, after
                # the loop ended.
                demo = self.play(bin_dir, self.env)
                try:
                    self.assertTrue(os.path.isfile(os.path.join(demo.root, "newgame.sav")))
                finally:
                    demo.cleanup()

    def test_template_debian_package_unpacks_and_runs(self):
        """The template's one command for its Debian package; the package
        unpacked into a scratch root as dpkg would put it under /: its
        control data, its files, and the game run from there by a player."""
        template = os.path.join(self.tmp, "deb-game")
        shutil.copytree(self.template(), template)
        build = os.path.join(template, "build")
        run([ARGS.cmake, "-S", template, "-B", build, "-DCMAKE_PREFIX_PATH=" + self.prefix,
             "-DCMAKE_CXX_COMPILER=" + ARGS.cxx, "-DCMAKE_CXX_FLAGS=" + ARGS.cxx_flags,
             "-DCMAKE_EXE_LINKER_FLAGS=" + ARGS.cxx_flags], env=self.env)
        start = time.time()
        run([ARGS.cmake, "--build", build, "--target", "package"], env=self.env)
        print("the template's build and package: %.0f s" % (time.time() - start), flush=True)
        arch = run(["dpkg", "--print-architecture"]).stdout.strip()
        debs = glob.glob(os.path.join(build, "*.deb"))
        self.assertEqual([os.path.join(build, "newgame_0.1.0_%s.deb" % arch)], debs)
        deb = debs[0]

        fields = {}
        for name in ("Package", "Version", "Architecture", "Section", "Maintainer", "Depends", "Description"):
            fields[name] = run(["dpkg-deb", "-f", deb, name]).stdout.strip()
        self.assertEqual({"Package": "newgame", "Version": "0.1.0", "Architecture": arch, "Section": "games",
                          "Maintainer": "New Game's author <author@example.org>"},
                         {k: v for k, v in fields.items() if k not in ("Depends", "Description")})
        # The synopsis, then a long description an archive asks for.
        self.assertEqual(["steer a ship and pick up stars", " New Game is a game made with the KELP 2D game framework."],
                         fields["Description"].splitlines())
        self.assertIn("Depends:", run(["dpkg-deb", "-I", deb]).stdout)
        # Every library the program is linked with comes from a declared package.
        root = os.path.join(self.tmp, "deb-root")
        run(["dpkg-deb", "-x", deb, root])
        program = os.path.join(root, "usr", "games", "newgame")
        declared = {d.split()[0] for d in fields["Depends"].split(",")}
        needed = re.findall(r"NEEDED\s+(\S+)", run(["objdump", "-p", program]).stdout)
        self.assertIn("libglfw.so.3", needed)
        for lib in needed:
            if re.match(r"lib(a|ub|l|t)san", lib):
                continue
            self.assertIn(package_of(lib), declared, "%s is needed but its package is not in Depends" % lib)

        files = sorted(os.path.relpath(os.path.join(d, f), root) for d, _, names in os.walk(root) for f in names)
        self.assertEqual(["usr/games/newgame", "usr/share/applications/newgame.desktop",
                          "usr/share/doc/newgame/changelog.gz", "usr/share/doc/newgame/copyright",
                          "usr/share/games/newgame/Data/100/audio/music.ogg",
                          "usr/share/games/newgame/Data/100/audio/pickup.wav",
                          "usr/share/games/newgame/Data/100/entplain.png",
                          "usr/share/games/newgame/Data/100/sprites.png",
                          "usr/share/icons/hicolor/64x64/apps/newgame.png",
                          "usr/share/man/man6/newgame.6.gz"], files)
        self.assertTrue(os.access(program, os.X_OK))
        with open(os.path.join(root, "usr/share/applications/newgame.desktop")) as f:
            entry = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertEqual({"Type": "Application", "Name": "New Game", "Comment": "steer a ship and pick up stars",
                          "Exec": "/usr/games/newgame", "Icon": "newgame", "Terminal": "false",
                          "Categories": "Game;ArcadeGame;"}, entry)

        # What an archive asks of a package: its copyright in the
        # machine-readable format, a changelog (a native version's name),
        # compressed with no time stamp, a manual page for the program; and
        # Debian's own checker finds no error in it.
        with open(os.path.join(root, "usr/share/doc/newgame/copyright")) as f:
            copyright = f.read()
        self.assertTrue(copyright.startswith(
            "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"), copyright)
        self.assertRegex(copyright, r"\nFiles: \*\nCopyright: 20\d\d New Game's author\nLicense: all-rights-reserved\n")
        self.assertIn("\nLicense: all-rights-reserved\n All rights reserved", copyright)
        for name in ("usr/share/doc/newgame/changelog.gz", "usr/share/man/man6/newgame.6.gz"):
            with open(os.path.join(root, name), "rb") as f:
                packed = f.read()
            self.assertEqual(b"\0\0\0\0", packed[4:8], "%s has a time stamp" % name)
        changelog = run(["zcat", os.path.join(root, "usr/share/doc/newgame/changelog.gz")]).stdout
        self.assertEqual("newgame (0.1.0) unstable; urgency=medium", changelog.splitlines()[0])
        self.assertRegex(changelog, r"\n -- New Game's author <author@example.org>  \w{3}, \d\d \w{3} 20\d\d ")
        if shutil.which("lintian") is None:
            print("lintian is not installed (scripts/setup.sh installs it): the package is not checked",
                  flush=True)
        else:
            # Its warnings and notes are printed; an error fails the test.
            checked = subprocess.run(["lintian", "--pedantic", "-I", deb], capture_output=True, text=True)
            print("lintian:\n" + checked.stdout, flush=True)
            self.assertEqual([], re.findall(r"^E: .*$", checked.stdout, re.M), checked.stdout + checked.stderr)
            self.assertEqual(0, checked.returncode, checked.stdout + checked.stderr)

        # Run from the unpacked tree by a player who cannot write there: the
        # data is found in share/games/, the save goes to the player's folder.
        os.chmod(self.tmp, 0o755)
        if os.geteuid() != 0:
            for d, _, _ in os.walk(root):
                os.chmod(d, 0o555)
        home = os.path.join(self.tmp, "deb-home")
        logs = os.path.join(self.tmp, "deb-logs")
        os.makedirs(home)
        os.makedirs(logs)
        wrapper, env = kh.as_player(self.env, home)
        data_root = os.path.join(root, "usr", "share", "games", "newgame")
        folder = os.path.join(home, ".local", "share", "newgame")
        try:
            demo = self.play(None, env, hear=False, root=os.path.dirname(program), wrapper=wrapper, data=False,
                             log_dir=logs)
        finally:
            for d, _, _ in os.walk(root):
                os.chmod(d, 0o755)
        log = demo.log()
        self.assertIn("Root %s\n" % data_root, log)
        self.assertIn("> Saves go to %s (%s cannot be written)\n" % (folder, data_root), log)
        self.assertIn("> No save yet: %s/newgame.sav (file not found)\n" % folder, log)
        self.assertNotIn("Error Writing File", log)
        self.assertEqual(4, os.path.getsize(os.path.join(folder, "newgame.sav")))

    def play(self, bin_dir, env, exe="newgame", ready="New Game ready", what="the template's music", key=None,
             hear=True, **where):
        """Runs a game on a private display until `ready` is logged, then
        quits it with F4, and checks what every run of it logs; returns the
        stopped Demo. With `hear`, OpenAL writes to its wave device and the
        game must be heard first (holding `key` down until then, if given),
        without the game ever setting a volume."""
        with kh.Xvfb() as x, tempfile.TemporaryDirectory() as audio:
            wav = os.path.join(audio, "out.wav")
            game_env = kh.wave_audio_env(x.env(env), wav, audio) if hear else x.env(env)
            demo = kh.Demo(bin_dir, game_env, exe=exe, trace=False, **where)
            try:
                demo.start()
                self.assertTrue(demo.wait_log(ready), demo.log())
                demo.window()
                if hear:
                    if key:
                        demo.keydown(key)
                    self.assertTrue(wait_heard(wav), what + " was never heard\n" + demo.log())
                    if key:
                        demo.keyup(key)
                self.assertEqual(0, demo.quit(), demo.log())
            finally:
                demo.stop()
        log = demo.log()
        if hear:
            self.assertIn("OpenAL Audio Engaged!", log)
        self.assertIn("Farewell happy gamer", log)
        for fault in ("OMGERRORZ", "Error Opening", "Rejected", "Missing Image"):
            self.assertNotIn(fault, log)
        if exe == "newgame":
            self.assertIn("Loaded Spritesheet of 9 x 32x32 sprites", log)
            self.assertIn("Load Wave pickup to 1", log)
        return demo

    def test_example_builds_out_of_tree_and_is_heard(self):
        # The example is the other game a new author reads: it builds from
        # the installed package alone as the template does, so the two
        # cannot drift apart, and its effect is heard at the default volume.
        game = os.path.join(self.tmp, "hello")
        shutil.copytree(os.path.join(ARGS.build_dir, "examples", "Data"), os.path.join(game, "Data"))
        flags = run(["pkg-config", "--cflags", "--libs", "kelp"], env=self.env).stdout
        built = run([ARGS.cxx, "-std=c++17"] + self.cxx_flags + STRICT_FLAGS +
                    [os.path.join(ARGS.source_dir, "examples", "hello", "hello.cpp"),
                     "-o", os.path.join(game, "hello")] + shlex.split(flags), env=self.env)
        self.assertNotIn("warning:", built.stdout + built.stderr)
        # Nothing sounds until Z scores a point: Z is held until the blip is heard.
        demo = self.play(game, self.env, exe="hello", ready="Load Wave blip to 1", what="the example's effect",
                         key="z")
        try:
            with open(os.path.join(demo.root, "hello.sav"), "rb") as f:
                self.assertGreaterEqual(struct.unpack("<i", f.read(4))[0], 1)
        finally:
            demo.cleanup()

    def test_the_library_leaves_every_other_name_to_the_game(self):
        """Every data symbol the library defines is in a namespace (or a
        class) or carries the kelp prefix, so a game's own globals cannot
        collide with it; a game whose globals have the framework's internal
        names (and a `string` of its own) builds, links, runs and keeps its
        values."""
        listing = run(["nm", "-C", "--defined-only", self.installed("libkelp.a")]).stdout
        stray = set()
        for line in listing.splitlines():
            parts = line.split(None, 2)
            if len(parts) < 3 or parts[1] not in "BDGRSVu":
                continue
            name = re.sub(r"^(vtable|typeinfo|typeinfo name|guard variable|VTT|construction vtable) for ", "",
                          parts[2])
            # The compiler's own: references to exceptions' typeinfo, and the
            # typeinfo of function types that sanitizers check calls against.
            if name.startswith("DW.ref.") or not re.match(r"[A-Za-z_]", name) or " (" in name:
                continue
            if "::" not in name.split("(")[0] and not name.lower().startswith("kelp"):
                stray.add(name)
        self.assertEqual(set(), stray, "data symbols outside a namespace")

        game = os.path.join(self.tmp, "own-globals")
        os.makedirs(os.path.join(game, "Data", "7"))
        source = os.path.join(game, "names.cpp")
        names = ["Image", "Wireframe", "TexUse", "Button", "Joy", "Touch", "DrawR", "window", "ASys", "KeyName",
                 "FileOpen", "ALsource", "jRand_Seed", "GameStartTime", "TempstrUse", "DebugMessages",
                 "UpdateCountLive", "InputFocused", "ClockNowMs", "webBuffer", "DrawToRT", "fontw"]
        with open(source, "w") as f:
            f.write("#include <kelp/KELPCore.h>\n#include <cstdio>\n"
                    "int %s;\n" % ", ".join(names) +
                    "struct string {};\n"
                    "int error_callback(int code) { return code; }\n"
                    "class Game : public KELPCore {};\n"
                    "static Game game;\n"
                    "int main(int, char** argv) {\n"
                    "    int* own[] = {%s};\n" % ", ".join("&" + n for n in names) +
                    "    const int count = int(sizeof own / sizeof own[0]);\n"
                    "    for (int i = 0; i < count; i++) *own[i] = 1000 + i;\n"
                    "    game.SetDataRoot(argv[0]);\n"
                    "    game.Begin(7, \"Own Globals\");\n"
                    "    if (game.WindowFailed()) return 2;\n"
                    "    game.BindKeys();\n"
                    "    game.showStats = 0;\n"
                    "    int updates = 0;\n"
                    "    game.RunLoop([&] {\n"
                    "        for (int n = game.UpdatesDue(16); n > 0; n--) {\n"
                    "            game.PollInput(0);\n"
                    "            game.ResetDraw();\n"
                    "            game.SetCol(200, 40, 40);\n"
                    "            game.Rect(400, 300, 100, 100);\n"
                    "            game.BufferGame();\n"
                    "            if (++updates == 30) game.Debuglog(\"Own globals ready\");\n"
                    "        }\n"
                    "        game.RenderGame(game.screenW, game.screenH);\n"
                    "        return game.quitRequested == 0;\n"
                    "    }, [&] { game.Terminate(); });\n"
                    "    int kept = 0;\n"
                    "    for (int i = 0; i < count; i++) kept += *own[i] == 1000 + i;\n"
                    "    printf(\"Own globals kept: %d of %d\\n\", kept, count);\n"
                    "    return kept == count && error_callback(0) == 0 ? 0 : 3;\n"
                    "}\n")
        flags = run(["pkg-config", "--cflags", "--libs", "kelp"], env=self.env).stdout
        built = run([ARGS.cxx, "-std=c++17"] + self.cxx_flags + STRICT_FLAGS +
                    [source, "-o", os.path.join(game, "names")] + shlex.split(flags), env=self.env)
        self.assertNotIn("warning:", built.stdout + built.stderr)
        demo = self.play(game, self.env, exe="names", ready="Own globals ready", hear=False)
        try:
            self.assertIn("Own globals kept: %d of %d\n" % (len(names), len(names)), demo.log())
        finally:
            demo.cleanup()

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    for flag in ("--cmake", "--build-dir", "--source-dir", "--cxx", "--version"):
        parser.add_argument(flag, required=True)
    parser.add_argument("--cxx-flags", default="")
    ARGS, rest = parser.parse_known_args()
    ARGS.source_dir = os.path.realpath(ARGS.source_dir)
    ARGS.build_dir = os.path.realpath(ARGS.build_dir)
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)
