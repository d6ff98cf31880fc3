#!/usr/bin/python3
"""tessival --analyze and --annotate on the generated meeting scenes.

  analyze_annotate_test.py <tessival>

For galleries, a browser call, a slide and a decoy: the answer with --annotate is byte for
byte the answer without it; the annotated PNG keeps the picture's width, adds a legend
band below it, and shows each name's box (cyan), each tile (orange), the chosen highlight
(magenta) and the ring (green) where the answer reports them. On the demo meeting the
answer names every participant and finds the ring round the speaker. A file that cannot
be read or written gives exit status 1 and writes no picture.
"""
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import check, failures, iou  # noqa: E402

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
CYAN, ORANGE, MAGENTA, GREEN = (0, 220, 255), (255, 150, 0), (255, 0, 200), (40, 255, 80)



def run(tessival, *args):
    return subprocess.run([tessival, "--analyze", *args], capture_output=True, timeout=120)


def colour_on_edges(img, rect, colour, outside=4, inside=16):
    """Pixels of `colour` in the frame round the edges of `rect` (fractions): from
    `outside` pixels outside each edge to `inside` pixels inside it."""
    w, h = img.width, img.height
    px = img.load()
    x0, y0 = int(rect[0] * w), int(rect[1] * h)
    x1, y1 = int((rect[0] + rect[2]) * w), int((rect[1] + rect[3]) * h)
    hits = 0
    for y in range(max(y0 - outside, 0), min(y1 + outside, h)):
        for x in range(max(x0 - outside, 0), min(x1 + outside, w)):
            near = min(abs(x - x0), abs(x - x1), abs(y - y0), abs(y - y1))
            edge_in = x0 + inside <= x < x1 - inside and y0 + inside <= y < y1 - inside
            if near <= max(outside, inside) and not edge_in and px[x, y] == colour:
                hits += 1
    return hits


def scenario_scene(tessival, scene, fx, tmp):
    name = scene["name"]
    path = os.path.join(fx, scene["file"])
    args = [path, "--title", scene["window"]["title"]]
    if scene["kind"] == "slides":
        args.append("--slide")
    plain = run(tessival, *args)
    out_png = os.path.join(tmp, name + "-annotated.png")
    annotated = run(tessival, *args, "--annotate", out_png)
    check(plain.returncode == 0 and annotated.returncode == 0,
          f"{name}: both runs exit 0 ({plain.returncode}, {annotated.returncode})")
    check(plain.stdout == annotated.stdout and plain.stdout.count(b"\n") == 1,
          f"{name}: --annotate leaves the answer unchanged")
    check(b"annotated picture written to " + out_png.encode() in annotated.stderr,
          f"{name}: the log says where the picture went")
    answer = json.loads(plain.stdout)
    img = Image.open(out_png).convert("RGB")
    check(img.width == scene["width"] and img.height > scene["height"] + 40,
          f"{name}: same width, legend band below ({img.size} for "
          f"{scene['width']}x{scene['height']})")
    picture = img.crop((0, 0, scene["width"], scene["height"]))
    names = answer.get("names", [])
    if scene["kind"] in ("gallery", "browser_call"):
        # Galleries: every name and tile on its own. (A decoy's made-up tiles overlap.)
        for n in names:
            check(colour_on_edges(picture, n["bbox"], CYAN, 4, 2) > 10,
                  f"{name}: the box of {n['text']!r} is drawn")
            colour = MAGENTA if n["highlighted"] else ORANGE
            check(colour_on_edges(picture, n["tile"], colour, 2, 8) > 50,
                  f"{name}: the tile of {n['text']!r} is drawn"
                  + (" as the chosen highlight" if n["highlighted"] else ""))
    elif names:
        check(sum(colour_on_edges(picture, n["bbox"], CYAN, 4, 2) for n in names) > 10,
              f"{name}: the name boxes are drawn")
    from_tile = any(n["highlighted"] and n["tile"] == answer.get("ring_rect") for n in names)
    if "ring_rect" in answer and not from_tile:  # the crop came from a ring
        check(colour_on_edges(picture, answer["ring_rect"], GREEN, 0, 24) > 40,
              f"{name}: the ring is drawn")
    return answer


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    tessival = sys.argv[1]
    wanted = ["demo_gallery", "demo_slides", "teams_4_purple_1280",
              "zoom_5_yellow_highlight_1280", "browser_meet_4_blue_1440", "decoy_editor_code"]
    with tempfile.TemporaryDirectory() as tmp:
        fx = os.path.join(tmp, "scenes")
        subprocess.run(["/usr/bin/python3", SCENES, fx, "--only", *wanted], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(fx, "manifest.json")) as f:
            scenes = {s["name"]: s for s in json.load(f)}
        answers = {}
        for name in wanted:
            try:
                answers[name] = scenario_scene(tessival, scenes[name], fx, tmp)
            except Exception as e:  # a broken scenario is a failure, never a silent pass
                check(False, f"{name}: raised {type(e).__name__}: {e}")

        demo = scenes["demo_gallery"]
        got = answers.get("demo_gallery", {})
        read = [n["text"] for n in got.get("names", [])]
        # OCR may still miss one label of the meeting (measured by tests/ocr).
        found = [who for who in demo["names"] if who in read]
        check(len(found) >= len(demo["names"]) - 1, f"demo_gallery: the names are read ({read})")
        check("ring_rect" in got and iou(got["ring_rect"], demo["ring"]["rect"]) > 0.8,
              "demo_gallery: the ring round the speaker is found")
        slide = answers.get("demo_slides", {}).get("text", "")
        check(slide.split("\n")[:1] == demo_first_line(scenes["demo_slides"]),
              f"demo_slides: the slide text starts with its title ({slide[:40]!r})")

        missing = os.path.join(tmp, "missing.png")
        out_png = os.path.join(tmp, "never.png")
        r = run(tessival, missing, "--annotate", out_png)
        check(r.returncode == 1 and json.loads(r.stdout) == {
            "ok": False, "error": "cannot read image at " + missing},
            "an unreadable image is answered as before")
        check(not os.path.exists(out_png), "and no picture is written")
        r = run(tessival, os.path.join(fx, "demo_gallery.png"), "--annotate",
                os.path.join(tmp, "no-such-dir", "out.png"))
        check(r.returncode == 1 and json.loads(r.stdout)["ok"] is True,
              "an unwritable picture path still answers, then exits 1")
        check(b"annotate: cannot write" in r.stderr, "and says it could not write")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


def demo_first_line(scene):
    return scene["slide_text"].split("\n")[:1]


if __name__ == "__main__":
    sys.exit(main())
