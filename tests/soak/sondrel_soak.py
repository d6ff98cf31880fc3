#!/usr/bin/python3
"""Soak: sondrel for a long capture with a RESTART every 10 s.

Runs a private PulseAudio server with a player feeding a steady level, starts sondrel, sends
RESTART every INTERVAL seconds (default 10) for DURATION seconds (default 1800), and checks
that the samples received match the elapsed time within 0.5 % and that resident memory
stays flat (under 5 % growth after the first minute).

usage: sondrel_soak.py <sondrel> [DURATION [INTERVAL]]    (not part of ctest)
"""
import os
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))
import pulse_fixture as pf  # noqa: E402
from harness import rss_kb  # noqa: E402


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = sys.argv[1]
    duration = float(sys.argv[2]) if len(sys.argv) > 2 else 1800.0
    interval = float(sys.argv[3]) if len(sys.argv) > 3 else 10.0
    pf.require_tools("pulseaudio", "pacat", "pactl")
    with pf.PulseServer() as server:
        player = pf.Player(server, latency_msec=50)
        # One-second pieces, fed one after another for the whole run (pacat paces them).
        piece = pf.pack_frames(pf.RATE, 0.3, 0.1)

        def feed():
            try:
                for _ in range(int(duration) + 30):
                    player.play(piece)
            except (OSError, ValueError):  # the player was stopped at the end
                pass
        threading.Thread(target=feed, daemon=True).start()
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            if not sondrel.header_seen.wait(10):
                sys.exit("no header")
            start = time.monotonic()
            base_rss = None
            rss = []
            restarts = 0
            while time.monotonic() - start < duration:
                time.sleep(interval)
                sondrel.send(b"RESTART\n")
                restarts += 1
                r = rss_kb(sondrel.proc.pid)
                rss.append(r)
                if base_rss is None and time.monotonic() - start >= min(60, duration / 4):
                    base_rss = r
                if restarts % 6 == 0:
                    print(f"{time.monotonic() - start:.0f} s, {restarts} restarts, rss {r} kB",
                          flush=True)
            time.sleep(0.5)
            closed_at = time.time()
            sondrel.close_input()
            code = sondrel.wait(20)
        finally:
            sondrel.kill()
            player.proc.kill()
    lines = sondrel.stderr_lines()
    header, samples, payload = sondrel.header_and_samples()
    rate, t0us = pf.parse_header(header)
    elapsed = closed_at - t0us / 1e6
    ratio = len(samples) / (elapsed * rate)
    ok_restarts = sum("restart ok in" in l for l in lines)
    base_rss = base_rss or rss[0]
    growth = (max(rss[-3:]) - base_rss) / base_rss
    print(f"duration {elapsed:.1f} s, samples {len(samples)}, ratio {ratio:.5f}, "
          f"restarts {restarts} sent / {ok_restarts} ok, exit {code}")
    print(f"rss after warm-up {base_rss} kB, at end {rss[-1]} kB (max {max(rss)}), "
          f"growth {growth * 100:.2f} %")
    ok = (code == 0 and payload % 4 == 0 and abs(ratio - 1) <= 0.005 and
          ok_restarts == restarts and growth < 0.05)
    print("PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
