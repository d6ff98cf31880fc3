"""Records 20 s with sondrel and with parec side by side, once against a private PulseAudio
daemon and once against a private PipeWire (with WirePlumber and pipewire-pulse), and prints
for each server the CPU time of each recorder, their ratio, and the delay from a click
handed to the player to its samples on each program's standard output. Both take 20 ms
blocks (parec on PipeWire would otherwise get ~2 s blocks, which costs less CPU).

usage: sondrel_vs_parec.py <sondrel binary> [seconds] [pulseaudio|pipewire ...]
"""
import array
import os
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..",
                                "tests", "tools"))
import pulse_fixture as pf  # noqa: E402

CLICK = 0.8
CLICK_EVERY_S = 2.0


class Recorder:
    """A child whose standard output is read in a thread, with arrival times."""

    def __init__(self, args, env, stdin=None):
        self.proc = subprocess.Popen(args, stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, env=env)
        self.out = bytearray()
        self.arrivals = []
        self.thread = threading.Thread(target=self._pump, daemon=True)
        self.thread.start()

    def _pump(self):
        while True:
            data = self.proc.stdout.read1(1 << 16)
            if not data:
                return
            self.out.extend(data)
            self.arrivals.append((time.time(), len(self.out)))

    def finish(self):
        """Waits for the child; returns its user + system CPU seconds."""
        _, _, usage = os.wait4(self.proc.pid, 0)
        self.proc.returncode = 0
        self.thread.join(timeout=5)
        return usage.ru_utime + usage.ru_stime

    def arrival(self, byte_end):
        return next((t for t, size in self.arrivals if size >= byte_end), None)


def click_arrivals(recorder, skip_bytes, channels):
    """Arrival times of the first sample of each click (a rise to CLICK)."""
    payload = bytes(recorder.out[skip_bytes:])
    samples = array.array("f")
    samples.frombytes(payload[: len(payload) // 4 * 4])
    found = []
    previous = 0.0
    for i in range(0, len(samples), channels):
        x = samples[i]
        if abs(x - CLICK) < 1e-6 and abs(previous - CLICK) >= 1e-6:
            found.append(recorder.arrival(skip_bytes + (i + channels) * 4))
        previous = x
    return found


def measure(binary, seconds, kind):
    with pf.make_server(kind) as server:
        env = server.client_env()
        sondrel = Recorder([binary], env, stdin=subprocess.PIPE)
        parec = Recorder(["parec", "-d", pf.SINK + ".monitor", "--format=float32le",
                          "--channels=2", "--rate=48000", "--latency-msec=20"], env)
        time.sleep(1.0)  # both connected and delivering

        player = pf.Player(server)
        chunk = 480  # 10 ms
        silence = pf.pack_frames(chunk, 0.0, 0.0)
        click = pf.pack_frames(chunk, CLICK, CLICK)
        per_click = int(CLICK_EVERY_S * pf.RATE / chunk)
        chunks = []
        for _ in range(int((seconds - 2) / CLICK_EVERY_S)):
            chunks += [(silence, False)] * (per_click - 1) + [(click, True)]
        marks = player.paced(chunks)
        player.close()
        time.sleep(max(0.0, seconds - 1.0 - len(chunks) * chunk / pf.RATE))

        sondrel.proc.stdin.close()
        parec.proc.send_signal(signal.SIGINT)
        cpu_sondrel = sondrel.finish()
        cpu_parec = parec.finish()

    header_end = bytes(sondrel.out).index(b"\n") + 1
    s_clicks = click_arrivals(sondrel, header_end, 1)
    p_clicks = click_arrivals(parec, 0, 2)
    s_delays = [(a - m) * 1000 for a, m in zip(s_clicks, marks) if a is not None]
    p_delays = [(a - m) * 1000 for a, m in zip(p_clicks, marks) if a is not None]

    def summary(values):
        if not values:
            return "no clicks found"
        values = sorted(values)
        return "median %.1f ms, max %.1f ms over %d clicks" % (
            values[len(values) // 2], values[-1], len(values))

    print("%s: recorded %.0f s, 20 ms blocks" % (kind, seconds))
    print("  CPU time: sondrel %.3f s, parec %.3f s, ratio %.2f (goal <= 1.00)" %
          (cpu_sondrel, cpu_parec, cpu_sondrel / cpu_parec if cpu_parec else float("nan")))
    print("  click to standard output: sondrel %s; parec %s" % (summary(s_delays),
                                                                 summary(p_delays)))
    if s_delays and p_delays:
        diffs = sorted(s - p for s, p in zip(s_delays, p_delays))
        print("  sondrel minus parec: median %.1f ms, max %.1f ms (goal <= +10 ms)" %
              (diffs[len(diffs) // 2], diffs[-1]))
    sys.stdout.flush()


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    binary = sys.argv[1]
    seconds = float(sys.argv[2]) if len(sys.argv) >= 3 else 20.0
    kinds = sys.argv[3:] or list(pf.SERVERS)
    for kind in kinds:
        pf.require_tools(*pf.CLIENT_TOOLS, server=kind)
    for kind in kinds:
        measure(binary, seconds, kind)


if __name__ == "__main__":
    main()
