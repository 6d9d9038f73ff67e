"""The browser build under test: headless Chromium driven over the DevTools
protocol (python3-websocket), and the page's log.

- Chromium: a fresh profile, headless, SwiftShader's GL, sound allowed to
  start without a click; its own process group, stopped by its id.
- Page: one tab. Its console is the game's standard output (the numbered
  log, the test build's trace); keys are held through the protocol's key
  events until the game's poll has read them, as kelp_harness does with
  xdotool; screenshots are what the page shows.

Every wait is for a state (a log line, a pixel, a file) with a deadline long
enough for a loaded machine; nothing sleeps a fixed time for the page.
"""
import base64
import json
import os
import re
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import urllib.request
import zlib

import kelp_harness as kh

# The page's log line once the saves are in the browser's storage.
KEPT = "Saves kept in the browser's storage"

try:
    import websocket
except ImportError:  # reported by the test as a missing tool
    websocket = None

# The DOM key, code and key code of the keys the tests press, by the X names
# kelp_harness uses.
KEYS = {
    "Return": ("Enter", "Enter", 13), "Escape": ("Escape", "Escape", 27), "space": (" ", "Space", 32),
    "Left": ("ArrowLeft", "ArrowLeft", 37), "Up": ("ArrowUp", "ArrowUp", 38),
    "Right": ("ArrowRight", "ArrowRight", 39), "Down": ("ArrowDown", "ArrowDown", 40),
    "Tab": ("Tab", "Tab", 9),
}
KEYS.update({"F%d" % n: ("F%d" % n, "F%d" % n, 111 + n) for n in range(1, 13)})


def key_event(name):
    if name in KEYS:
        return KEYS[name]
    if len(name) == 1 and name.isalpha():
        return (name.lower(), "Key" + name.upper(), ord(name.upper()))
    if len(name) == 1 and name.isdigit():
        return (name, "Digit" + name, ord(name))
    raise KeyError(name)


def chromium_binary():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def emscripten_missing():
    """What is missing to build and run the browser build, or None."""
    missing = [tool for tool in ("emcmake", "em++") if not shutil.which(tool)]
    if not chromium_binary():
        missing.append("chromium")
    if websocket is None:
        missing.append("python3-websocket")
    return ", ".join(missing) or None


