#!/usr/bin/python3
"""Starts a private Xvfb and openbox with 50 real windows (one of them a 1440 x 900 meeting
window titled "bench capture target"), runs windows_bench there, and times
`import -window <id>` (ImageMagick) on the same window in the same run.

usage: windows_vs_import.py <windows_bench> [repetitions]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "x11"))
import x11_windows_test as x  # noqa: E402  (Xvfb, openbox and window helpers)

MANY = r"""
import sys, tkinter as tk
n = int(sys.argv[1])
root = tk.Tk(className="Editor")
root.title("notes 0 - Editor")
root.geometry("400x300+0+0")
for i in range(1, n):
    t = tk.Toplevel(root, class_=["Editor", "Chromium", "Terminal", "Files"][i % 4])
    t.title(f"window {i} - document {i}")
    t.geometry(f"{300 + 7 * i}x{220 + 5 * i}+{(37 * i) % 1800}+{(53 * i) % 1000}")
    tk.Label(t, text=f"window {i}").pack()
root.update()
print("up", flush=True)
root.mainloop()
"""


def main():
    bench = sys.argv[1]
    reps = int(sys.argv[2]) if len(sys.argv) > 2 else 10
    with tempfile.TemporaryDirectory() as tmp:
        try:
            subprocess.run([x.PY, x.SCENES, tmp, "--only", "demo_gallery"], check=True,
                           stdout=subprocess.DEVNULL)
            n = x.free_display()
            x.start_xvfb(n)
            env = dict(os.environ, DISPLAY=f":{n}")
            env.pop("WAYLAND_DISPLAY", None)
            x.start_wm(env)
            many = x.spawn([x.PY, "-c", MANY, "49"], env=env, stdout=subprocess.PIPE, text=True)
            many.stdout.readline()
            _, wid = x.show(env, "bench capture target - Zoom Meeting", "zoom",
                            "1440x900+300+200", os.path.join(tmp, "demo_gallery.png"))
            time.sleep(1)
            subprocess.run([bench, f"--benchmark_repetitions={reps}",
                            "--benchmark_report_aggregates_only=true"], env=env, check=True)
            times = []
            for _ in range(reps):
                t0 = time.perf_counter()
                subprocess.run(["import", "-window", hex(wid), "ppm:/dev/null"], env=env,
                               check=True)
                times.append((time.perf_counter() - t0) * 1000)
            print(f"import -window {hex(wid)} ppm:/dev/null (1440x900, 1x): "
                  f"median {statistics.median(times):.1f} ms over {reps} runs")
        finally:
            x.cleanup()


if __name__ == "__main__":
    main()
