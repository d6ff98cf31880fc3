#!/usr/bin/python3
"""Runs scripts/demo.sh --no-build against given programs and checks its summary.

  demo_test.py <demo.sh> <tessival> <sondrel>

The summary must name every participant of the built-in meeting (from the fixture
manifest) with the tile drawn for them, name the right speaker, save the speaker crop, the gallery frame
and a WAV file with the tone in it, and print the slide text. The demo must leave no
process of its own behind. Exit 0 on success, 1 on failure, 77 when Xvfb, openbox or
PulseAudio is missing (a failure when CI is set).
"""
import json
import os
import re
import subprocess
import sys
import tempfile
import wave

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import check, failures, missing_tools  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PY = "/usr/bin/python3"
SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")



def section(text, title):
    """The indented lines under a top-level heading of the summary."""
    m = re.search(r"^" + re.escape(title) + r"\n((?:  .*\n)*)", text, re.M)
    return m.group(1) if m else ""


def processes_with(word):
    out = subprocess.run(["ps", "-eo", "args"], capture_output=True, text=True).stdout
    return [l for l in out.splitlines() if word in l.split()]


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    demo, tessival, sondrel = sys.argv[1:]
    status = missing_tools(("Xvfb", "openbox", "pulseaudio", "pacat", "pactl", "xdotool"),
                           "the demo test")
    if status is not None:
        return status

    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([PY, SCENES, os.path.join(tmp, "scenes"), "--only", "demo_gallery",
                        "demo_slides"], check=True, stdout=subprocess.DEVNULL)
        with open(os.path.join(tmp, "scenes", "manifest.json")) as f:
            scenes = {s["name"]: s for s in json.load(f)}
        gallery, slides = scenes["demo_gallery"], scenes["demo_slides"]
        out_dir = os.path.join(tmp, "demo output")  # a space in the path on purpose
        env = dict(os.environ)
        env.pop("DISPLAY", None)  # the demo must not need or use one
        r = subprocess.run([demo, "--no-build", "--tessival", tessival, "--sondrel", sondrel,
                            "--output", out_dir], capture_output=True, text=True, env=env,
                           timeout=240)
        print(r.stdout)
        print(r.stderr, file=sys.stderr)
        check(r.returncode == 0, f"the demo exits 0 (got {r.returncode})")
        text = r.stdout

        capture = section(text, "tessival CAPTURE")
        check(f'title="{gallery["window"]["title"]}"' in capture,
              "the chosen window is the meeting window")
        # OCR may still miss one label of the meeting (measured by tests/ocr).
        listed = re.findall(r"^    (.+?) +tile \[", capture, re.M)
        named = [n for n in gallery["names"] if n in listed]
        check(len(named) >= len(gallery["names"]) - 1 and len(listed) <= len(gallery["names"]),
              f"the participants are listed with their tiles (got {listed})")
        # Tiles are inferred from where the labels sit, so they are checked to hold their
        # label's row, not to match the drawn tiles.
        tiles = {m.group(1): [float(v) for v in m.group(2).split()] for m in
                 re.finditer(r"^    (.+?) +tile \[([-\d. ]+)\]", capture, re.M)}
        for name, want in zip(gallery["names"], gallery["tiles"]):
            if name in tiles:
                t = tiles[name]
                check(t[1] < want[1] + want[3] and want[1] < t[1] + t[3],
                      f"the tile of {name!r} is on its row ({t} vs {want})")
        speaker = gallery["names"][gallery["speaker"]]
        check(re.search(r"^  speaking +" + re.escape(speaker) + r"( \(.*\))?$", capture, re.M) is not None,
              f"the speaker is {speaker}")
        for png, where in (("speaker.png", capture),
                           ("gallery.png", section(text, "tessival CAPTURE_FRAME"))):
            path = os.path.join(out_dir, png)
            check(path in where, f"the summary says where {png} is")
            with open(path, "rb") as f:
                check(f.read(8) == b"\x89PNG\r\n\x1a\n", f"{png} is a PNG")

        slide = section(text, "tessival CAPTURE_SLIDE")
        read = [l[6:] for l in slide.splitlines() if l.startswith("    | ")]
        check(read[:1] == slide_first(slides), f"the slide text starts with its title: {read[:1]}")
        check(len(read) >= 5, f"the slide text has most of its lines ({len(read)})")

        audio = section(text, "sondrel")
        check(re.search(r"header +AUDIO sr=48000 ch=1 fmt=f32 t0us=\d+", audio) is not None,
              "the audio header is shown")
        m = re.search(r"RMS (-?[\d.]+) dBFS, peak (-?[\d.]+) dBFS, about (\d+) Hz", audio)
        check(m is not None, "the audio level is shown")
        if m:
            check(-20 < float(m.group(1)) < -10, f"the tone's level is heard ({m.group(1)} dBFS)")
            # A busy machine can make the test server drop a few milliseconds of the tone.
            check(abs(int(m.group(3)) - 440) < 45, f"the tone's pitch is heard ({m.group(3)} Hz)")
        wav = os.path.join(out_dir, "audio.wav")
        check(wav in audio, "the summary says where the WAV file is")
        with wave.open(wav) as w:
            check(w.getnchannels() == 1 and w.getframerate() == 48000
                  and w.getnframes() >= 3 * 48000, "the WAV file holds 3 s of mono audio")
        m = re.search(r"^Check against the built-in meeting: (\d+) of (\d+) names read, "
                      r"speaker right$", text, re.M)
        check(m is not None and int(m.group(1)) >= int(m.group(2)) - 1,
              "the demo's own check agrees")
        m = re.search(r"^  X server +(:\d+) \(private", text, re.M)
        check(m is not None, "the demo started a private X server")
        if m:
            check(not processes_with(m.group(1)), f"the X server {m.group(1)} is stopped")
            check(not os.path.exists(f"/tmp/.X{m.group(1)[1:]}-lock"),
                  "the X server's lock file is gone")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


def slide_first(scene):
    return scene["slide_text"].split("\n")[:1]


if __name__ == "__main__":
    sys.exit(main())
