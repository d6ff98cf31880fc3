#!/usr/bin/python3
"""CAPTURE and CAPTURE_SLIDE end to end, side by side with the stock tesseract command.

usage: capture_vs_tesseract.py <tessival> <tessival_x11_probe> <capture_stages> [runs]

Shows a 1440 x 900 meeting window and a 1440 x 900 slide window on a private X server, times
`runs` CAPTURE and CAPTURE_SLIDE commands through tessival's pipes (the engine warmed by
one command first), takes the same 2x capture with the probe, and times the stock
`tesseract <capture> - -l Latin --psm 11` on it with its default threads and with
OMP_THREAD_LIMIT=1. Prints medians, the ratio against the faster stock run, names recall of
both, tessival's peak RSS, and the stage costs from capture_stages.
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
from xsession import XSession  # noqa: E402
from harness import ask_json  # noqa: E402

SCENES = os.path.join(ROOT, "tests", "fixtures", "make_scenes.py")
MEETING, SLIDES = "zoom_4_green_watermark_1440", "slides_two_column_1440"


def ask(p, line):
    return ask_json(p, line, 120, "tessival")


def timed(p, line, runs):
    times, answer = [], None
    for _ in range(runs):
        t = time.perf_counter()
        answer = ask(p, line)
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times), answer


def stock(capture, runs, env_extra):
    env = dict(os.environ, **env_extra)
    times, out = [], ""
    for _ in range(runs):
        t = time.perf_counter()
        out = subprocess.run(["tesseract", capture, "-", "-l", "Latin", "--psm", "11"], env=env,
                             capture_output=True, text=True).stdout
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times), [l.strip() for l in out.splitlines() if l.strip()]


def recall(got, want):
    return sum(1 for n in want if n in got) / len(want)


def main():
    tessival, probe_exe, stages_exe = (os.path.abspath(a) for a in sys.argv[1:4])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    work = tempfile.mkdtemp(prefix="capture-bench-")
    fx = os.path.join(work, "scenes")
    subprocess.run(["/usr/bin/python3", SCENES, fx, "--only", MEETING, SLIDES], check=True,
                   stdout=subprocess.DEVNULL)
    manifest = {s["name"]: s for s in json.load(open(os.path.join(fx, "manifest.json")))}
    meeting = manifest[MEETING]
    with XSession(first_display=90, last_display=99) as x:
        _, mid = x.show(meeting["window"]["title"], meeting["window"]["class"], "1440x900+0+0",
                        os.path.join(fx, MEETING + ".png"))
        _, sid = x.show(manifest[SLIDES]["window"]["title"], manifest[SLIDES]["window"]["class"],
                        "1440x900+1000+500", os.path.join(fx, SLIDES + ".png"))
        p = subprocess.Popen([tessival], env=x.env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
        t = time.perf_counter()
        ask(p, "CAPTURE")
        first = (time.perf_counter() - t) * 1000
        cap_ms, cap = timed(p, "CAPTURE", runs)
        slide_ms, slide = timed(p, "CAPTURE_SLIDE", runs)
        with open(f"/proc/{p.pid}/status") as f:
            rss = next(int(l.split()[1]) for l in f if l.startswith("VmHWM")) / 1024
        p.stdin.close()
        p.wait()

        shots = {}
        for name, wid in ((MEETING, mid), (SLIDES, sid)):
            ppm = os.path.join(work, name + ".ppm")
            q = subprocess.run([probe_exe], input=f"shot {wid} {ppm}\n", env=x.env, capture_output=True,
                               text=True)
            png = os.path.join(work, name + "@2x.png")
            subprocess.run(["convert", ppm, png], check=True)
            shots[name] = png
            del q

    stock_runs = max(3, runs // 2)
    names = [n["text"] for n in cap.get("names", [])]
    d_ms, d_lines = stock(shots[MEETING], stock_runs, {})
    o_ms, o_lines = stock(shots[MEETING], stock_runs, {"OMP_THREAD_LIMIT": "1"})
    sd_ms, _ = stock(shots[SLIDES], stock_runs, {})
    so_ms, _ = stock(shots[SLIDES], stock_runs, {"OMP_THREAD_LIMIT": "1"})
    stages = json.loads(subprocess.run([stages_exe, shots[MEETING], "5"], capture_output=True,
                                       text=True).stdout)
    fast, sfast = min(d_ms, o_ms), min(sd_ms, so_ms)
    print(f"CAPTURE        tessival {cap_ms:7.0f} ms (median of {runs}; first command {first:.0f} ms)")
    print(f"               tesseract {d_ms:6.0f} ms default threads, {o_ms:.0f} ms OMP_THREAD_LIMIT=1")
    print(f"               ratio {cap_ms / fast:.2f}x the faster stock run (goal <= 0.25x)")
    print(f"               names recall tessival {recall(names, meeting['names']):.2f}, "
          f"stock {recall(d_lines, meeting['names']):.2f}")
    print(f"CAPTURE_SLIDE  tessival {slide_ms:7.0f} ms; tesseract {sd_ms:.0f} / {so_ms:.0f} ms; "
          f"ratio {slide_ms / sfast:.2f}x")
    print(f"peak RSS       {rss:.0f} MB (goal <= 400 MB)")
    print(f"stages         {json.dumps(stages)}")


if __name__ == "__main__":
    main()
