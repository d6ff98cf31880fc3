#!/usr/bin/python3
"""The window search and screenshot against a real X server.

Starts its own Xvfb (Composite, RandR, -noreset) and openbox, shows realistic meeting and
decoy images in real top-level windows (tests/tools/show_window.py, one process each), and
drives tessival_x11_probe, which runs the search and the screenshot over the real X11
window system. Everything started here is stopped on exit, also on failure.

usage: x11_windows_test.py <tessival_x11_probe> <tessival>
Exit status 0 on success, 1 on failure, 77 when Xvfb or openbox is missing (a failure
when the CI environment variable is set).
"""
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops, ImageStat

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from xsession import free_display as shared_free_display  # noqa: E402
from xsession import start_wm as shared_start_wm  # noqa: E402
from xsession import start_xvfb as shared_start_xvfb  # noqa: E402
from xsession import show_window, stop_process  # noqa: E402
from harness import LineProgram, check, cleanup, failures, missing_tools, spawn  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
PY = "/usr/bin/python3"

stop = stop_process


def free_display():
    return shared_free_display(42, 49)


def start_xvfb(n, size="2560x1440x24"):
    return shared_start_xvfb(spawn, n, size)


def start_wm(env):
    return shared_start_wm(spawn, env)


def show(env, title=None, cls="Test", geometry="800x600+0+0", image=None, iconic=False,
         title_hex=None, title_file=None):
    extra = []
    if title_hex is not None:
        extra += ["--title-hex", title_hex]
    if title_file is not None:
        extra += ["--title-file", title_file]
    return show_window(spawn, env, title, cls, geometry, image, iconic, extra)


def Probe(exe, env, log_path):
    return LineProgram([exe], env, log_path, "probe", log_errors="strict")


def listed(probe, wid):
    for w in probe.ask("list")["windows"]:
        if w["id"] == wid:
            return w
    return None


def mean_diff(a, b):
    return sum(ImageStat.Stat(ImageChops.difference(a, b)).mean) / 3


def read_ppm(path):
    return Image.open(path).convert("RGB")


def scenario_search_and_capture(probe, env, fx, tmp):
    zoom_p, zoom = show(env, "Zoom Meeting", "zoom", "1280x800+700+400",
                        os.path.join(fx, "demo_gallery.png"))
    # Decoys mapped later stack above the meeting and cover parts of it.
    show(env, "Northwind - Calendar - Week of March 9, 2026 - Google Chrome", "Google-chrome",
         "1440x900+0+0", os.path.join(fx, "decoy_calendar_browser.png"))
    show(env, "roster.py - meeting-notes - Visual Studio Code", "Code", "1440x900+1100+520",
         os.path.join(fx, "decoy_editor_code.png"))
    show(env, "Chat | Lena Fischer | Microsoft Teams", "Microsoft Teams", "1000x700+80+640",
         os.path.join(fx, "decoy_chat_teams.png"))
    show(env, "Webex Meeting", "Webex", "1600x1000+300+200", iconic=True)

    a = probe.ask("find")
    check(a["ok"] and a["found"] and a["id"] == zoom, f"the meeting window is chosen among decoys: {a}")
    check(a["window"]["app"] == "zoom" and a["window"]["title"] == "Zoom Meeting"
          and not a["unproven"], "its app and title are the real WM_CLASS and title")
    log = probe.log_lines()
    check(any(l.startswith("[tessival] capture window (chosen, meeting-surface, score=")
              for l in log), "the choice is logged with its reason")
    check(not any("Webex" in l for l in log if "candidate" in l),
          "the minimised meeting window is no candidate")
    webex = [w for w in probe.ask("list")["windows"] if w["app"] == "Webex"]
    check(len(webex) == 1 and not webex[0]["on_screen"],
          "the minimised window is listed, not on screen")

    # Its own pixels where the decoys cover it, at twice its size.
    dump = os.path.join(tmp, "zoom.ppm")
    s = probe.ask(f"shot-last {dump}")
    check(s["ok"] and s["width"] == 2560 and s["height"] == 1600,
          f"the capture is twice the window's size: {s}")
    if s["ok"]:
        shot = read_ppm(dump).resize((1280, 800), Image.BOX)
        src = Image.open(os.path.join(fx, "demo_gallery.png")).convert("RGB")
        whole = mean_diff(shot, src)
        # The calendar covers the window's top-left part (root 700..1440 x 400..900).
        frame = a["frame"]
        cx, cy = int(1440 - frame[0]), int(900 - frame[1])
        covered = mean_diff(shot.crop((0, 0, cx, cy)), src.crop((0, 0, cx, cy)))
        check(whole < 4 and covered < 4,
              f"the covered window is captured with its own pixels (mean diff {whole:.2f}, "
              f"covered part {covered:.2f})")
    s2 = probe.ask(f"shot-last {dump}")
    check(s2["ok"], "a second capture of the same window works")

    w = webex[0]["id"] if webex else 0
    e = probe.ask(f"shot {w}")
    check(not e["ok"] and "not viewable" in e["error"],
          f"capturing a minimised window is an error, not a crash: {e}")
    return zoom_p


