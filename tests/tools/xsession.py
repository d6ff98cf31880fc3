"""A private X session for tests and demos: Xvfb, openbox and windows showing images.

Never touches the caller's own DISPLAY: it starts its own server on a free display number
and gives back the environment to reach it. Everything it starts is stopped by close(),
also when the caller fails (use it as a context manager).

    with XSession(first_display=50) as x:
        x.show("Zoom Meeting", "zoom", "1280x800+0+0", "gallery.png")
        subprocess.run([...], env=x.env)
"""
import ctypes
import os
import select
import signal
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHOW = os.path.join(HERE, "show_window.py")
PY = "/usr/bin/python3"


def die_with_parent():
    """In a child before exec: end with the script that started it, even when that script is
    killed outright (a time limit, Ctrl-C twice), so no server outlives it."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG
    except (OSError, AttributeError):
        pass


def stop_process(p):
    """Terminates a process started for a test, killing it if it does not go in 5 s."""
    if p.poll() is None:
        p.terminate()
        try:
            p.wait(5)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()


def free_display(first, last):
    """The first display number in first..last that no X server holds."""
    for n in range(first, last + 1):
        if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
            return n
    raise RuntimeError(f"no free X display number in :{first}-:{last}")


def display_env(n):
    env = dict(os.environ, DISPLAY=f":{n}")
    env.pop("WAYLAND_DISPLAY", None)
    return env


def start_xvfb(spawn, n, size="2560x1440x24"):
    """Starts Xvfb :n (Composite, RandR, no reset) through `spawn`; returns once it answers."""
    p = spawn(["Xvfb", f":{n}", "-noreset", "-nolisten", "tcp", "-screen", "0", size,
               "+extension", "Composite", "+extension", "RANDR"],
              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(200):
        if subprocess.run(["xdpyinfo"], env=display_env(n), stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            return p
        time.sleep(0.05)
    raise RuntimeError(f"Xvfb :{n} did not come up")


def start_wm(spawn, env):
    """Starts openbox through `spawn`; returns once it manages the screen."""
    p = spawn(["openbox", "--sm-disable"], env=env, stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL)
    for _ in range(200):
        out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=env,
                             capture_output=True, text=True).stdout
        if "window id" in out:
            return p
        time.sleep(0.05)
    raise RuntimeError("openbox did not come up")


def show_window(spawn, env, title, cls, geometry, image=None, iconic=False, extra=()):
    """Maps a window showing `image` on the X server of `env` (through `spawn`); returns
    (process, X window id) once it is on screen. `extra`: more show_window.py options."""
    args = [PY, SHOW, "--class", cls, "--geometry", geometry, *extra]
    if title is not None:
        args += ["--title", title]
    if image:
        args += ["--image", image]
    if iconic:
        args.append("--iconic")
    p = spawn(args, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    ready, _, _ = select.select([p.stdout], [], [], 30)
    line = p.stdout.readline().strip() if ready else ""
    if not line.startswith("0x"):
        raise RuntimeError(f"window {title!r} did not appear")
    return p, int(line, 16)


class XSession:
    def __init__(self, first_display=50, last_display=59, size="2560x1440x24", wm=True):
        self.procs = []
        self.windows = {}
        try:
            self.display = free_display(first_display, last_display)
            start_xvfb(self.spawn, self.display, size)
            if wm:
                start_wm(self.spawn, self.env)
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def env(self):
        return display_env(self.display)

    def spawn(self, args, **kw):
        p = subprocess.Popen(args, preexec_fn=die_with_parent, **kw)
        self.procs.append(p)
        return p

    def show(self, title, cls, geometry, image=None, iconic=False, frames=()):
        """Maps a window; returns (process, X window id) once it is on screen. With frames,
        SIGUSR1 to the process shows the next of image and frames."""
        extra = [a for f in frames for a in ("--also-image", f)]
        p, wid = show_window(self.spawn, self.env, title, cls, geometry, image, iconic, extra)
        self.windows[wid] = p
        return p, wid

    def hide(self, proc):
        """Closes one window and waits until it is gone."""
        self._stop(proc)

    def close(self):
        while self.procs:
            self._stop(self.procs.pop())

    @staticmethod
    def _stop(p):
        stop_process(p)
