"""A private headless sway for tests and benches: native Wayland windows showing images,
optionally XWayland beside them.

sway refuses to run as root, so the compositor runs as nobody in a runtime directory of its
own; a root client may still use its sockets. Everything started is stopped by close(),
also when the caller fails (use it as a context manager).

    with SwaySession(show_image, outputs=2, xwayland=True) as s:
        s.show("Zoom Meeting", "zoom", "gallery.png", (1280, 800), at=(0, 0))
        subprocess.run([...], env=s.env)
"""
import glob
import json
import os
import shutil
import subprocess
import tempfile
import time

from xsession import stop_process

HERE = os.path.dirname(os.path.abspath(__file__))
SHOW_X11 = os.path.join(HERE, "show_window.py")
NOBODY = 65534


class SwaySession:
    def __init__(self, show_image, outputs=1, size=(1920, 1080), xwayland=False):
        self.show_image = show_image
        self.procs = []
        self.sway = None
        self.dir = tempfile.mkdtemp(prefix="tessival-sway-")
        try:
            self._start(outputs, size, xwayland)
        except BaseException:
            self.close()
            raise

    def _start(self, outputs, size, xwayland):
        os.chown(self.dir, NOBODY, NOBODY)
        os.chmod(self.dir, 0o700)
        config = os.path.join(self.dir, "config")
        lines = [f"output HEADLESS-{i + 1} resolution {size[0]}x{size[1]} position {i * size[0]} 0"
                 for i in range(outputs)]
        # Windows float at their own size where the test puts them; no borders or title
        # bars, so a window's frame is its picture.
        lines += ["xwayland " + ("enable" if xwayland else "disable"),
                  "default_border none", "default_floating_border none",
                  'for_window [app_id=".*"] floating enable, border none',
                  'for_window [class=".*"] floating enable, border none',
                  "focus_follows_mouse no"]
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        env = {"PATH": "/usr/bin:/bin", "XDG_RUNTIME_DIR": self.dir, "HOME": self.dir,
               "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
               "WLR_RENDERER": "pixman", "WLR_HEADLESS_OUTPUTS": str(outputs)}
        self.log = open(os.path.join(self.dir, "sway.log"), "w")
        self.sway = subprocess.Popen(
            ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
             "sway", "-c", config], env=env, stdout=self.log, stderr=subprocess.STDOUT)
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
        self.env["XDG_RUNTIME_DIR"] = self.dir
        for _ in range(200):
            socks = glob.glob(os.path.join(self.dir, "sway-ipc.*.sock"))
            waylands = [p for p in glob.glob(os.path.join(self.dir, "wayland-*"))
                        if not p.endswith(".lock")]
            if socks and waylands:
                self.env["SWAYSOCK"] = socks[0]
                self.env["WAYLAND_DISPLAY"] = os.path.basename(waylands[0])
                if self.msg("-t", "get_version", check=False).returncode == 0:
                    break
            if self.sway.poll() is not None:
                raise RuntimeError("sway ended at start; see " + self.log.name)
            time.sleep(0.05)
        else:
            raise RuntimeError("sway did not come up")
        if xwayland:
            # wlroots takes the first free X display; sway's children know which.
            where = os.path.join(self.dir, "display")
            self.msg("exec", f"echo $DISPLAY > {where}.tmp && mv {where}.tmp {where}")
            for _ in range(200):
                if os.path.exists(where):
                    break
                time.sleep(0.05)
            self.env["DISPLAY"] = open(where).read().strip()
            self.msg("exec", f"xhost +si:localuser:root > {where}.xhost 2>&1")
            for _ in range(200):
                if subprocess.run(["xdpyinfo"], env=self.env, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL).returncode == 0:
                    break
                time.sleep(0.1)
            else:
                raise RuntimeError("XWayland did not let root in")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def msg(self, *args, check=True):
        r = subprocess.run(["swaymsg", *args], env=self.env, capture_output=True, text=True)
        if check and r.returncode != 0:
            raise RuntimeError(f"swaymsg {' '.join(args)}: {r.stdout} {r.stderr}")
        return r

    def tree(self):
        return json.loads(self.msg("-t", "get_tree").stdout)

    def views(self):
        out = []

        def walk(n):
            if n.get("type") in ("con", "floating_con") and "shell" in n and not n.get("nodes"):
                out.append(n)
            for c in n.get("nodes", []) + n.get("floating_nodes", []):
                walk(c)
        walk(self.tree())
        return out

    def con_of(self, pid, timeout=20):
        for _ in range(int(timeout / 0.05)):
            for v in self.views():
                if v.get("pid") == pid and v["rect"]["width"] > 0:
                    return v["id"]
            time.sleep(0.05)
        raise RuntimeError(f"no window of process {pid} appeared")

    def _place(self, p, at, output):
        con = self.con_of(p.pid)
        if output:
            self.msg(f"[con_id={con}]", "move", "container", "to", "output", output)
        if at:
            self.msg(f"[con_id={con}]", "move", "absolute", "position", str(at[0]), str(at[1]))
        self.msg(f"[con_id={con}]", "focus")
        return p, con

    def show(self, title, app_id, image, size=None, at=None, output=None):
        """A native window; returns (process, con id) once it is placed and focused."""
        args = [self.show_image, title, app_id, image]
        if size:
            args.append(f"{size[0]}x{size[1]}")
        p = self.spawn(args, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self._place(p, at, output)

    def show_x11(self, title, cls, image, size, at=None, output=None):
        """An XWayland window (Tk); returns (process, con id) once placed and focused."""
        args = ["/usr/bin/python3", SHOW_X11, "--title", title, "--class", cls,
                "--geometry", f"{size[0]}x{size[1]}+0+0", "--image", image]
        p = self.spawn(args, env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self._place(p, at, output)

    def spawn(self, args, **kw):
        p = subprocess.Popen(args, **kw)
        self.procs.append(p)
        return p

    def hide(self, proc):
        stop_process(proc)

    def close(self):
        while self.procs:
            stop_process(self.procs.pop())
        if self.sway is not None:
            self.msg("exit", check=False)
            try:
                self.sway.wait(5)
            except subprocess.TimeoutExpired:
                stop_process(self.sway)
            self.sway = None
        shutil.rmtree(self.dir, ignore_errors=True)
