"""Saves of a game installed where its player cannot write: the demo copied
into a folder that is read-only for the player (run as `nobody` when the
tests run as root), started twice from there as that player. Its settings,
save and screenshots go to ~/.local/share/<program>/, which the log names
once; nothing is written beside the program; the second start has the
first's play count and user ID. With no player's folder that can be
written, the temporary folder keeps the player the same."""
import os
import re
import shutil
import stat
import struct
import tempfile
import unittest

import kelp_harness as kh

SAVE = "Save_550_Test Game.sav"


def ints(path):
    with open(path, "rb") as f:
        data = f.read()
    return struct.unpack("<%di" % (len(data) // 4), data[:len(data) // 4 * 4])


def listing(folder):
    return sorted(os.path.relpath(os.path.join(d, f), folder) for d, _, files in os.walk(folder) for f in files)


class InstalledSaves(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="kelp-installed-")
        os.chmod(self.tmp, 0o755)
        self.game = os.path.join(self.tmp, "game")
        self.home = os.path.join(self.tmp, "home")
        self.logs = os.path.join(self.tmp, "logs")
        for d in (self.game, self.home, self.logs):
            os.makedirs(d)
        kh.Demo(kh.BIN_DIR, {}, root=self.game)   # copies the program and its Data
        # Read-only for the player: root's folder for `nobody`, or no write
        # permission for anyone else.
        for d, dirs, files in os.walk(self.game):
            for name in dirs + [""]:
                os.chmod(os.path.join(d, name), 0o555)
        self.wrapper, self.env = kh.as_player(os.environ, self.home)
        self.folder = os.path.join(self.home, ".local", "share", "MyGame_test")

    def tearDown(self):
        for d, dirs, _ in os.walk(self.game):
            os.chmod(d, 0o755)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def launch(self, x):
        demo = kh.Demo(None, x.env(self.env), root=self.game, wrapper=self.wrapper, log_dir=self.logs)
        demo.start()
        self.assertTrue(demo.wait_screen("start"), demo.log()[-3000:])
        return demo

    def play_once_and_quit(self, demo):
        """Starts a game (which counts a play), screenshots it, and quits."""
        demo.press("z")
        self.assertTrue(demo.wait_screen("level"))
        demo.press("z")
        self.assertTrue(demo.wait_screen("game"))
        demo.press("F10")
        self.assertTrue(kh.wait_until(lambda: any(f.startswith("Screenshot_550_") for f in os.listdir(self.folder))),
                        "no screenshot in the player's folder")
        self.assertEqual(0, demo.quit(), demo.log()[-3000:] + open(demo.err_path).read()[-3000:])
        demo.stop()

    def test_an_installed_demo_keeps_its_player_across_starts(self):
        shipped = listing(self.game)
        said = "Saves go to %s (%s cannot be written)" % (self.folder, self.game)
        with kh.Xvfb() as x:
            first = self.launch(x)
            try:
                self.play_once_and_quit(first)
            finally:
                first.stop()
            log = first.log_lines()
            self.assertEqual(1, log.count(said), log)
            self.assertEqual("Root %s" % self.game, re.search(r"^Root .*$", first.log(), re.M).group(0))
            user = [t for t in log if t.startswith("User ID '")]
            self.assertEqual(1, len(user), log)
            for bad in ("Error Writing File", "The image save didn't work"):
                self.assertNotIn(bad, first.log())
            self.assertEqual(1, ints(os.path.join(self.folder, SAVE))[0])
            self.assertEqual(4496, os.path.getsize(os.path.join(self.folder, "Settings.sav")))
            self.assertEqual(stat.S_IFDIR | 0o700, os.stat(self.folder).st_mode)

            second = self.launch(x)
            try:
                log = second.log_lines()
                self.assertIn(user[0], log)
                for line in ("Reset User", "Clearing Scoreboard"):
                    self.assertNotIn(line, log)
                self.play_once_and_quit(second)
            finally:
                second.stop()
        # The first start's play and this one's.
        self.assertEqual(2, ints(os.path.join(self.folder, SAVE))[0])
        self.assertEqual(shipped, listing(self.game), "files were written beside the program")

    def test_with_no_players_folder_the_player_is_kept_in_the_temporary_folder(self):
        """XDG_DATA_HOME names a file and the home cannot be written: the
        saves go to the player's own folder in the temporary folder, the log
        says once why the others could not be used, and the next start has
        the same user and keeps its boards."""
        afile = os.path.join(self.tmp, "afile")
        with open(afile, "w") as f:
            f.write("not a folder")
        tmpdir = os.path.join(self.tmp, "tmp")
        os.makedirs(tmpdir)
        os.chmod(tmpdir, 0o1777)
        os.chmod(self.home, 0o555)   # the player's home, read-only
        self.env["XDG_DATA_HOME"] = afile
        self.env["TMPDIR"] = tmpdir
        uid = 65534 if os.geteuid() == 0 else os.geteuid()
        folder = os.path.join(tmpdir, "kelp-%d" % uid, "MyGame_test")
        said = [
            "Saves cannot go to %s/MyGame_test: cannot make %s/MyGame_test (Not a directory)" % (afile, afile),
            "Saves cannot go to %s/.local/share/MyGame_test: cannot make %s/.local (Permission denied)" %
            (self.home, self.home),
            "Saves go to %s, in the system's temporary folder, which may be emptied at a restart "
            "(%s cannot be written)" % (folder, self.game),
        ]
        users = []
        with kh.Xvfb() as x:
            for start in range(2):
                demo = self.launch(x)
                try:
                    self.assertEqual(0, demo.quit(), demo.log()[-3000:])
                finally:
                    demo.stop()
                log = demo.log_lines()
                for line in said:
                    self.assertEqual(1, log.count(line), "%s\n%s" % (line, "\n".join(log)))
                users += [t for t in log if t.startswith("User ID '")]
                if start == 1:
                    for line in ("Reset User", "Clearing Scoreboard"):
                        self.assertNotIn(line, log)
        self.assertEqual(2, len(users))
        self.assertEqual(users[0], users[1], "the player's user ID changed")
        self.assertEqual(4496, os.path.getsize(os.path.join(folder, "Settings.sav")))
        self.assertEqual(stat.S_IFDIR | 0o700, os.stat(os.path.dirname(folder)).st_mode)


if __name__ == "__main__":
    kh.main()