def decode_png(data):
    """(width, height, rows of RGB bytes) of an 8-bit RGB or RGBA PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG")
    pos, idat, header = 8, [], None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat.append(body)
        pos += 12 + n
    w, h, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError("unsupported PNG layout")
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(idat))
    stride = w * bpp
    rows, prev = [], bytearray(stride)
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line) if bpp == 3 else bytes(v for j, v in enumerate(line) if j % 4 != 3))
        prev = line
    return w, h, rows


class Shot:
    """A screenshot: RGB pixels, and counts and means over boxes of them."""

    def __init__(self, png):
        self.png = png
        self.w, self.h, self.rows = decode_png(png)

    def pixel(self, x, y):
        r = self.rows[y]
        return tuple(r[3 * x:3 * x + 3])

    def mean(self, box=None):
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        sums, n = [0, 0, 0], 0
        for y in range(y0, y1):
            row = self.rows[y][3 * x0:3 * x1]
            for c in range(3):
                sums[c] += sum(row[c::3])
            n += x1 - x0
        return [s / max(n, 1) for s in sums]

    def count(self, test, box=None):
        x0, y0, x1, y1 = box or (0, 0, self.w, self.h)
        n = 0
        for y in range(y0, y1):
            row = self.rows[y]
            for x in range(x0, x1):
                if test(row[3 * x], row[3 * x + 1], row[3 * x + 2]):
                    n += 1
        return n


class Chromium:
    """Headless Chromium with a fresh profile: `with Chromium() as c: page = c.page()`."""

    def __init__(self, downloads=None, flags=(), headless=True):
        self.profile = tempfile.mkdtemp(prefix="kelp-chromium-")
        self.downloads = downloads
        self.flags = list(flags)
        self.headless = headless
        self.proc = None
        self.port = None

    def __enter__(self):
        args = [chromium_binary(), "--headless=new" if self.headless else "--test-type", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
                "--autoplay-policy=no-user-gesture-required", "--remote-debugging-port=0",
                "--remote-allow-origins=*", "--user-data-dir=" + self.profile, "--no-first-run",
                "--no-default-browser-check", "--disable-background-networking", "--disable-extensions",
                "--disable-sync", "--disable-component-update", "--disable-default-apps",
                "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                "--disable-backgrounding-occluded-windows", "--window-size=1280,800"] + self.flags + ["about:blank"]
        if os.geteuid() == 0:
            args.insert(1, "--no-sandbox")
        self.log_path = os.path.join(self.profile, "chromium.log")
        self._log = open(self.log_path, "wb")
        self.proc = subprocess.Popen(args, stdout=self._log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                     start_new_session=True)
        # Chromium names the port it took in its profile.
        active = os.path.join(self.profile, "DevToolsActivePort")

        def port_named():
            try:
                with open(active) as f:
                    return f.read().count("\n") >= 1
            except OSError:
                return False
        if not kh.wait_until(lambda: port_named() or self.proc.poll() is not None) or self.proc.poll() is not None:
            self.stop()
            with open(self.log_path, "rb") as f:
                raise RuntimeError("Chromium did not open its DevTools port:\n" + f.read().decode("utf-8", "replace"))
        with open(active) as f:
            self.port = int(f.read().split("\n")[0])
        return self

    def __exit__(self, *exc):
        self.stop()
        shutil.rmtree(self.profile, ignore_errors=True)

    def stop(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        if hasattr(self, "_log"):
            self._log.close()

    def page(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/json/list" % self.port, timeout=30) as reply:
            targets = json.load(reply)
        tab = next(t for t in targets if t.get("type") == "page")
        return Page(tab["webSocketDebuggerUrl"], self.downloads, tab["id"])

    def new_page(self):
        """A further tab of the same profile (its storage is shared, as a
        player's tabs share it)."""
        request = urllib.request.Request("http://127.0.0.1:%d/json/new?about:blank" % self.port, method="PUT")
        with urllib.request.urlopen(request, timeout=30) as reply:
            tab = json.load(reply)
        return Page(tab["webSocketDebuggerUrl"], self.downloads, tab["id"])

    def close_page(self, page):
        """Closes a tab as a player does: the page is told it is going."""
        page.call("Page.close")
        page.close()


class Page:
    """One tab over the DevTools protocol, with the page's console kept as a log."""

    def __init__(self, ws_url, downloads=None, target_id=None):
        self.target_id = target_id
        self.ws = websocket.create_connection(ws_url, timeout=60 * kh.TIME_SCALE, suppress_origin=True)
        self.lock = threading.Lock()
        self.next_id = 0
        self.replies = {}
        self.lines = []          # console output, one entry per line
        self.errors = []         # uncaught exceptions
        self.console = []        # (type, first line, timestamp in ms since the epoch) of each console call
        self.responses = {}      # request id -> (url, status) once Network is enabled
        self.finished = []       # (url, bytes on the wire) of each request that ended
        self.held = []           # requests held by intercept(), as Fetch.requestPaused gives them
        self.entries = []        # (source, level, text) of the browser's own console lines, once Log is enabled
        self.paused = 0          # times the page's script stopped in the debugger (pause())
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.call("Runtime.enable")
        self.call("Page.enable")
        # A headless page never has the focus unless it is emulated.
        self.call("Emulation.setFocusEmulationEnabled", enabled=True)
        if downloads:
            self.call("Browser.setDownloadBehavior", behavior="allow", downloadPath=downloads)

    def _read(self):
        while True:
            try:
                msg = json.loads(self.ws.recv())
            except Exception:
                return
            if "id" in msg:
                with self.lock:
                    self.replies[msg["id"]] = msg
                continue
            method, params = msg.get("method"), msg.get("params", {})
            if method == "Runtime.consoleAPICalled":
                text = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
                with self.lock:
                    self.lines.extend(text.split("\n"))
                    self.console.append((params.get("type"), text, params.get("timestamp")))
            elif method == "Network.responseReceived":
                r = params["response"]
                with self.lock:
                    self.responses[params["requestId"]] = (r["url"], r["status"])
            elif method == "Fetch.requestPaused":
                with self.lock:
                    self.held.append(params)
            elif method == "Network.loadingFinished":
                with self.lock:
                    url = self.responses.get(params["requestId"], ("?", 0))[0]
                    self.finished.append((url, params.get("encodedDataLength", 0)))
            elif method == "Log.entryAdded":
                e = params.get("entry", {})
                with self.lock:
                    self.entries.append((e.get("source"), e.get("level"), e.get("text")))
            elif method == "Debugger.paused":
                with self.lock:
                    self.paused += 1
            elif method == "Runtime.exceptionThrown":
                d = params.get("exceptionDetails", {})
                with self.lock:
                    self.errors.append(d.get("exception", {}).get("description") or d.get("text"))

    def call(self, method, timeout=kh.PATIENCE, **params):
        with self.lock:
            self.next_id += 1
            mid = self.next_id
        self.ws.send(json.dumps({"id": mid, "method": method, "params": params}))
        deadline = time.time() + timeout * kh.TIME_SCALE
        while time.time() < deadline:
            with self.lock:
                reply = self.replies.pop(mid, None)
            if reply is not None:
                if "error" in reply:
                    raise RuntimeError("%s: %s" % (method, reply["error"]))
                return reply.get("result", {})
            time.sleep(0.01)
        raise RuntimeError("no reply to " + method)

    def close(self):
        try:
            self.ws.close()
        except Exception:
            pass

    # ---- the page --------------------------------------------------------------

    def open(self, url):
        with self.lock:
            self.lines.clear()
        self.call("Page.navigate", url=url)

    def reload(self):
        with self.lock:
            self.lines.clear()
        self.call("Page.reload", ignoreCache=True)

    def evaluate(self, expression):
        r = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in r:
            raise RuntimeError("page error in %r: %s" % (expression, r["exceptionDetails"]))
        return r["result"].get("value")

    def screenshot(self):
        return Shot(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))

    def canvas_box(self):
        """The canvas's box on the screenshot: x0, y0, x1, y1."""
        r = self.evaluate("(function(){var b = Module.canvas.getBoundingClientRect();"
                          "return [b.left, b.top, b.right, b.bottom].map(Math.round);})()")
        return tuple(r)

    # ---- requests held on their way ----------------------------------------------

    def intercept(self, *patterns):
        """Holds the page's requests whose URL matches a pattern (* wildcards)
        until answered with answer() or let through with let_through()."""
        self.call("Fetch.enable", patterns=[{"urlPattern": p} for p in patterns])

    def held_request(self, suffix, timeout=kh.PATIENCE):
        """The held request whose URL ends with suffix, once there is one."""
        def find():
            with self.lock:
                return next((r for r in self.held if r["request"]["url"].endswith(suffix)), None)
        if not kh.wait_until(lambda: find() is not None, timeout):
            raise AssertionError("the page never asked for " + suffix)
        request = find()
        with self.lock:
            self.held.remove(request)
        return request

    def answer(self, request, status, body=b"", headers=None):
        params = {"requestId": request["requestId"], "responseCode": status, "body": base64.b64encode(body).decode()}
        if headers:
            params["responseHeaders"] = [{"name": k, "value": str(v)} for k, v in headers.items()]
        self.call("Fetch.fulfillRequest", **params)

    def let_through(self, request):
        self.call("Fetch.continueRequest", requestId=request["requestId"])

    # ---- the game's log ----------------------------------------------------------

    def log(self):
        with self.lock:
            return list(self.lines)

    def log_texts(self):
        """The numbered log lines' texts, in order."""
        out = []
        for line in self.log():
            m = re.match(r"^ *\d+> (.*)$", line)
            if m:
                out.append(m.group(1))
        return out

    def log_tail(self, n=40):
        return "\n".join(self.log()[-n:]) + ("\nerrors: %s" % self.errors if self.errors else "")

    def log_text(self):
        """The whole console output as one text (a log line may hold CR LF)."""
        return "\n".join(self.log())

    def wait_log(self, text, timeout=kh.PATIENCE, count=1):
        return kh.wait_until(lambda: self.log_text().count(text) >= count, timeout)

    def end_game(self):
        """Holds F4 until the game has ended and its last saves are kept in
        the browser's storage. Returns what did not happen, or None."""
        kept = self.log_text().count(KEPT)
        self.key("F4", True)
        try:
            if not self.wait_log("Farewell happy gamer"):
                return "F4 did not end the game"
            if not self.wait_log(KEPT, count=kept + 1):
                return "the game's last save was not kept"
            return None
        finally:
            self.key("F4", False)

    def screens(self):
        return [t[len("Trace screen: "):] for t in self.log_texts() if t.startswith("Trace screen: ")]

    def screen(self):
        s = self.screens()
        return s[-1] if s else None

    def wait_screen(self, name, timeout=kh.PATIENCE):
        names = (name,) if isinstance(name, str) else tuple(name)
        return kh.wait_until(lambda: self.screen() in names, timeout)

    def key_states(self):
        out = []
        for t in self.log_texts():
            if t.startswith("Trace keys:"):
                out.append(frozenset(int(v) for v in t[len("Trace keys:"):].split()))
        return out

    # ---- the script stopped -------------------------------------------------------

    def pause(self):
        """Stops the page's script in the debugger, as a tab busy for long
        would be: it answers nothing until resume()."""
        self.call("Debugger.enable")
        since = self.paused
        self.call("Debugger.pause")
        if not kh.wait_until(lambda: self.paused > since, poll=0.02):
            raise AssertionError("the page's script never stopped")

    def resume(self):
        self.call("Debugger.resume")
        self.call("Debugger.disable")

    # ---- keys ------------------------------------------------------------------------

    def key(self, name, down):
        key, code, number = key_event(name)
        self.dom_key(key, code, number, down)

    def dom_key(self, key, code, number, down):
        """A key event as a layout gives it: what it types (key), its place
        on the keyboard (code) and the layout's key code."""
        params = {"type": "keyDown" if down else "keyUp", "key": key, "code": code,
                  "windowsVirtualKeyCode": number, "nativeVirtualKeyCode": number}
        if down and len(key) == 1:
            params["text"] = key
        self.call("Input.dispatchKeyEvent", **params)

    def hold(self, name, seconds=0, until=None):
        """Holds a key until the game's poll has read it (and at least
        `seconds`, and until `until()` is true if given), then lets it go
        until the poll has read that too. Returns until()'s last value."""
        code = kh.glfw_key(name)
        since = len(self.key_states())
        start = time.time()
        done = True
        self.key(name, True)
        try:
            if not kh.wait_until(lambda: any(code in s for s in self.key_states()[since:]), poll=0.02):
                raise AssertionError("the game never read %s held down\n%s" % (name, self.log_tail()))
            rest = seconds - (time.time() - start)
            if rest > 0:
                time.sleep(rest)
            if until:
                done = kh.wait_until(until)
            since = len(self.key_states())
        finally:
            self.key(name, False)
        if not kh.wait_until(lambda: any(code not in s for s in self.key_states()[since:]), poll=0.02):
            raise AssertionError("the game never read %s let go\n%s" % (name, self.log_tail()))
        return done

    def press(self, *names):
        for name in names:
            self.hold(name)

    # ---- devices ---------------------------------------------------------------------

    def device(self, width, height, scale=1, mobile=False, touch=False, screen=None):
        """Emulates a device: the page's CSS size, its pixel ratio, a phone's
        layout, touch in place of a mouse, and the screen's size (default:
        the page's)."""
        sw, sh = screen or (width, height)
        self.call("Emulation.setDeviceMetricsOverride", width=width, height=height, deviceScaleFactor=scale,
                  mobile=mobile, screenWidth=sw, screenHeight=sh)
        self.call("Emulation.setTouchEmulationEnabled", enabled=touch, maxTouchPoints=10 if touch else 1)

    def touch_polls(self):
        return self.evaluate("Module.kelpTouchPolls || 0")

    def touch(self, kind, points):
        """One touch event: kind touchStart, touchMove or touchEnd; points
        [(x, y, id)] in CSS pixels. touchStart presses the points it adds to
        those down; touchEnd lifts every finger (the protocol lifts no
        single one)."""
        self.call("Input.dispatchTouchEvent", type=kind,
                  touchPoints=[{"x": x, "y": y, "id": i} for x, y, i in points])

    def tap(self, x, y, others=()):
        """A finger down at x, y (CSS pixels), with `others` (x, y, id) down
        beside it, until the game's poll has read them; then all lifted
        until a poll has read that."""
        since = self.touch_polls()
        self.touch("touchStart", list(others) + [(x, y, 99)])
        try:
            if not kh.wait_until(lambda: self.touch_polls() >= since + 2, poll=0.02):
                raise AssertionError("the game never read the finger down\n" + self.log_tail())
        finally:
            since = self.touch_polls()
            self.touch("touchEnd", [])
        if not kh.wait_until(lambda: self.touch_polls() >= since + 2, poll=0.02):
            raise AssertionError("the game never read the finger lifted\n" + self.log_tail())