def scenario_partly_off_screen(probe, env, fx, tmp):
    img = os.path.join(fx, "demo_gallery.png")
    _, wid = show(env, "Offscreen part - Zoom Meeting", "zoom", "1280x800+1900+1000", img)
    w = listed(probe, wid)
    check(w is not None and w["frame"][0] + w["frame"][2] > 2560 and w["on_screen"],
          f"a window reaching past the screen's edge is on screen: {w}")
    dump = os.path.join(tmp, "offscreen.ppm")
    s = probe.ask(f"shot {wid} {dump}")
    if check(s["ok"], f"a window partly off screen is captured: {s}"):
        shot = read_ppm(dump).resize((1280, 800), Image.BOX)
        src = Image.open(img).convert("RGB")
        d = mean_diff(shot.crop((700, 500, 1280, 800)), src.crop((700, 500, 1280, 800)))
        check(d < 4, f"its part beyond the edge shows its own pixels (mean diff {d:.2f})")


def scenario_vanishing(probe, env, fx):
    p, wid = show(env, "Vanishing sync - Zoom Meeting", "zoom", "900x600+1500+100",
                  os.path.join(fx, "demo_gallery.png"))
    a = probe.ask("find vanishing")
    check(a["ok"] and a["id"] == wid, "the query picks the window about to vanish")
    stop(p)
    for _ in range(100):
        if listed(probe, wid) is None:
            break
        time.sleep(0.05)
    e = probe.ask("shot-last")
    check(not e["ok"] and e["error"], f"a window gone before its capture is an error: {e}")
    check(probe.ask("find")["ok"], "the probe goes on after it")


def scenario_hostile_titles(probe, env, tmp, tessival):
    bad = bytes("Zoom Meeting \n second line\r".encode()) + b"\xff\xfe\xc3(" + b" end"
    show(env, cls="zoom", geometry="700x500+200+900", title_hex=bad.hex())
    long_title = os.path.join(tmp, "long_title")
    with open(long_title, "wb") as f:
        f.write(("Standup " * 13000).encode()[:100 * 1024])
    show(env, cls="Chromium", geometry="700x500+1000+900", title_file=long_title)

    before = len(probe.log_lines())
    lst = probe.ask("list")
    titles = [w["title"] for w in lst["windows"]]
    check(any("\ufffd" in t and "\n" in t for t in titles),
          "an invalid UTF-8 title arrives repaired, newlines kept")
    check(any(len(t) >= 100 * 1024 - 8 for t in titles), "a 100 KB title arrives whole")
    a = probe.ask("find")
    check(a["ok"], "the search answers valid JSON with hostile titles around")
    lines = probe.log_lines()[before:]
    check(lines and all(l.startswith("[tessival] ") for l in lines),
          "every log line stays one line (no title splits one)")

    # The real program: one valid JSON answer per command, every log line whole.
    out = subprocess.run([tessival], input="CAPTURE_FRAME\nCAPTURE\nCAPTURE_SLIDE\n",
                         env=env, capture_output=True, text=True, timeout=120)
    answers = out.stdout.splitlines()
    ok = len(answers) == 3
    try:
        [json.loads(x) for x in answers]
    except ValueError:
        ok = False
    check(ok, f"tessival answers each command with one JSON line: {answers!r}"[:300])
    err = [l for l in out.stderr.splitlines() if l]
    check(all(l.startswith("[") for l in err), "tessival's log lines stay whole")


