#!/usr/bin/python3
"""CAPTURE and CAPTURE_SLIDE end to end, side by side with the stock tesseract command.

usage: capture_vs_tesseract.py <tessival> <tessival_x11_probe> <capture_stages> [runs]

Shows a 1440 x 900 meeting window and a 1440 x 900 slide window on a private X server and
times, through tessival's pipes:
  first      a CAPTURE sent the moment "[tessival] ready" appears (fresh process)
  warm       CAPTURE of the unchanged window (median of `runs`)
  video      CAPTURE after the window shows another frame: the same scene drawn again, so the
             camera noise of every tile differs and the labels (translucent chips) do not
  slide      the first CAPTURE_SLIDE of the unseen slide, then warm ones
and `tessival --analyze` of a 1920 x 1080 screenshot including start-up. Takes the same 2x
captures with the probe and times the stock `tesseract <capture> - -l Latin --psm 11` on them
with its default threads and with OMP_THREAD_LIMIT=1, with the language data tessival reads
(the lean model beside it) and, for comparison, the packaged one; ratios are against the faster
with the same data. Prints tessival's peak and final RSS and the stage costs from
capture_stages.
"""
import json
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
from xsession import XSession  # noqa: E402
from harness import ask_json  # noqa: E402

SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
MEETING, SLIDES = "zoom_4_green_watermark_1440", "slides_two_column_1440"
FRAMES = 3


def ask(p, line):
    return ask_json(p, line, 120, "tessival")


def timed(p, line, runs, before=None):
    times, answer = [], None
    for _ in range(runs):
        if before:
            before()
        t = time.perf_counter()
        answer = ask(p, line)
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times), answer


def stock(capture, runs, env_extra, tessdata=None):
    env = dict(os.environ, **env_extra)
    where = ["--tessdata-dir", tessdata] if tessdata else []
    times, out = [], ""
    for _ in range(runs):
        t = time.perf_counter()
        out = subprocess.run(["tesseract", capture, "-", *where, "-l", "Latin", "--psm", "11"], env=env,
                             capture_output=True, text=True).stdout
        times.append((time.perf_counter() - t) * 1000)
    return statistics.median(times), [l.strip() for l in out.splitlines() if l.strip()]


def recall(got, want):
    return sum(1 for n in want if n in got) / len(want)


