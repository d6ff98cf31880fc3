#!/usr/bin/python3
"""tessival when the parts around it fail: the X server killed mid-session and back later,
and the OCR language data missing. Every command must get exactly one answer, in order, and
the command loop must run to the end of its input.

usage: tessival_faults_test.py <tessival> <scenario>    scenarios: xkill, notessdata
Exit status 0 on success, 1 on failure, 77 when Xvfb is missing (a failure when the CI
environment variable is set). Displays :70-:79.
"""
import json
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
PY = "/usr/bin/python3"

sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
from xsession import free_display as shared_free_display  # noqa: E402
from xsession import start_xvfb as shared_start_xvfb  # noqa: E402
from xsession import show_window, stop_process  # noqa: E402
from harness import check, cleanup, failures, missing_tools, spawn  # noqa: E402

stop = stop_process


def free_display():
    return shared_free_display(70, 79)


def start_xvfb(n):
    return shared_start_xvfb(spawn, n, "1600x1000x24")


def kill_xvfb(p, n):
    p.kill()
    p.wait()
    # A killed server leaves its lock and socket behind.
    for path in (f"/tmp/.X{n}-lock", f"/tmp/.X11-unix/X{n}"):
        try:
            os.unlink(path)
        except FileNotFoundError:
            pass


def show(env, title, image=None):
    return show_window(spawn, env, title, "zoom", "1000x640+40+40", image)[0]


class Tessival:
    def __init__(self, exe, env, log_path):
        self.log_path = log_path
        self.log = open(log_path, "wb")
        self.p = spawn([exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                       stderr=self.log)
        self.buf = b""

    def send(self, text):
        self.p.stdin.write(text.encode())
        self.p.stdin.flush()

    def answers(self, count, timeout=60):
        """Exactly `count` answer lines, or an exception when they do not come in time."""
        out = []
        deadline = time.monotonic() + timeout
        while len(out) < count:
            while b"\n" in self.buf and len(out) < count:
                line, self.buf = self.buf.split(b"\n", 1)
                out.append(json.loads(line))
            if len(out) == count:
                break
            left = deadline - time.monotonic()
            ready, _, _ = select.select([self.p.stdout], [], [], max(left, 0))
            if not ready:
                raise RuntimeError(f"{len(out)} of {count} answers after {timeout} s")
            chunk = os.read(self.p.stdout.fileno(), 65536)
            if not chunk:
                raise RuntimeError(f"tessival ended after {len(out)} of {count} answers "
                                   f"(status {self.p.poll()})")
            self.buf += chunk
        return out

    def ask(self, line, timeout=60):
        self.send(line + "\n")
        return self.answers(1, timeout)[0]

    def finish(self):
        self.p.stdin.close()
        rest = self.p.stdout.read()
        code = self.p.wait(30)
        return code, self.buf + rest

    def log_lines(self):
        self.log.flush()
        with open(self.log_path, encoding="utf-8", errors="replace") as f:
            return f.read().splitlines()


def scenario_xkill(tessival, tmp):
    n = free_display()
    env = dict(os.environ, DISPLAY=f":{n}")
    env.pop("WAYLAND_DISPLAY", None)
    server = start_xvfb(n)
    show(env, "Zoom Meeting")
    t = Tessival(tessival, env, os.path.join(tmp, "xkill.log"))
    a = t.ask("CAPTURE_FRAME")
    check(a.get("ok") is True, f"a frame is captured while the server runs: {str(a)[:120]}")

    kill_xvfb(server, n)
    # One at a time, then a burst written at once: one answer each, in order.
    for cmd in ("CAPTURE", "CAPTURE_FRAME", "CAPTURE_SLIDE"):
        a = t.ask(cmd)
        check(a.get("ok") is False and a.get("error"), f"{cmd} without a server is an error: {a}")
    burst = ["CAPTURE_FRAME", "bogus", "CAPTURE Zoom", "", "CAPTURE_SLIDE", "CAPTURE_FRAME"]
    t.send("".join(c + "\n" for c in burst))
    got = t.answers(5)
    check(all(x.get("ok") is False for x in got), "every answer of the burst is an error")
    check(got[1].get("error") == "unknown command", f"the second answer is the unknown one: {got}")
    check(t.p.poll() is None, "tessival keeps running without a server")

    server = start_xvfb(n)
    show(env, "Zoom Meeting")
    a = t.ask("CAPTURE_FRAME")
    check(a.get("ok") is True, f"capture recovers once a server is back: {str(a)[:120]}")

    # The server dies again with commands still queued behind a capture.
    t.send("CAPTURE_FRAME\n")
    kill_xvfb(server, n)
    t.send("CAPTURE_FRAME\nCAPTURE_SLIDE\nCAPTURE\n")
    got = t.answers(4)
    check(len(got) == 4, "the commands around the second kill are all answered")
    code, rest = t.finish()
    check(code == 0, f"tessival exits 0 at the end of its input (status {code})")
    check(rest.strip() == b"", f"no answer beyond one per command: {rest[:200]!r}")


def scenario_notessdata(tessival, tmp):
    fx = os.path.join(tmp, "fixtures")
    subprocess.run([PY, SCENES, fx, "--only", "demo_gallery"], check=True,
                   stdout=subprocess.DEVNULL)
    n = free_display()
    env = dict(os.environ, DISPLAY=f":{n}")
    env.pop("WAYLAND_DISPLAY", None)
    start_xvfb(n)
    show(env, "Zoom Meeting", os.path.join(fx, "demo_gallery.png"))
    empty = os.path.join(tmp, "no-tessdata")
    os.mkdir(empty)
    t = Tessival(tessival, dict(env, TESSDATA_PREFIX=empty), os.path.join(tmp, "notess.log"))
    cmds = ["CAPTURE", "CAPTURE_SLIDE", "CAPTURE", "CAPTURE_FRAME", "CAPTURE"]
    t.send("".join(c + "\n" for c in cmds))
    got = t.answers(len(cmds), timeout=120)
    for cmd, a in zip(cmds, got):
        if cmd == "CAPTURE":
            check(not a.get("names"), f"CAPTURE without OCR data reads no names: {str(a)[:160]}")
        if cmd == "CAPTURE_FRAME":
            check(a.get("ok") is True, f"a frame needs no OCR data: {str(a)[:120]}")
    code, rest = t.finish()
    check(code == 0, f"tessival exits 0 at the end of its input (status {code})")
    check(rest.strip() == b"", "no answer beyond one per command")
    diag = [l for l in t.log_lines() if "OCR model" in l]
    print("\n".join(t.log_lines()))
    # Once when the engine fails to load, once when the first capture cannot read: never
    # again on every later capture.
    check(1 <= len(diag) <= 2 and len(set(diag)) == len(diag),
          f"the missing OCR data is named once in the log: {diag}")


SCENARIOS = {"xkill": scenario_xkill, "notessdata": scenario_notessdata}


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in SCENARIOS:
        print(__doc__)
        return 2
    status = missing_tools(("Xvfb", "xdpyinfo"), "the fault tests")
    if status is not None:
        return status
    with tempfile.TemporaryDirectory() as tmp:
        try:
            SCENARIOS[sys.argv[2]](sys.argv[1], tmp)
        except Exception as e:  # a broken scenario is a failure, never a silent pass
            check(False, f"scenario raised {type(e).__name__}: {e}")
        finally:
            cleanup()
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: (cleanup(), sys.exit(1)))
    sys.exit(main())
