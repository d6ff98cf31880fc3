#!/usr/bin/env python3
"""Drives `tessival --detect-ring` and `tessival --selftest` on image files generated here.

Usage: detect_ring_test.py <path to tessival>
Generates PNG, JPEG and BMP pictures (red-first and blue-first storage, with and without
alpha) and a set of broken files into a temporary directory, runs the binary on each and
checks its one answer line and its exit status. Exits 77 (skipped) without Pillow, unless
CI is set, where a missing Pillow is a failure.
"""
import base64
import io
import json
import math
import os
import resource
import struct
import subprocess
import sys
import tempfile
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import check, failures  # noqa: E402

try:
    from PIL import Image, ImageDraw
except ImportError:
    if os.environ.get("CI"):
        print("FAIL: Pillow (python3-pil) is missing for", sys.executable)
        sys.exit(1)
    print("SKIP: Pillow (python3-pil) is missing")
    sys.exit(77)

BINARY = sys.argv[1]
GREEN = (53, 194, 107)
PURPLE = (91, 95, 199)
BG = (30, 30, 30)
# Address-space cap for the binary: a decoder that trusted a 60000 x 60000 header would need
# over 14 GB and fail loudly instead of answering.
MEMORY_CAP = 1 << 30


# An AddressSanitizer build reserves terabytes of address space for its shadow memory, so it
# gets the cap as a limit on any one allocation instead.
with open(BINARY, "rb") as _f:
    SANITIZED = b"__asan_init" in _f.read()
ENV = dict(os.environ)
if SANITIZED:
    ENV["ASAN_OPTIONS"] = ":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                 "max_allocation_size_mb=%d" % (MEMORY_CAP >> 20)]))


def limit_memory():
    if not SANITIZED:
        resource.setrlimit(resource.RLIMIT_AS, (MEMORY_CAP, MEMORY_CAP))


def run(*args):
    proc = subprocess.run([BINARY, *args], capture_output=True, timeout=60,
                          preexec_fn=limit_memory, env=ENV)
    lines = proc.stdout.decode("utf-8").splitlines()
    answer = json.loads(lines[0]) if len(lines) == 1 else None
    return proc.returncode, lines, answer, proc.stderr


def outline(img, x0, y0, x1, y1, thickness, colour):
    draw = ImageDraw.Draw(img)
    for t in range(thickness):
        draw.rectangle([x0 + t, y0 + t, x1 - t, y1 - t], outline=colour)


def hollow_ring_picture(mode="RGB"):
    img = Image.new(mode, (500, 300), BG + ((255,) if mode == "RGBA" else ()))
    outline(img, 57, 41, 176, 114, 3, GREEN)
    for p in [(400, 250), (401, 250), (400, 251)]:
        img.putpixel(p, GREEN + ((255,) if mode == "RGBA" else ()))
    return img


def save(img, directory, name, **opts):
    path = os.path.join(directory, name)
    img.save(path, **opts)
    return path


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data +
            struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_with_header(width, height):
    """A PNG whose header claims width x height, followed by one row's worth of data."""
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    idat = zlib.compress(b"\x00" + b"\x00" * 3 * 16)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) + png_chunk(b"IDAT", idat) +
            png_chunk(b"IEND", b""))


def bmp_with_header(width, height):
    """A 24-bit BMP whose header claims width x height, with 64 bytes of pixel data."""
    pixels = b"\x00" * 64
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return head + info + pixels


def close(a, b, tol=1e-12):
    return a is not None and len(a) == len(b) and all(abs(x - y) <= tol for x, y in zip(a, b))


def check_ring_answer(name, code, answer, drawn, want_blobs, want_pos):
    """The ring found where it was drawn (`drawn`: x, y, width, height in pixels); the exact
    figures of the scan are the unit tests' business."""
    if not check(code == 0 and answer is not None and answer.get("ok") is True,
                 f"{name}: exit {code}, answer {answer}"):
        return
    check(answer.get("blobs") == want_blobs, f"{name}: blobs {answer.get('blobs')}")
    w, h = answer["image"]
    want_rect = [v / s for v, s in zip(drawn, [w, h, w, h])]
    check(close(answer.get("rect"), want_rect, 0.01), f"{name}: rect {answer.get('rect')}")
    check(answer.get("score", -1) >= 0.3, f"{name}: score {answer.get('score')}")
    check(answer.get("pos") == want_pos, f"{name}: pos {answer.get('pos')}")
    r = answer["rect"]
    want_bbox = [math.floor(v * s + 0.5) for v, s in zip(r, [w, h, w, h])]
    check(answer.get("bbox_px") == want_bbox, f"{name}: bbox_px {answer.get('bbox_px')}")
    crop = answer.get("ring_crop")
    if check(isinstance(crop, str) and "\n" not in crop, f"{name}: ring_crop missing"):
        png = base64.b64decode(crop, validate=True)
        check(png[:8] == b"\x89PNG\r\n\x1a\n", f"{name}: ring_crop is not a PNG")
        decoded = Image.open(io.BytesIO(png))
        check(list(decoded.size) == answer.get("crop_px"),
              f"{name}: crop_px {answer.get('crop_px')} vs PNG {decoded.size}")
        check(max(decoded.size) <= 1024, f"{name}: crop larger than 1024: {decoded.size}")


