#!/usr/bin/env python3
"""Writes resampled copies of the real screenshots, each with its truth, to measure how names
and speakers hold up on pictures saved at another size or compressed, as pictures found in
documentation and chat often are.

Usage: resample_real.py DEST [--data DIR]

DEST gets one folder per copy (2x and 1.5x bicubic, 0.75x Lanczos, JPEG quality 80 at the
own size), each with images/ and a truth.json whose sizes and tile boxes are scaled to match.
Measure one with: tests/ocr/measure_real.py build/vision/tessival --data DEST/2x
"""

import argparse
import copy
import json
import os
import sys

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = os.path.normpath(os.path.join(HERE, "..", "..", "shared", "real-dev"))

# (folder, scale, resampling filter, saved as JPEG)
COPIES = [
    ("2x", 2.0, Image.BICUBIC, False),
    ("1.5x", 1.5, Image.BICUBIC, False),
    ("0.75x", 0.75, Image.LANCZOS, False),
    ("jpeg", 1.0, None, True),
]


def write_copy(data, truth, dest, scale, resample, jpeg):
    os.makedirs(os.path.join(dest, "images"), exist_ok=True)
    out = []
    for entry in truth:
        with Image.open(os.path.join(data, entry["file"])) as opened:
            # A palette picture with a transparent colour goes by RGBA (PIL warns otherwise).
            picture = opened.convert("RGBA" if opened.mode == "P" else "RGB").convert("RGB")
        if scale != 1.0:
            picture = picture.resize((round(picture.width * scale), round(picture.height * scale)), resample)
        name = os.path.splitext(entry["file"])[0] + (".jpg" if jpeg else ".png")
        picture.save(os.path.join(dest, name), **({"quality": 80} if jpeg else {}))
        scaled = copy.deepcopy(entry)
        scaled["file"] = name
        scaled["width"], scaled["height"] = picture.width, picture.height
        scaled["tiles"] = {k: [round(v * scale) for v in box] for k, box in entry["tiles"].items()}
        out.append(scaled)
    with open(os.path.join(dest, "truth.json"), "w") as f:
        json.dump(out, f, indent=1, ensure_ascii=False)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dest")
    ap.add_argument("--data", default=DEFAULT_DATA)
    args = ap.parse_args()
    try:
        with open(os.path.join(args.data, "truth.json")) as f:
            truth = json.load(f)
    except OSError as e:
        sys.exit(f"resample_real: cannot read the real screenshots' truth: {e}")
    for folder, scale, resample, jpeg in COPIES:
        dest = os.path.join(args.dest, folder)
        print(f"writing {dest} ({len(truth)} pictures)", flush=True)
        write_copy(args.data, truth, dest, scale, resample, jpeg)


if __name__ == "__main__":
    main()
