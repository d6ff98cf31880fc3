#!/usr/bin/python3
"""Soak: many mixed commands to tessival against a live Xvfb scene.

Starts Xvfb (:70-:79), shows a generated meeting gallery in a "Zoom Meeting" window and a
decoy window, and sends COUNT commands (default 10000): the three capture commands with and
without a query, unknown words and blank lines, in a fixed pseudo-random order, in batches.
Checks that every command gets exactly one answer in order (an unknown command's answer is
the unknown-command error and no other answer is), that resident memory grows by less than
5 % and the number of open descriptors not at all between the end of the warm-up and the end.
Resident memory is sampled after every batch; it steps between two levels about 9 MB apart
as the allocator hands the buffers of one command kind back or keeps them, so the figures
compared are the peaks of the first and the last fifth of the samples after the warm-up.

usage: tessival_soak.py <tessival> [COUNT]      (not part of ctest; takes a while)
"""
import os
import random
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(os.path.dirname(HERE), "faults"))
import tessival_faults_test as ft  # noqa: E402
from harness import rss_kb  # noqa: E402

COMMANDS = ["CAPTURE", "CAPTURE_FRAME", "CAPTURE_SLIDE", "CAPTURE Zoom", "CAPTURE_FRAME zoom",
            "CAPTURE_SLIDE Slides", "bogus", "capture", "", "  CAPTURE_FRAME  "]


def fds(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    exe = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) == 3 else 10000
    rng = random.Random(8)
    cmds = [rng.choice(COMMANDS) for _ in range(count)]
    warmup = min(200, count // 10)
    with tempfile.TemporaryDirectory() as tmp:
        try:
            fx = os.path.join(tmp, "fixtures")
            subprocess.run([ft.PY, ft.SCENES, fx, "--only", "demo_gallery",
                            "decoy_editor_code"], check=True, stdout=subprocess.DEVNULL)
            n = ft.free_display()
            env = dict(os.environ, DISPLAY=f":{n}")
            env.pop("WAYLAND_DISPLAY", None)
            ft.start_xvfb(n)
            ft.show(env, "Zoom Meeting", os.path.join(fx, "demo_gallery.png"))
            t = ft.Tessival(exe, env, os.path.join(tmp, "soak.log"))
            start = time.monotonic()
            answered = 0
            bad = 0
            base = None
            samples = []
            trace = []
            batch = 25
            for i in range(0, count, batch):
                chunk = cmds[i:i + batch]
                t.send("".join(c + "\n" for c in chunk))
                expected = [c for c in chunk if c.strip()]
                got = t.answers(len(expected), timeout=600)
                for c, a in zip(expected, got):
                    unknown = c.strip().split(" ")[0] not in ("CAPTURE", "CAPTURE_FRAME",
                                                             "CAPTURE_SLIDE")
                    if unknown != (a.get("error") == "unknown command") or "ok" not in a:
                        bad += 1
                answered += len(got)
                done = i + len(chunk)
                if done > warmup:
                    trace.append(rss_kb(t.p.pid))
                if base is None and done >= warmup:
                    base = (rss_kb(t.p.pid), fds(t.p.pid))
                if done % 1000 < batch:
                    samples.append((done, rss_kb(t.p.pid), fds(t.p.pid)))
                    print(f"{done} commands, {time.monotonic() - start:.0f} s, "
                          f"rss {samples[-1][1]} kB, fds {samples[-1][2]}", flush=True)
            end = (rss_kb(t.p.pid), fds(t.p.pid))
            code, rest = t.finish()
            took = time.monotonic() - start
        finally:
            ft.cleanup()
    sent = sum(1 for c in cmds if c.strip())
    fifth = max(1, len(trace) // 5)
    first, last = max(trace[:fifth]), max(trace[-fifth:])
    growth = (last - first) / first
    print(f"commands {count} ({sent} non-blank), answers {answered}, misplaced {bad}, "
          f"extra output {len(rest.strip())} bytes, exit {code}, {took:.0f} s")
    print(f"rss after warm-up {base[0]} kB, at end {end[0]} kB, max {max(trace)} kB; peak of "
          f"the first fifth {first} kB, of the last {last} kB, growth {growth * 100:.2f} %; "
          f"fds {base[1]} -> {end[1]}")
    ok = (answered == sent and bad == 0 and not rest.strip() and code == 0 and growth < 0.05
          and end[1] <= base[1])
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
