#!/usr/bin/python3
"""tessival on a headless sway: native Wayland windows, XWayland windows beside them.

Starts its own sway (as nobody), shows generated meeting and decoy scenes as native windows
(wayland_show_image) and as XWayland windows (Tk), drives the built tessival through its
pipes and checks: the meeting found over decoys and read; a meeting under XWayland beside a
native decoy and the other way round; two outputs; a window on a hidden workspace not chosen;
the lock released when the window closes; no compositor reachable answering as without a
display.

usage: sway_windows_test.py <tessival> <wayland_show_image>
Exit 0 on success, 1 on failure, 77 when sway, XWayland or the OCR model is missing (a failure
when the CI environment variable is set).
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
from harness import SKIP, ask_json, check, failures  # noqa: E402
from swaysession import SwaySession  # noqa: E402

SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
MODEL = "/usr/share/tesseract-ocr/5/tessdata/Latin.traineddata"


class Tessival:
    def __init__(self, exe, env, log_path):
        self.log_path = log_path
        self.log = open(log_path, "w")
        self.p = subprocess.Popen([exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=self.log, text=True, encoding="utf-8")
        self.seen = 0

    def ask(self, line, timeout=90):
        return ask_json(self.p, line, timeout, "tessival")

    def new_log(self):
        """Log lines written since the last call."""
        self.log.flush()
        with open(self.log_path, encoding="utf-8") as f:
            lines = f.read().splitlines()
        fresh, self.seen = lines[self.seen:], len(lines)
        return fresh

    def close(self):
        self.p.stdin.close()
        return self.p.wait(30)


def names_of(answer):
    return [n["text"] for n in answer.get("names", [])]


def read_well(answer, scene):
    found = [n for n in scene["names"] if n in names_of(answer)]
    return len(found) >= len(scene["names"]) - 2


def native_session(exe, show, fx, m, work):
    gallery, cal, code = m["demo_gallery"], m["decoy_calendar_browser"], m["decoy_editor_code"]
    with SwaySession(show, outputs=2) as s:
        s.show(cal["window"]["title"], "google-chrome", os.path.join(fx, "decoy_calendar_browser.png"),
               (1440, 900), at=(0, 0))
        s.show(code["window"]["title"], "code", os.path.join(fx, "decoy_editor_code.png"),
               (1200, 800), at=(600, 200))
        meet_p, meet = s.show(gallery["window"]["title"], gallery["window"]["class"],
                              os.path.join(fx, "demo_gallery.png"), (1280, 800), at=(300, 150))
        t = Tessival(exe, s.env, os.path.join(work, "native.log"))
        a = t.ask("CAPTURE")
        w = a.get("window", {})
        log = t.new_log()
        check("[tessival] window systems: sway" in log, f"the start log names the systems found: {log[:2]}")
        check(a.get("ok") and w.get("source") == "sway" and w.get("app") == gallery["window"]["class"]
              and w.get("title") == gallery["window"]["title"],
              f"the native meeting window is chosen over the decoys: {w}")
        check(read_well(a, gallery), f"its names are read: {names_of(a)} (want {gallery['names']})")
        check(a.get("ring_rect") is not None, "its speaker ring is found")
        check(w.get("display_index") == 1 and w.get("display_count") == 2 and w.get("display_is_main"),
              f"on the first of two outputs, the focused one: {w}")
        check(any(l.startswith("[tessival] lock engaged") for l in log), "the lock engages")

        # On the second output, still locked and read.
        s.msg(f"[con_id={meet}]", "move", "container", "to", "output", "HEADLESS-2")
        s.msg(f"[con_id={meet}]", "move", "absolute", "position", "2100", "100")
        a = t.ask("CAPTURE")
        w = a.get("window", {})
        check(w.get("window_locked") is True and w.get("display_index") == 2
              and w.get("display_count") == 2, f"the locked window on the second output: {w}")
        check(read_well(a, gallery), f"read there too: {names_of(a)}")

        # Half beyond the right edge of the layout: the part off the output stays black,
        # the rest keeps its scale, so the names on it are still read.
        s.msg(f"[con_id={meet}]", "move", "absolute", "position", "3200", "100")
        a = t.ask("CAPTURE")
        shown = names_of(a)
        check(a.get("window", {}).get("window_locked") is True and "Vera Gómez" in shown
              and "François Lemaire" in shown and "Amara Okafor" not in shown,
              f"a window partly off its output is read where it shows: {shown}")
        s.msg(f"[con_id={meet}]", "move", "absolute", "position", "2100", "100")

        # A decoy floated over part of it: captured as shown, said once in the log.
        s.msg(f"[con_id={s.con_of(s.procs[1].pid)}]", "move", "container", "to", "output", "HEADLESS-2")
        s.msg(f"[con_id={s.con_of(s.procs[1].pid)}]", "move", "absolute", "position", "3000", "700")
        t.new_log()
        a = t.ask("CAPTURE_FRAME")
        covered = [l for l in t.new_log() if "partly covered" in l]
        check(a.get("ok") and len(covered) == 1, f"a covered capture says so once: {covered}")

        # On a hidden workspace it is not viewable: the lock goes and a decoy is probed.
        s.msg(f"[con_id={meet}]", "move", "container", "to", "workspace", "9")
        a = t.ask("CAPTURE")
        log = t.new_log()
        check(any(l.startswith("[tessival] lock released (window gone)") for l in log),
              "moving to a hidden workspace releases the lock")
        check(a.get("window", {}).get("title") != gallery["window"]["title"],
              f"the hidden meeting window is not chosen: {a.get('window')}")

        # Back on screen, locked again; then it closes.
        s.msg("workspace", "9")
        s.msg(f"[con_id={meet}]", "move", "position", "center")
        a = t.ask("CAPTURE")
        check(a.get("window", {}).get("title") == gallery["window"]["title"],
              f"shown again, it is chosen: {a.get('window')}")
        s.hide(meet_p)
        a = t.ask("CAPTURE")
        check(any(l.startswith("[tessival] lock released (window gone)") for l in t.new_log()),
              "closing the window releases the lock")
        check(t.close() == 0, "tessival exits 0 when its input closes")


def mixed_session(exe, show, fx, m, work):
    gallery, cal = m["demo_gallery"], m["decoy_calendar_browser"]
    with SwaySession(show, xwayland=True) as s:
        # The meeting under XWayland, a native decoy beside it.
        s.show(cal["window"]["title"], "google-chrome", os.path.join(fx, "decoy_calendar_browser.png"),
               (1440, 900), at=(0, 0))
        meet_p, _ = s.show_x11(gallery["window"]["title"], gallery["window"]["class"],
                               os.path.join(fx, "demo_gallery.png"), (1280, 800), at=(600, 250))
        t = Tessival(exe, s.env, os.path.join(work, "mixed.log"))
        a = t.ask("CAPTURE")
        w = a.get("window", {})
        log = t.new_log()
        check("[tessival] window systems: sway, x11" in log, f"both systems are found: {log[:2]}")
        check(w.get("source") == "x11" and w.get("title") == gallery["window"]["title"],
              f"the XWayland meeting is chosen over a native decoy: {w}")
        check(read_well(a, gallery), f"and read: {names_of(a)}")
        # XWayland keeps a window on a hidden workspace mapped; sway says it is hidden.
        s.msg(f"[con_id={s.con_of(meet_p.pid)}]", "move", "container", "to", "workspace", "9")
        a = t.ask("CAPTURE")
        check(a.get("window", {}).get("title") != gallery["window"]["title"],
              f"the XWayland meeting on a hidden workspace is not chosen: {a.get('window')}")
        s.hide(meet_p)
        t.ask("CAPTURE")

        # The other way round: a native meeting, an XWayland decoy.
        s.show_x11(cal["window"]["title"], "Google-chrome",
                   os.path.join(fx, "decoy_calendar_browser.png"), (1440, 900), at=(400, 100))
        s.show(gallery["window"]["title"], gallery["window"]["class"],
               os.path.join(fx, "demo_gallery.png"), (1280, 800), at=(0, 0))
        a = t.ask("CAPTURE")
        w = a.get("window", {})
        check(w.get("source") == "sway" and w.get("title") == gallery["window"]["title"],
              f"the native meeting is chosen over an XWayland decoy: {w}")
        check(read_well(a, gallery), f"and read: {names_of(a)}")
        check(t.close() == 0, "tessival exits 0")


def no_compositor(exe, work):
    base = {k: v for k, v in os.environ.items()
            if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK")}
    plain = Tessival(exe, base, os.path.join(work, "plain.log"))
    want = plain.ask("CAPTURE")
    plain.close()
    gone = dict(base, SWAYSOCK=os.path.join(work, "no-such-sway.sock"))
    t = Tessival(exe, gone, os.path.join(work, "gone.log"))
    a = t.ask("CAPTURE")
    check(a == want and a.get("ok") is False, f"no compositor answers as no display: {a} vs {want}")
    check("[tessival] window systems: none reachable" in t.new_log(), "and logs none reachable")
    t.close()


def main():
    exe, show = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    missing = [t for t in ("sway", "swaymsg", "Xwayland", "xhost", "xdpyinfo", "setpriv")
               if shutil.which(t) is None]
    if not os.path.exists(MODEL):
        missing.append(MODEL)
    if missing:
        print("missing: " + ", ".join(missing))
        sys.exit(1 if os.environ.get("CI") else SKIP)
    work = tempfile.mkdtemp(prefix="tessival-sway-test-")
    try:
        fx = os.path.join(work, "scenes")
        subprocess.run(["/usr/bin/python3", SCENES, fx, "--only", "demo_gallery",
                        "decoy_calendar_browser", "decoy_editor_code"], check=True,
                       stdout=subprocess.DEVNULL)
        m = {s["name"]: s for s in json.load(open(os.path.join(fx, "manifest.json")))}
        no_compositor(exe, work)
        native_session(exe, show, fx, m, work)
        mixed_session(exe, show, fx, m, work)
    except Exception as e:  # a crash of the harness is a failure, with its reason
        check(False, f"harness error: {e!r}")
    finally:
        if not failures:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"(kept {work} for inspection)")
    print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