def start_when_ready(exe, env):
    """tessival started; returns (process, seconds from start to its ready line)."""
    p = subprocess.Popen([exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, text=True)
    t0 = time.perf_counter()
    ready = threading.Event()

    def drain():
        for line in p.stderr:
            if line.startswith("[tessival] ready"):
                ready.set()
    threading.Thread(target=drain, daemon=True).start()
    if not ready.wait(60):
        raise RuntimeError("tessival never said it was ready")
    return p, time.perf_counter() - t0


def main():
    tessival, probe_exe, stages_exe = (os.path.abspath(a) for a in sys.argv[1:4])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 10
    lean = os.path.join(os.path.dirname(os.path.dirname(tessival)), "share", "meeting-sidecars", "tessdata")
    if not os.path.isfile(os.path.join(lean, "Latin.traineddata")):
        raise SystemExit(f"no lean model in {lean}: build the lean_ocr_model target")
    work = tempfile.mkdtemp(prefix="capture-bench-")
    frames = []
    for i in range(FRAMES):
        # The generator draws the camera noise afresh each time: frames of one meeting.
        fx = os.path.join(work, f"scenes{i}")
        subprocess.run(["/usr/bin/python3", SCENES, fx, "--only", MEETING, SLIDES], check=True,
                       stdout=subprocess.DEVNULL)
        frames.append(os.path.join(fx, MEETING + ".png"))
    fx = os.path.join(work, "scenes0")
    manifest = {s["name"]: s for s in json.load(open(os.path.join(fx, "manifest.json")))}
    meeting = manifest[MEETING]
    screenshot = os.path.join(work, "screenshot-1920x1080.png")
    Image.open(frames[0]).convert("RGB").resize((1920, 1080), Image.BICUBIC).save(screenshot)

    with XSession(first_display=90, last_display=99) as x:
        mproc, mid = x.show(meeting["window"]["title"], meeting["window"]["class"], "1440x900+0+0",
                            frames[0], frames=frames[1:])
        _, sid = x.show(manifest[SLIDES]["window"]["title"], manifest[SLIDES]["window"]["class"],
                        "1440x900+1000+500", os.path.join(fx, SLIDES + ".png"))
        p, ready_s = start_when_ready(tessival, x.env)
        t = time.perf_counter()
        first_answer = ask(p, "CAPTURE")
        first = (time.perf_counter() - t) * 1000
        cap_ms, cap = timed(p, "CAPTURE", runs)

        def next_frame():
            mproc.send_signal(signal.SIGUSR1)
            time.sleep(0.5)  # Tk repaints
        video_ms, video = timed(p, "CAPTURE", runs, before=next_frame)
        t = time.perf_counter()
        slide_first_answer = ask(p, "CAPTURE_SLIDE")
        slide_first = (time.perf_counter() - t) * 1000
        slide_ms, slide = timed(p, "CAPTURE_SLIDE", runs)
        with open(f"/proc/{p.pid}/status") as f:
            status = {l.split(":")[0]: l.split()[1:] for l in f}
        rss, rss_now = int(status["VmHWM"][0]) / 1024, int(status["VmRSS"][0]) / 1024
        p.stdin.close()
        p.wait()

        shots = {}
        for name, wid in ((MEETING, mid), (SLIDES, sid)):
            ppm = os.path.join(work, name + ".ppm")
            subprocess.run([probe_exe], input=f"shot {wid} {ppm}\n", env=x.env, capture_output=True,
                           text=True)
            png = os.path.join(work, name + "@2x.png")
            subprocess.run(["convert", ppm, png], check=True)
            shots[name] = png

    analyze = []
    for _ in range(3):
        t = time.perf_counter()
        subprocess.run([tessival, "--analyze", screenshot], capture_output=True)
        analyze.append((time.perf_counter() - t) * 1000)

    stock_runs = max(3, runs // 2)
    names = lambda a: sorted(n["text"] for n in a.get("names", []))  # noqa: E731
    d_ms, d_lines = stock(shots[MEETING], stock_runs, {}, lean)
    o_ms, _ = stock(shots[MEETING], stock_runs, {"OMP_THREAD_LIMIT": "1"}, lean)
    sd_ms, _ = stock(shots[SLIDES], stock_runs, {}, lean)
    so_ms, _ = stock(shots[SLIDES], stock_runs, {"OMP_THREAD_LIMIT": "1"}, lean)
    pd_ms, _ = stock(shots[MEETING], stock_runs, {"OMP_THREAD_LIMIT": "1"})
    ps_ms, _ = stock(shots[SLIDES], stock_runs, {"OMP_THREAD_LIMIT": "1"})
    stages = json.loads(subprocess.run([stages_exe, shots[MEETING], "5"], capture_output=True,
                                       text=True).stdout)
    fast, sfast = min(d_ms, o_ms), min(sd_ms, so_ms)
    print(f"stock tesseract  meeting {d_ms:.0f} ms default threads, {o_ms:.0f} ms OMP_THREAD_LIMIT=1; "
          f"slide {sd_ms:.0f} / {so_ms:.0f} ms (lean model); packaged model, one thread: "
          f"meeting {pd_ms:.0f} ms, slide {ps_ms:.0f} ms")
    print(f"ready            {ready_s * 1000:7.0f} ms after start")
    print(f"CAPTURE first    {first:7.0f} ms after ready  ratio {first / fast:.2f}x  (goal <= 600 ms)")
    print(f"CAPTURE warm     {cap_ms:7.0f} ms median of {runs}  ratio {cap_ms / fast:.3f}x  (goal <= 80 ms)")
    print(f"CAPTURE video    {video_ms:7.0f} ms median of {runs}  ratio {video_ms / fast:.3f}x  (goal <= 120 ms)")
    print(f"SLIDE first      {slide_first:7.0f} ms  ratio {slide_first / sfast:.2f}x  (goal <= 0.25x)")
    print(f"SLIDE warm       {slide_ms:7.0f} ms median of {runs}  ratio {slide_ms / sfast:.3f}x  (goal <= 50 ms)")
    print(f"--analyze 1920x1080 {statistics.median(analyze):5.0f} ms with start-up (goal <= 1000 ms)")
    print(f"names            first {names(first_answer)}; same when warm {names(cap) == names(first_answer)}, "
          f"under changing video {names(video) == names(first_answer)}")
    print(f"                 recall tessival {recall(names(cap), meeting['names']):.2f}, "
          f"stock {recall(d_lines, meeting['names']):.2f}; slide text same warm "
          f"{slide.get('text') == slide_first_answer.get('text')}")
    print(f"peak RSS         {rss:.0f} MiB (goal <= 100 MiB), {rss_now:.0f} MiB after the captures")
    print(f"stages           {json.dumps(stages)}")


if __name__ == "__main__":
    main()