def main():
    with tempfile.TemporaryDirectory() as d:
        # The 500 x 300 hollow ring with a speck, stored every way we read.
        ring = hollow_ring_picture()
        drawn = [57, 41, 120, 74]
        answers = {}
        for name, path in [
            ("png-rgb", save(ring, d, "ring.png")),
            ("png-rgba", save(hollow_ring_picture("RGBA"), d, "ring-rgba.png")),
            ("bmp-24", save(ring, d, "ring.bmp")),          # stored blue-first
            ("bmp-32", save(hollow_ring_picture("RGBA"), d, "ring32.bmp")),
        ]:
            code, _, answer, _ = run("--detect-ring", path)
            check_ring_answer(name, code, answer, drawn, 2, "top-left")
            answers[name] = answer
        check(all(a == answers["png-rgb"] for a in answers.values()),
              "red-first and blue-first files of one picture answer differently")

        # JPEG is lossy: the ring must still be found where it is drawn.
        path = save(ring, d, "ring.jpg", quality=95, subsampling=0)
        code, _, answer, _ = run("--detect-ring", path)
        check_ring_answer("jpeg", code, answer, drawn, 2, "top-left")

        # The 1400 x 800 ring: scanned at stride 3.
        big = Image.new("RGB", (1400, 800), BG)
        outline(big, 300, 200, 800, 500, 8, GREEN)
        code, _, answer, _ = run("--detect-ring", save(big, d, "strided.png"))
        check_ring_answer("strided", code, answer, [300, 200, 501, 301], 1, "top-center")

        # The round purple ring.
        halo = Image.new("RGB", (500, 300), BG)
        for y in range(133, 168):
            for x in range(233, 268):
                if 14 <= math.hypot(x - 250, y - 150) <= 16:
                    halo.putpixel((x, y), PURPLE)
        code, _, answer, _ = run("--detect-ring", save(halo, d, "halo.png"))
        check_ring_answer("halo", code, answer, [234, 134, 33, 33], 1, "bottom-center")

        # A grey picture, and a ring drawn only in fully transparent pixels (they read as
        # black), answer just the counts.
        grey = Image.new("RGB", (320, 200), (128, 128, 128))
        ghost = Image.new("RGBA", (500, 300), (0, 0, 0, 0))
        outline(ghost, 57, 41, 176, 114, 3, GREEN + (0,))
        for name, img, size in [("grey", grey, [320, 200]), ("transparent", ghost, [500, 300])]:
            code, lines, answer, _ = run("--detect-ring", save(img, d, name + ".png"))
            check(code == 0 and answer == {"ok": True, "blobs": 0, "image": size},
                  f"{name}: exit {code}, {lines}")

        # Unreadable files: every one answers the same error and exits 1, without crashing.
        truncated = open(os.path.join(d, "ring.png"), "rb").read()
        corrupt = bytearray(truncated)
        for i in range(60, len(corrupt), 5):
            corrupt[i] ^= 0x5A
        bad = {
            "missing.png": None,
            "empty.png": b"",
            "truncated.png": truncated[: len(truncated) // 2],
            "corrupt.png": bytes(corrupt),
            "garbage.jpg": b"\xff\xd8\xff" + b"\x13" * 500,
            "huge.png": png_with_header(60000, 60000),
            "huge.bmp": bmp_with_header(60000, 60000),
            "zero.png": png_with_header(0, 0),
            "zero.bmp": bmp_with_header(0, 10),
            "directory": "dir",
        }
        for name, content in bad.items():
            path = os.path.join(d, name)
            if content == "dir":
                os.mkdir(path)
            elif content is not None:
                with open(path, "wb") as f:
                    f.write(content)
            code, lines, answer, _ = run("--detect-ring", path)
            check(code == 1 and answer == {"ok": False,
                                           "error": "cannot read image at " + path},
                  f"{name}: exit {code}, {lines}")

    code, lines, answer, err = run("--selftest")
    check(code == 0 and lines == ['{"ok":true,"selftest":"pass"}'] and err == b"",
          f"selftest: exit {code}, {lines}, stderr {err!r}")

    print("ok" if not failures else f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
