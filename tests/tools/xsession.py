"""A private X session for tests and demos: Xvfb, openbox and windows showing images.

Never touches the caller's own DISPLAY: it starts its own server on a free display number
and gives back the environment to reach it. Everything it starts is stopped by close(),
also when the caller fails (use it as a context manager).

    with XSession(first_display=50) as x:
        x.show("Zoom Meeting", "zoom", "1280x800+0+0", "gallery.png")
        subprocess.run([...], env=x.env)
"""
import os
import select
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SHOW = os.path.join(HERE, "show_window.py")
PY = "/usr/bin/python3"


class XSession:
    def __init__(self, first_display=50, last_display=59, size="2560x1440x24", wm=True):
        self.procs = []
        self.windows = {}
        try:
            self.display = self._free_display(first_display, last_display)
            self._start_xvfb(size)
            if wm:
                self._start_wm()
        except BaseException:
            self.close()
            raise

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def env(self):
        env = dict(os.environ, DISPLAY=f":{self.display}")
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def spawn(self, args, **kw):
        p = subprocess.Popen(args, **kw)
        self.procs.append(p)
        return p

    def show(self, title, cls, geometry, image=None, iconic=False):
        """Maps a window; returns (process, X window id) once it is on screen."""
        args = [PY, SHOW, "--title", title, "--class", cls, "--geometry", geometry]
        if image:
            args += ["--image", image]
        if iconic:
            args.append("--iconic")
        p = self.spawn(args, env=self.env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                       text=True)
        ready, _, _ = select.select([p.stdout], [], [], 30)
        line = p.stdout.readline().strip() if ready else ""
        if not line.startswith("0x"):
            raise RuntimeError(f"window {title!r} did not appear")
        wid = int(line, 16)
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
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    @staticmethod
    def _free_display(first, last):
        for n in range(first, last + 1):
            if not os.path.exists(f"/tmp/.X{n}-lock") and not os.path.exists(f"/tmp/.X11-unix/X{n}"):
                return n
        raise RuntimeError(f"no free X display number in :{first}-:{last}")

    def _start_xvfb(self, size):
        self.spawn(["Xvfb", f":{self.display}", "-noreset", "-nolisten", "tcp", "-screen", "0", size,
                    "+extension", "Composite", "+extension", "RANDR"],
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if subprocess.run(["xdpyinfo"], env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0:
                return
            time.sleep(0.05)
        raise RuntimeError(f"Xvfb :{self.display} did not come up")

    def _start_wm(self):
        self.spawn(["openbox", "--sm-disable"], env=self.env, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
        for _ in range(200):
            out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                 capture_output=True, text=True).stdout
            if "window id" in out:
                return
            time.sleep(0.05)
        raise RuntimeError("openbox did not come up")
