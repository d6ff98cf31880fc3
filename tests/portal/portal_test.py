#!/usr/bin/python3
"""tessival on a desktop where only the window the user chose can be read (GNOME, KDE):
the desktop portal's screen cast, with a stand-in portal on a private session bus and the
real PipeWire and WirePlumber carrying a generated meeting scene as the chosen window.

Checks: no portal on the bus; a capture before any choice; choose then read names and ring;
the token stored (mode 0600) and restored by a new tessival without a dialog; cancel and
deny; the stream ending mid-session; a corrupt token file.

usage: portal_test.py <tessival> <portal_png_producer>
Exit 0 on success, 1 on failure, 77 when PipeWire, WirePlumber, dbus-daemon, python3-gi or
the OCR model is missing (a failure when the CI environment variable is set).
"""
import json
import os
import stat
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
from harness import check, cleanup, missing_tools, verdict  # noqa: E402
from portal_fixture import TOKEN, Bus, Rig  # noqa: E402

SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
MODEL = "/usr/share/tesseract-ocr/5/tessdata/Latin.traineddata"


def require():
    status = missing_tools(("pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon", "pactl"),
                           "the portal integration test", " (install pipewire, wireplumber, dbus-daemon)")
    if status is None and not os.path.exists(MODEL):
        status = missing_tools(("tesseract-ocr-script-latn",), "the portal integration test")
    if status is None and subprocess.run(["/usr/bin/python3", "-c", "import gi"]).returncode != 0:
        status = missing_tools(("python3-gi",), "the portal integration test")
    if status is not None:
        sys.exit(status)


class Scene:
    def __init__(self, work):
        subprocess.run(["/usr/bin/python3", SCENES, work, "--only", "demo_gallery"], check=True,
                       stdout=subprocess.DEVNULL)
        manifest = json.load(open(os.path.join(work, "manifest.json")))
        self.truth = next(s for s in manifest if s["name"] == "demo_gallery")
        self.image = os.path.join(work, self.truth["file"])


def logged(t, text):
    return any(text in line for line in t.log_lines())


def main(tessival, producer):
    require()
    work = tempfile.mkdtemp(prefix="tessival-portal-")
    scene = Scene(work)
    state = os.path.join(work, "state")
    token_path = os.path.join(state, TOKEN)
    with Bus(with_sink=False) as server:
        rig = Rig(server, work, tessival, producer, scene.image)
        try:
            t = rig.start(state)
            check(t.ask("CHOOSE_WINDOW") == {"ok": False, "error": "window choice unavailable: "
                                             "no desktop portal on the session bus"},
                  "no portal on the bus: the choice is unavailable")
            check(t.ask("CAPTURE") == {"ok": False, "error": "no window chosen"},
                  "no portal on the bus: a capture answers no window chosen")
            t.close()

            rig.play()
            rig.answer("choose")
            rig.start_portal()
            t = rig.start(state)
            check(t.ask("CAPTURE") == {"ok": False, "error": "no window chosen"} and rig.dialogs() == [],
                  "a capture before any choice answers at once and asks nobody")
            started = time.monotonic()
            chosen = t.ask("CHOOSE_WINDOW")
            check(chosen.get("ok") and chosen["window"]["source"] == "portal" and
                  chosen["window"]["window_area"] == 1280 * 800,
                  "the chosen window is answered (%s, %.2f s)" % (chosen, time.monotonic() - started))
            check(rig.dialogs() == ["dialog"], "the first choice shows the dialog")
            mode = stat.S_IMODE(os.stat(token_path).st_mode) if os.path.exists(token_path) else None
            check(mode == 0o600, "the token is stored readable by the user only (mode %s)" % oct(mode or 0))
            read = t.ask("CAPTURE")
            names = [n["text"] for n in read.get("names", [])]
            want = scene.truth["names"]
            found = sum(1 for n in want if n in names)
            check(found >= len(want) - 1, "names read through the stream: %s" % names)
            check("ring_crop" in read and read.get("speaker", {}).get("text") == want[scene.truth["speaker"]],
                  "the ring's speaker read: %s" % read.get("speaker"))
            t.close()

            t = rig.start(state)
            restored = t.ask("CHOOSE_WINDOW")
            check(restored.get("ok") and rig.dialogs() == ["dialog", "restored"],
                  "a new tessival restores the choice without a dialog")
            rig.stop_playing()
            deadline = time.monotonic() + 10
            gone = t.ask("CAPTURE")
            while gone.get("error") != "no window chosen" and time.monotonic() < deadline:
                time.sleep(0.2)
                gone = t.ask("CAPTURE")
            check(gone == {"ok": False, "error": "no window chosen"} and logged(t, "stream ended"),
                  "the stream ending drops the choice: %s" % gone)

            rig.play()
            os.remove(token_path)  # else the stored choice is restored without asking
            for how, error in (("cancel", "window choice cancelled"),
                               ("deny", "window choice unavailable: the desktop portal refused "
                                        "the window choice (response 2)")):
                rig.answer(how)
                answer = t.ask("CHOOSE_WINDOW")
                check(answer == {"ok": False, "error": error}, "%s: %s" % (how, answer))
            t.close()

            with open(token_path, "w") as f:
                f.write("\x00garbage")
            rig.answer("choose")
            t = rig.start(state)
            again = t.ask("CHOOSE_WINDOW")
            check(again.get("ok") and rig.dialogs()[-1] == "dialog" and
                  logged(t, "ignoring the stored window choice"),
                  "a corrupt token is ignored with a log line and the dialog shows")
            check(t.close() == 0, "tessival ends cleanly")
        finally:
            cleanup()
    return verdict(work)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
