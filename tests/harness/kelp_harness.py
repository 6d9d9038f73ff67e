"""Test harness shared by the end-to-end and GL tests.

- Xvfb: a private virtual display on a free number, stopped by its pid.
- Demo: the demo copied into a fresh temporary data root (executable and
  Data/), run there, its numbered log captured.
- Audio: OpenAL Soft pointed at its wave backend, in that process's
  environment only.
- Keys: xdotool key presses held across several updates.
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

# Sanitizer builds run the demo several times slower. KELP_TIME_SCALE
# stretches every wait of the tests (sleeps, key holds, time-outs) alike, so
# a key is still held across several updates and a screen still has time to
# appear.
TIME_SCALE = float(os.environ.get("KELP_TIME_SCALE") or 1)
if TIME_SCALE != 1:
    _real_sleep = time.sleep

    def _scaled_sleep(seconds):
        _real_sleep(seconds * TIME_SCALE)

    time.sleep = _scaled_sleep


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
    """The demo in a fresh data root: copy, run, capture the log."""

    def __init__(self, bin_dir, env, root=None, exe="MyGame"):
        self.bin_dir = bin_dir
        self.env = env
        self.own_root = root is None
        self.root = root or tempfile.mkdtemp(prefix="kelp-root-")
        self.exe = os.path.join(self.root, exe)
        if not os.path.exists(self.exe):
            shutil.copy2(os.path.join(bin_dir, exe), self.exe)
        data = os.path.join(bin_dir, "Data")
        if not os.path.exists(os.path.join(self.root, "Data")):
            if os.path.isdir(data):
                shutil.copytree(data, os.path.join(self.root, "Data"))
            else:
                os.makedirs(os.path.join(self.root, "Data", "550"))
        self.proc = None
        self.held = set()   # keys pressed with keydown and not yet let go
        self.log_path = os.path.join(self.root, "stdout.log")
        self.err_path = os.path.join(self.root, "stderr.log")

    def start(self):
        self._out = open(self.log_path, "wb")
        self._err = open(self.err_path, "wb")
        self.proc = subprocess.Popen([self.exe], cwd="/", env=self.env, stdout=self._out,
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

    def wait_log(self, text, timeout=20.0, count=1):
        deadline = time.time() + timeout * TIME_SCALE
        while time.time() < deadline:
            if self.log().count(text) >= count:
                return True
            if self.proc.poll() is not None:
                return self.log().count(text) >= count
            time.sleep(0.05)
        return False

    def window(self, timeout=15.0):
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

    def hold(self, key, seconds=0.12):
        """Press a key for real, held across several updates."""
        w = self.window()
        subprocess.run(["xdotool", "keydown", "--window", w, key], env=self.env, check=True)
        time.sleep(seconds)
        # A key that ends the program (F4) may outlive the window it was sent to.
        up = subprocess.run(["xdotool", "keyup", "--window", w, key], env=self.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if up.returncode != 0:
            self._release(key)
        time.sleep(0.1)

    def keydown(self, key):
        subprocess.run(["xdotool", "keydown", "--window", self.window(), key], env=self.env, check=True)
        self.held.add(key)

    def keyup(self, key):
        subprocess.run(["xdotool", "keyup", "--window", self.window(), key], env=self.env, check=True)
        self.held.discard(key)

    def _release(self, key):
        """Lets go of a key with no window to send it to: the X server never
        resets, so it would hold the key down for the next program."""
        subprocess.run(["xdotool", "keyup", key], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.held.discard(key)

    def _release_held(self):
        for key in list(self.held):
            self._release(key)

    def wait_exit(self, timeout=20.0):
        try:
            code = self.proc.wait(timeout=timeout * TIME_SCALE)
        except subprocess.TimeoutExpired:
            return None
        self._release_held()
        return code

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        if self.proc:
            self._release_held()
        for f in ("_out", "_err"):
            if hasattr(self, f):
                getattr(self, f).close()

    def cleanup(self):
        self.stop()
        if self.own_root and os.environ.get("KELP_KEEP_ROOT") is None:
            shutil.rmtree(self.root, ignore_errors=True)


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
