#!/usr/bin/python3
"""Starts a private headless sway with 20 native windows (one of them a 1440 x 900 meeting
window titled "bench capture target"), runs windows_bench there, and times
`grim -g "x,y 1440x900"` (raw PPM, no PNG encoding) of the same area in the same run.

usage: sway_vs_grim.py <windows_bench> <wayland_show_image> [repetitions]
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
from swaysession import SwaySession  # noqa: E402

SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")


def main():
    bench, show = sys.argv[1], sys.argv[2]
    reps = int(sys.argv[3]) if len(sys.argv) > 3 else 10
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["/usr/bin/python3", SCENES, tmp, "--only", "demo_gallery",
                        "decoy_editor_code"], check=True, stdout=subprocess.DEVNULL)
        with SwaySession(show, size=(1920, 1080)) as s:
            for i in range(19):
                s.show(f"window {i} - document {i}", ["editor", "chromium", "terminal"][i % 3],
                       os.path.join(tmp, "decoy_editor_code.png"), (300 + 7 * i, 220 + 5 * i),
                       at=((37 * i) % 1500, (53 * i) % 800))
            s.show("bench capture target - Zoom Meeting", "zoom",
                   os.path.join(tmp, "demo_gallery.png"), (1440, 900), at=(240, 90))
            time.sleep(0.5)
            out = os.path.join(tmp, "bench.json")
            subprocess.run([bench, f"--benchmark_repetitions={reps}",
                            "--benchmark_report_aggregates_only=true",
                            f"--benchmark_out={out}", "--benchmark_out_format=json"],
                           env=s.env, check=True)
            ours = next(b["real_time"] for b in json.load(open(out))["benchmarks"]
                        if b["name"] == "BM_FindAndCapture/real_time_median")
            times = []
            for _ in range(reps):
                t0 = time.perf_counter()
                subprocess.run(["grim", "-t", "ppm", "-g", "240,90 1440x900", "-"], env=s.env,
                               check=True, stdout=subprocess.DEVNULL)
                times.append((time.perf_counter() - t0) * 1000)
            grim = statistics.median(times)
            print(f'grim -t ppm -g "240,90 1440x900" - (1x): median {grim:.1f} ms over {reps} runs')
            print(f"search + 2x capture / grim: {ours / grim:.2f}")


if __name__ == "__main__":
    main()
