"""Test harness shared by the end-to-end and GL tests.

- Xvfb: a private virtual display on a free number, stopped by its pid.
- Demo: the demo copied into a fresh temporary data root (executable and
  Data/), run there, its numbered log captured. The test build traces what
  each poll saw of the keys and which screen each update ran.
- Audio: OpenAL Soft pointed at its wave backend, in that process's
  environment only.
- Keys: xdotool key presses held until the game's poll has read the press,
  then released until it has read the release, however slow the machine.

Nothing here waits a fixed time for the program: every wait is for a state
(a log line, a window, a file, a pixel) with a deadline long enough for a
loaded machine.
"""
import os
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time

# Sanitizer builds run the demo several times slower: KELP_TIME_SCALE
# stretches every deadline alike.
TIME_SCALE = float(os.environ.get("KELP_TIME_SCALE") or 1)

# Deadline for a state a program reaches on its own (a screen, a log line, a
# file), in seconds before TIME_SCALE: ample for a machine whose cores are
# both busy with other work.
PATIENCE = 60.0

# GLFW's codes for the X key names the tests press (letters and digits are
# their ASCII capitals and digits).
GLFW_KEYS = {
    "space": 32, "Escape": 256, "Return": 257, "Tab": 258, "BackSpace": 259,
    "Right": 262, "Left": 263, "Down": 264, "Up": 265,
    "Shift_L": 340, "Control_L": 341, "Alt_L": 342, "Shift_R": 344, "Control_R": 345, "Alt_R": 346,
    "KP_Enter": 335,
}
GLFW_KEYS.update({"F%d" % n: 289 + n for n in range(1, 13)})
GLFW_KEYS.update({"KP_%d" % n: 320 + n for n in range(10)})


def glfw_key(name):
    if len(name) == 1 and name.isalnum():
        return ord(name.upper())
    return GLFW_KEYS[name]


def wait_until(predicate, timeout=PATIENCE, poll=0.1):
    """True as soon as predicate() is; False if it is still not after
    timeout seconds (times TIME_SCALE)."""
    deadline = time.time() + timeout * TIME_SCALE
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(poll)
    return bool(predicate())