def scenario_monitors(probe, env):
    subprocess.run(["xrandr", "--setmonitor", "left", "1280/338x1440/381+0+0", "screen"],
                   env=env, check=True, capture_output=True)
    subprocess.run(["xrandr", "--setmonitor", "right", "1280/338x1440/381+1280+0", "none"],
                   env=env, check=True, capture_output=True)
    show(env, "Quarterly review - Zoom Meeting", "zoom", "1000x700+1450+300")
    a = probe.ask("find quarterly")
    w = a.get("window", {})
    check(a["ok"] and w.get("display_index") == 2 and w.get("display_count") == 2
          and w.get("display_is_main") is False,
          f"a window on the second of two monitors reports display 2 of 2: {w}")
    show(env, "Left review - Zoom Meeting", "zoom", "800x600+100+300")
    w = probe.ask("find left review").get("window", {})
    check(w.get("display_index") == 1 and w.get("display_is_main") is True,
          f"without a primary monitor the first one is main: {w}")


def scenario_no_server(exe, tessival, tmp):
    env = dict(os.environ)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    probe = Probe(exe, env, os.path.join(tmp, "noserver.log"))
    for cmd in ("find", "slide", "list", "frontmost", "shot 1"):
        a = probe.ask(cmd)
        check(not a["ok"] and "DISPLAY" in a["error"], f"without DISPLAY {cmd!r} is an error: {a}")
    probe.close()

    wayland = Probe(exe, dict(env, WAYLAND_DISPLAY="wayland-0"), os.path.join(tmp, "wl.log"))
    wayland.ask("find")
    wayland.close()
    check(sum("WAYLAND_DISPLAY is set" in l for l in wayland.log_lines()) == 1,
          "a Wayland session is named once in the log")

    out = subprocess.run([tessival], input="CAPTURE\nCAPTURE_FRAME\nCAPTURE_SLIDE\n", env=env,
                         capture_output=True, text=True, timeout=120)
    answers = [json.loads(x) for x in out.stdout.splitlines()]
    check(out.returncode == 0 and len(answers) == 3 and not any(x["ok"] for x in answers),
          f"tessival without an X server answers every command with an error: {answers}")

    n = free_display()
    env["DISPLAY"] = f":{n}"
    probe = Probe(exe, env, os.path.join(tmp, "recover.log"))
    a = probe.ask("find")
    check(not a["ok"] and "cannot connect" in a["error"], f"a dead display is an error: {a}")
    server = start_xvfb(n, "1600x1000x24")
    # No window manager here: the windows come from the root's children.
    show(env, "Zoom Meeting", "zoom", "900x600+50+50")
    a = probe.ask("find")
    check(a["ok"] and a.get("found"), f"the search recovers once a server is there: {a}")
    check(probe.ask("shot-last")["ok"], "and captures without a window manager")
    stop(server)
    time.sleep(0.2)
    a = probe.ask("find")
    check(not a["ok"], f"the server going away is an error: {a}")
    server = start_xvfb(n, "1600x1000x24")
    show(env, "Zoom Meeting", "zoom", "900x600+50+50")
    a = probe.ask("find")
    check(a["ok"] and a.get("found"), f"and it reconnects to the next server: {a}")
    probe.close()
    stop(server)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    exe, tessival = sys.argv[1], sys.argv[2]
    status = missing_tools(("Xvfb", "openbox", "xrandr", "xdotool", "xwininfo", "xprop",
                            "xdpyinfo"), "the X11 integration test")
    if status is not None:
        return status

    with tempfile.TemporaryDirectory() as tmp:
        try:
            fx = os.path.join(tmp, "fixtures")
            subprocess.run([PY, SCENES, fx, "--only", "demo_gallery", "decoy_calendar_browser",
                            "decoy_editor_code", "decoy_chat_teams"], check=True,
                           stdout=subprocess.DEVNULL)
            n = free_display()
            start_xvfb(n)
            env = dict(os.environ, DISPLAY=f":{n}")
            env.pop("WAYLAND_DISPLAY", None)
            start_wm(env)
            probe = Probe(exe, env, os.path.join(tmp, "probe.log"))
            scenario_search_and_capture(probe, env, fx, tmp)
            scenario_partly_off_screen(probe, env, fx, tmp)
            scenario_vanishing(probe, env, fx)
            scenario_hostile_titles(probe, env, tmp, tessival)
            scenario_monitors(probe, env)
            probe.close()
            cleanup()
            scenario_no_server(exe, tessival, tmp)
        except Exception as e:  # a broken scenario is a failure, never a silent pass
            check(False, f"scenario raised {type(e).__name__}: {e}")
        finally:
            cleanup()
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: (cleanup(), sys.exit(1)))
    sys.exit(main())
