#!/usr/bin/python3
"""The desktop portal's route on a private session bus with real PipeWire and WirePlumber: a
stand-in portal and a producer playing a 1440 x 900 meeting picture at 30 frames a second
(BENCH_FPS sets another rate) as the chosen window. Runs windows_bench there (CHOOSE_WINDOW
with a stored token, the warm 2x capture from the stream, and the peer: the same picture
decoded from its PNG file and scaled to 2x), then in a tessival process the warm CAPTURE
command and the CPU time while it sits between commands with the stream open.

usage: portal_vs_png.py <windows_bench> <tessival> <portal_png_producer> [repetitions]
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
from harness import cleanup  # noqa: E402
from portal_fixture import Bus, Rig  # noqa: E402

SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
IDLE_SECONDS = 30
FPS = int(os.environ.get("BENCH_FPS", "30"))


def cpu_seconds(pid):
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    bench, tessival, producer = sys.argv[1:4]
    reps = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    with tempfile.TemporaryDirectory() as work:
        subprocess.run(["/usr/bin/python3", SCENES, work, "--only", "demo_gallery"], check=True,
                       stdout=subprocess.DEVNULL)
        image = os.path.join(work, "meeting-1440x900.png")
        subprocess.run(["convert", os.path.join(work, "demo_gallery.png"), "-resize", "1440x900!",
                        image], check=True)
        with Bus(with_sink=False) as server:
            rig = Rig(server, work, tessival, producer, image)
            try:
                rig.play(fps=FPS)
                rig.answer("choose")
                rig.start_portal()
                env = dict(rig.env, BENCH_PNG=image)
                out = os.path.join(work, "bench.json")
                subprocess.run([bench, f"--benchmark_repetitions={reps}",
                                "--benchmark_report_aggregates_only=true",
                                "--benchmark_filter=BM_Screenshot2x|BM_ChooseWithToken|BM_PngFileTo2x",
                                f"--benchmark_out={out}", "--benchmark_out_format=json"],
                               env=env, check=True)
                median = {b["name"].split("/")[0]: b["real_time"] for b in json.load(open(out))["benchmarks"]
                          if b["name"].endswith("_median")}
                print(f"CHOOSE_WINDOW with a token: median {median['BM_ChooseWithToken']:.1f} ms")
                print(f"warm 2x capture from the stream / PNG file decoded and scaled: "
                      f"{median['BM_Screenshot2x']:.1f} / {median['BM_PngFileTo2x']:.1f} ms = "
                      f"{median['BM_Screenshot2x'] / median['BM_PngFileTo2x']:.2f}")

                t = rig.start(os.path.join(work, "state"))
                t.ask("CHOOSE_WINDOW")
                t.ask("CAPTURE")  # the text engine loaded and used: nothing left to warm up
                took = []
                for _ in range(reps):
                    t0 = time.perf_counter()
                    answer = t.ask("CAPTURE")
                    took.append((time.perf_counter() - t0) * 1000)
                print(f"warm CAPTURE command (picture and reading, {len(answer.get('names', []))} names): "
                      f"median {statistics.median(took):.0f} ms")
                time.sleep(1)
                before, t0 = cpu_seconds(t.p.pid), time.monotonic()
                time.sleep(IDLE_SECONDS)
                used = cpu_seconds(t.p.pid) - before
                print(f"idle between commands, stream open at {FPS} fps: "
                      f"{100 * used / (time.monotonic() - t0):.2f}% of a core over {IDLE_SECONDS} s")
                t.close()
            finally:
                cleanup()


if __name__ == "__main__":
    main()
