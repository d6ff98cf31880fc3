#!/usr/bin/python3
"""tessival against the real desktop portal with its wlroots backend on a headless sway,
reached as on a desktop that is not sway (no SWAYSOCK): that portal offers monitors only,
so the window choice must be answered unavailable, cleanly, and captures must say that no
window is chosen.

usage: wlr_portal_test.py <tessival> <wayland_show_image>
Exit 0 on success, 1 on failure, 77 when sway, PipeWire or the portals are missing (a
failure when the CI environment variable is set).
"""
import os
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "tools"))
from harness import LineProgram, check, cleanup, missing_tools, verdict  # noqa: E402
from pulse_fixture import PipeWireServer  # noqa: E402
from swaysession import SwaySession  # noqa: E402

PORTALS = ("/usr/libexec/xdg-desktop-portal", "/usr/libexec/xdg-desktop-portal-wlr")


class DesktopBus(PipeWireServer):
    """PipeWire whose session bus starts the installed portals in the compositor's session."""
    session = {}

    def _spawn(self, args, log_name, env=None):
        env = dict(env or self.base_env())
        env.update(self.session)
        return super()._spawn(args, log_name, env)


def main(tessival, show_image):
    status = missing_tools(("sway", "pipewire", "wireplumber", "dbus-daemon", "pactl") +
                           tuple(p for p in PORTALS if not os.path.exists(p)),
                           "the wlroots portal test", " (install sway, pipewire, xdg-desktop-portal-wlr)")
    if status is not None:
        return status
    work = tempfile.mkdtemp(prefix="tessival-wlr-portal-")
    with SwaySession(show_image) as sway:
        wayland = os.path.join(sway.dir, sway.env["WAYLAND_DISPLAY"])
        DesktopBus.session = {"WAYLAND_DISPLAY": wayland, "XDG_CURRENT_DESKTOP": "sway"}
        with DesktopBus(with_sink=False) as pw:
            DesktopBus.session["PIPEWIRE_RUNTIME_DIR"] = pw.run_dir
            env = pw.base_env()
            env.update(DesktopBus.session)
            for name in ("DISPLAY", "SWAYSOCK"):
                env.pop(name, None)
            # The portal starts on the first call to it; on a busy machine that takes longer
            # than the program waits for an answer, so it is started and asked once here.
            started = subprocess.run(
                ["gdbus", "call", "--session", "--timeout", "60", "--dest", "org.freedesktop.portal.Desktop",
                 "--object-path", "/org/freedesktop/portal/desktop", "--method",
                 "org.freedesktop.DBus.Properties.Get", "org.freedesktop.portal.ScreenCast", "version"],
                env=env, capture_output=True, text=True, timeout=90)
            print("portal started: %s" % (started.stdout.strip() or started.stderr.strip()))
            try:
                t = LineProgram([tessival, "--state-dir", os.path.join(work, "state")], env,
                                os.path.join(work, "tessival.log"), "tessival")
                answer = t.ask("CHOOSE_WINDOW")
                check(answer == {"ok": False, "error": "window choice unavailable: "
                                 "the desktop portal offers no window sources"},
                      "the wlroots portal's monitors only: the choice is unavailable (%s)" % answer)
                check(t.ask("CAPTURE") == {"ok": False, "error": "no window chosen"},
                      "a capture answers no window chosen")
                check(t.close() == 0, "tessival ends cleanly")
            finally:
                cleanup()
    return verdict(work)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