class Xvfb:
    """A private X display: `with Xvfb() as x: env = x.env()`.

    -noreset: without it the server resets whenever its last client leaves
    (every short xdotool call that runs while no program is connected), and a
    program that connects during the reset is refused ("Failed to open
    display").
    """

    def __init__(self, width=1280, height=720):
        self.width, self.height = width, height
        self.proc = None
        self.display = None

    def __enter__(self):
        for n in range(90 + os.getpid() % 200, 1000):
            if os.path.exists(f"/tmp/.X{n}-lock") or os.path.exists(f"/tmp/.X11-unix/X{n}"):
                continue
            proc = subprocess.Popen(
                ["Xvfb", f":{n}", "-screen", "0", f"{self.width}x{self.height}x24", "-nolisten", "tcp", "-noreset"],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + 10
            while time.time() < deadline:
                if proc.poll() is not None:
                    break
                if os.path.exists(f"/tmp/.X11-unix/X{n}") and self._owns(n, proc):
                    self.proc, self.display = proc, f":{n}"
                    return self
                time.sleep(0.05)
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        raise RuntimeError("could not start Xvfb on any display")

    @staticmethod
    def _owns(n, proc):
        """True once the display's lock names our server: two tests starting
        at the same number at once must not both take the winner's display."""
        try:
            with open(f"/tmp/.X{n}-lock") as f:
                return int(f.read().strip() or 0) == proc.pid
        except (OSError, ValueError):
            return False

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            os.kill(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                os.kill(self.proc.pid, signal.SIGKILL)
                self.proc.wait()

    def env(self, base=None):
        env = dict(base if base is not None else os.environ)
        env["DISPLAY"] = self.display
        return env


def wave_audio_env(env, wav_path, conf_dir):
    """Point OpenAL Soft at its wave backend writing to wav_path."""
    conf = os.path.join(conf_dir, "alsoft.conf")
    with open(conf, "w") as f:
        f.write("[general]\ndrivers=wave\n[wave]\nfile=%s\n" % wav_path)
    env = dict(env)
    env["ALSOFT_DRIVERS"] = "wave"
    env["ALSOFT_CONF"] = conf
    return env


def read_wave_output(path):
    """Samples written by the wave backend: (rate, channels, list of frames).

    The file is WAVE_FORMAT_EXTENSIBLE float32 (or int16), and its sizes stay
    0xFFFFFFFF while the device is open, so the data chunk runs to the end.
    """
    data = open(path, "rb").read()
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ValueError("not a RIFF/WAVE file")
    pos, fmt, samples = 12, None, None
    while pos + 8 <= len(data):
        tag, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        body = pos + 8
        if tag == b"fmt ":
            tagv, ch, rate, _, _, bits = struct.unpack("<HHIIHH", data[body:body + 16])
            float_fmt = tagv == 3 or (tagv == 0xFFFE and data[body + 24:body + 26] == b"\x03\x00")
            fmt = (ch, rate, bits, float_fmt)
        elif tag == b"data":
            end = len(data) if size == 0xFFFFFFFF or body + size > len(data) else body + size
            samples = data[body:end]
            break
        pos = body + size + (size & 1)
    if fmt is None or samples is None:
        raise ValueError("no fmt or data chunk")
    ch, rate, bits, float_fmt = fmt
    if float_fmt and bits == 32:
        n = len(samples) // 4
        vals = struct.unpack("<%df" % n, samples[:n * 4])
    elif bits == 16:
        n = len(samples) // 2
        vals = [v / 32768.0 for v in struct.unpack("<%dh" % n, samples[:n * 2])]
    else:
        raise ValueError("unsupported sample format")
    frames = [vals[i:i + ch] for i in range(0, len(vals) - ch + 1, ch)]
    return rate, ch, frames


class Demo:
    """The demo in a fresh data root: copy, run, capture the log.

    By default the test build, with its trace on: hold() and wait_screen()
    need it. exe="MyGame" runs the shipped build, whose log has no trace."""

    def __init__(self, bin_dir, env, root=None, exe="MyGame_test", trace=True, wrapper=(), data=True,
                 log_dir=None):
        """wrapper: a command the program runs under (see as_player).
        data=False leaves the root without a Data folder of its own (an
        installed game finds its data elsewhere). log_dir: where the
        program's output goes, when the root is not to be written."""
        self.bin_dir = bin_dir
        self.env = dict(env)
        if trace:
            self.env["KELP_TRACE"] = "1"
        self.wrapper = list(wrapper)
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="kelp-root-")
        self.exe = os.path.join(self.root, exe)
        if not os.path.exists(self.exe):
            shutil.copy2(os.path.join(bin_dir, exe), self.exe)
        data_dir = os.path.join(bin_dir or "", "Data")
        if data and not os.path.exists(os.path.join(self.root, "Data")):
            if os.path.isdir(data_dir):
                shutil.copytree(data_dir, os.path.join(self.root, "Data"))
            else:
                os.makedirs(os.path.join(self.root, "Data", "550"))
        self.proc = None
        self._down = set()    # keys pressed with keydown and not let go of
        self.log_path = os.path.join(log_dir or self.root, "stdout.log")
        self.err_path = os.path.join(log_dir or self.root, "stderr.log")

    def start(self):
        self._out = open(self.log_path, "wb")
        self._err = open(self.err_path, "wb")
        self.proc = subprocess.Popen(self.wrapper + [self.exe], cwd="/", env=self.env, stdout=self._out,
                                     stderr=self._err, stdin=subprocess.DEVNULL)
        return self

    def log(self):
        with open(self.log_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def log_lines(self):
        """The numbered log lines' texts, in order."""
        out = []
        for line in self.log().splitlines():
            m = re.match(r"^ *(\d+)> (.*)$", line)
            if m:
                out.append(m.group(2))
        return out

    def wait_log(self, text, timeout=PATIENCE, count=1):
        deadline = time.time() + timeout * TIME_SCALE
        while time.time() < deadline:
            if self.log().count(text) >= count:
                return True
            if self.proc.poll() is not None:
                return self.log().count(text) >= count
            time.sleep(0.05)
        return False

    def window(self, timeout=PATIENCE):
        deadline = time.time() + timeout * TIME_SCALE
        while time.time() < deadline:
            r = subprocess.run(["xdotool", "search", "--pid", str(self.proc.pid), "--onlyvisible", "--name", "."],
                               env=self.env, capture_output=True, text=True)
            ids = r.stdout.split()
            if ids:
                return ids[-1]
            time.sleep(0.1)
        status = self.proc.poll()
        err = open(self.err_path, "rb").read().decode("utf-8", "replace")[-2000:]
        raise RuntimeError("demo window not found (process %s)\n--- stderr:\n%s\n--- log tail:\n%s" %
                           ("running" if status is None else "exited with %s" % status, err,
                            self.log()[-2000:]))

    # ---- the trace of the test build ------------------------------------------

    def key_states(self):
        """The sets of GLFW key codes the polls saw, one per change, in order."""
        out = []
        for t in self.log_lines():
            if t.startswith("Trace keys:"):
                out.append(frozenset(int(v) for v in t[len("Trace keys:"):].split()))
        return out

    def screens(self):
        """The screens the updates ran, one per change, in order."""
        return [t[len("Trace screen: "):] for t in self.log_lines() if t.startswith("Trace screen: ")]

    def screen(self):
        s = self.screens()
        return s[-1] if s else None

    def wait_screen(self, name, timeout=PATIENCE):
        """Waits until the last screen the game ran is `name` (or one of the
        names in a tuple); False if the program ends or the time is up."""
        names = (name,) if isinstance(name, str) else tuple(name)
        return wait_until(lambda: self.screen() in names or self.proc.poll() is not None,
                          timeout) and self.screen() in names

    def _wait_keys(self, since, predicate, timeout):
        def seen():
            return any(predicate(s) for s in self.key_states()[since:]) or self.proc.poll() is not None
        return wait_until(seen, timeout, poll=0.02)

    def hold(self, key, seconds=0):
        """Holds a key down until the game's poll has read it (and for at
        least `seconds`), then lets it go until the poll has read that too.

        A key that ends the program returns once it has ended; a key that
        replaces the window is released on the X server as well."""
        code = glfw_key(key)
        w = self.window()
        since = len(self.key_states())
        start = time.time()
        subprocess.run(["xdotool", "keydown", "--window", w, key], env=self.env, check=True)
        if not self._wait_keys(since, lambda s: code in s, PATIENCE):
            self._release(w, key)
            raise AssertionError("the game never read %s held down" % key)
        rest = seconds - (time.time() - start)
        if rest > 0:
            time.sleep(rest)
        since = len(self.key_states())
        self._release(w, key)
        if self.proc.poll() is not None:
            return
        if not self._wait_keys(since, lambda s: code not in s, PATIENCE):
            raise AssertionError("the game never read %s let go" % key)

    def press(self, *keys):
        """Holds and lets go of each key in turn."""
        for k in keys:
            self.hold(k)

    def _release(self, w, key):
        up = subprocess.run(["xdotool", "keyup", "--window", w, key], env=self.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if up.returncode != 0 or self.proc.poll() is not None:
            # The window is gone (replaced, or the program ended): make sure
            # the server does not keep the key down for the next window.
            subprocess.run(["xdotool", "keyup", key], env=self.env,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def keydown(self, key):
        subprocess.run(["xdotool", "keydown", "--window", self.window(), key], env=self.env, check=True)
        self._down.add(key)

    def keyup(self, key):
        subprocess.run(["xdotool", "keyup", "--window", self.window(), key], env=self.env, check=True)
        self._down.discard(key)

    def release(self, key):
        """Lets go of a key on the server itself. A key pressed through XTEST
        stays down in the X server when its window is gone (the program quit
        or replaced it), and the display outlives the program: the next
        program on it would start with the key held."""
        subprocess.run(["xdotool", "keyup", key], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self._down.discard(key)

    def quit(self):
        """F4: the program ends at once, so no key-up can follow."""
        self.keydown("F4")
        status = self.wait_exit()
        self.release("F4")
        return status

    def wait_exit(self, timeout=PATIENCE):
        try:
            code = self.proc.wait(timeout=timeout * TIME_SCALE)
        except subprocess.TimeoutExpired:
            return None
        # Keys still down when the program ended would stay down on the
        # server for the next program on this display.
        for key in list(self._down):
            self.release(key)
        return code

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for key in list(self._down):
            self.release(key)
        for f in ("_out", "_err"):
            if hasattr(self, f):
                getattr(self, f).close()

    def cleanup(self):
        self.stop()
        if self.own_root and os.environ.get("KELP_KEEP_ROOT") is None:
            shutil.rmtree(self.root, ignore_errors=True)


def as_player(env, home):
    """How a program runs as an ordinary player would run it: the command
    prefix and the environment, with HOME at `home` and no XDG_DATA_HOME.
    Tests run as root are run as `nobody`, who owns `home`: root may write
    anywhere, so no folder would be read-only for it. Folders on the way to
    the program must let others in."""
    env = dict(env)
    env["HOME"] = home
    env.pop("XDG_DATA_HOME", None)
    if os.geteuid() != 0:
        return [], env
    os.chown(home, 65534, 65534)
    return ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"], env


def bin_dir_from_args(argv=None):
    argv = argv if argv is not None else sys.argv
    if "--bin-dir" in argv:
        return argv[argv.index("--bin-dir") + 1]
    return os.path.join(os.path.dirname(__file__), "..", "..", "build", "bin")


def main():
    """Run a unittest module, taking --bin-dir/--build-dir off the command line."""
    import unittest
    global BIN_DIR, BUILD_DIR
    argv = list(sys.argv)
    BIN_DIR = os.path.abspath(bin_dir_from_args(argv))
    BUILD_DIR = os.path.dirname(BIN_DIR)
    for flag in ("--bin-dir", "--build-dir"):
        if flag in argv:
            i = argv.index(flag)
            if flag == "--build-dir":
                BUILD_DIR = os.path.abspath(argv[i + 1])
            del argv[i:i + 2]
    unittest.main(module="__main__", argv=argv, verbosity=2)


BIN_DIR = None
BUILD_DIR = None
