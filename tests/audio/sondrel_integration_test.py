"""Runs the built sondrel against a private sound server: a PulseAudio daemon, or PipeWire
with WirePlumber and pipewire-pulse.

usage: sondrel_integration_test.py <sondrel binary> <scenario> [pulseaudio|pipewire]
Scenarios: downmix, t0, restart, kill, frozen, noserver, follow, unplug, closed_output,
dryrun.
"""
import math
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))
import pulse_fixture as pf  # noqa: E402
from harness import check  # noqa: E402
from harness import failures as FAILURES  # noqa: E402

SERVER = "pulseaudio"  # set from the command line
MIC_LEVEL = 0.7  # what the decoy microphone carries; never seen on standard output


def finite_and_bounded(samples):
    return all(math.isfinite(x) and -1.0 <= x <= 1.0 for x in samples)


def wait_for_header(sondrel, timeout=10):
    return check(sondrel.header_seen.wait(timeout), "no header within %ds" % timeout)


def scenario_downmix(binary):
    """Known stereo tones come out as (L+R)/2, unclipped, without NaN.

    Every sample is compared with the down-mix of what a reference recorder (parec) takes
    from the same monitor at the same time; the known tone itself is found block by block,
    because on a loaded machine the server may drop or repeat a few milliseconds of a
    playback stream whose player under-runs (parec alone shows the same)."""
    frames = pf.RATE  # one second
    left = pf.tone(frames, 0.95, 440.0)
    right = pf.tone(frames, 0.95, 660.0, phase=0.5)
    with pf.make_server(SERVER) as server:
        env = server.client_env()
        sondrel = pf.Sondrel(binary, env)
        # By name: pipewire-pulse takes the special monitor name for the default source.
        reference = pf.Recorder(["parec", "-d", pf.SINK + ".monitor", "--format=float32le",
                                 "--channels=2", "--rate=48000", "--latency-msec=20"], env)
        try:
            wait_for_header(sondrel)
            check(reference.first_bytes.wait(10), "the reference recorder got nothing")
            # A roomy player buffer makes under-runs, and so server-side glitches, rarer.
            player = pf.Player(server, latency_msec=100)
            player.play(pf.stereo_bytes(left, right))
            player.close()
            time.sleep(0.3)
            sondrel.close_input()
            check(sondrel.wait(10) == 0, "exit status not 0")
        finally:
            sondrel.kill()
            reference.stop()
    header, samples, _ = sondrel.header_and_samples()
    check(header.startswith("AUDIO sr=48000 ch=1 fmt=f32 t0us="), "header: " + header)
    check(finite_and_bounded(samples), "samples not finite or outside [-1, 1]")

    ours = nonzero_span(samples)
    stereo = reference.floats()
    theirs = nonzero_span([pf_float((stereo[2 * i] + stereo[2 * i + 1]) * 0.5)
                           for i in range(len(stereo) // 2)])
    if not check(ours and theirs, "the tone never arrived (sondrel %d, parec %d samples)" %
                 (len(ours), len(theirs))):
        return
    check(len(ours) == len(theirs), "tone spans differ: sondrel %d, parec %d samples" %
          (len(ours), len(theirs)))
    mismatches = sum(1 for a, b in zip(ours, theirs) if a != b)
    check(mismatches == 0, "%d samples differ from parec's (L+R)/2" % mismatches)

    expected = [(pf_float(l) + pf_float(r)) * 0.5 for l, r in zip(left, right)]
    block = pf.RATE // 10
    blocks = [ours[i:i + block] for i in range(0, len(ours) - block + 1, block)]
    found = sum(1 for b in blocks if contains_exactly(expected, b))
    print("sondrel: %d tone samples, %d of %d 100-ms blocks found in the tone" %
          (len(ours), found, len(blocks)))
    check(len(blocks) >= 8 and found * 10 >= len(blocks) * 6, "the tone did not come through")
    peak = max(abs(x) for x in ours)
    check(peak > 0.9, "peak %.3f: the down-mix attenuated or clipped" % peak)


def nonzero_span(samples):
    """The samples from the first to the last non-zero one."""
    nonzero = [i for i, x in enumerate(samples) if x != 0.0]
    return list(samples[nonzero[0]:nonzero[-1] + 1]) if nonzero else []


def contains_exactly(expected, piece, tolerance=1e-6):
    head = piece[:16]
    for k in range(len(expected) - len(piece) + 1):
        if all(abs(expected[k + i] - head[i]) < tolerance for i in range(len(head))):
            if all(abs(expected[k + i] - x) < tolerance for i, x in enumerate(piece)):
                return True
    return False


def pf_float(x):
    import struct
    return struct.unpack("<f", struct.pack("<f", x))[0]


def scenario_t0(binary):
    """The header's t0us places a click within 300 ms of when it was played."""
    silence = pf.pack_frames(480, 0.0, 0.0)  # 10 ms chunks
    click = pf.pack_frames(480, 0.8, 0.8)
    with pf.make_server(SERVER) as server:
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            player = pf.Player(server)
            chunks = [(silence, False)] * 150 + [(click, True)] + [(silence, False)] * 30
            marks = player.paced(chunks)
            player.close()
            time.sleep(0.2)
            sondrel.close_input()
            check(sondrel.wait(10) == 0, "exit status not 0")
        finally:
            sondrel.kill()
    header, samples, _ = sondrel.header_and_samples()
    rate, t0us = pf.parse_header(header)
    index = next((i for i, x in enumerate(samples) if abs(x - 0.8) < 1e-6), None)
    if not check(index is not None, "click not found in the output"):
        return
    heard_us = t0us + index * 1_000_000 // rate
    delta_ms = (heard_us - marks[0] * 1e6) / 1000
    arrived_ms = (pf.arrival_time(sondrel, index) - marks[0]) * 1000
    print("click placed %.1f ms after it was handed to the player; it reached the reader "
          "after %.1f ms" % (delta_ms, arrived_ms))
    check(abs(delta_ms) <= 300, "t0us is %.1f ms off (limit 300)" % delta_ms)


def scenario_restart(binary):
    """RESTART every 2 s over 10 s keeps samples = elapsed time x 48000 within 1%."""
    with pf.make_server(SERVER) as server:
        player = pf.Player(server, latency_msec=50)
        player.play_in_background(pf.pack_frames(pf.RATE * 12, 0.3, 0.1))  # a steady level
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            wait_for_header(sondrel)
            for _ in range(5):
                time.sleep(2.0)
                sondrel.send(b"RESTART\n")
            # The last new stream's first buffer settles its gap (PipeWire takes ~0.2 s).
            wait_for_count(sondrel, "restart gap-pad", 5, 5)
            closed_at = time.time()
            sondrel.close_input()
            check(sondrel.wait(10) == 0, "exit status not 0")
        finally:
            sondrel.kill()
            player.proc.kill()
    header, samples, _ = sondrel.header_and_samples()
    rate, t0us = pf.parse_header(header)
    elapsed = closed_at - t0us / 1e6
    ratio = len(samples) / (elapsed * rate)
    lines = sondrel.stderr_lines()
    print("samples %d, elapsed %.3f s, ratio %.4f" % (len(samples), elapsed, ratio))
    print("\n".join(l for l in lines if "restart" in l))
    check(abs(ratio - 1) <= 0.01, "samples/elapsed ratio %.4f outside 1%%" % ratio)
    check(sum("restart ok in" in l for l in lines) == 5, "not five successful restarts")
    check(sum("restart gap-pad" in l for l in lines) == 5, "not five gap checks")
    check(finite_and_bounded(samples), "samples not finite or outside [-1, 1]")
    check(set(samples) <= {0.0, pf_float(0.2)}, "samples other than silence and the level")
    check(samples.count(pf_float(0.2)) > 9 * rate, "the level was not heard for 9 s")


def scenario_kill(binary):
    """Killing the server: exit 2, the stop line last, every sample before it intact."""
    with pf.make_server(SERVER) as server:
        player = pf.Player(server)
        player.play_in_background(pf.pack_frames(pf.RATE * 10, 0.25, 0.25))
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            wait_for_header(sondrel)
            time.sleep(2.0)
            killed_at = time.time()
            server.kill()
            try:
                code = sondrel.wait(5)
            except Exception:
                code = None
            check(code == 2, "exit status %r, expected 2" % code)
        finally:
            sondrel.kill()
            player.proc.kill()
    lines = sondrel.stderr_lines()
    check(bool(lines) and lines[-1].startswith("[sondrel] stream stopped: "),
          "last line: %r" % (lines[-1] if lines else None))
    header, samples, payload = sondrel.header_and_samples()
    rate, t0us = pf.parse_header(header)
    check(payload % 4 == 0, "output ends inside a sample")
    check(set(samples) <= {0.0, 0.25}, "samples other than silence and the level")
    check(samples.count(0.25) > 1.5 * rate, "the level was not heard before the kill")
    expected = (killed_at - t0us / 1e6) * rate
    print("samples %d, expected about %d before the kill" % (len(samples), expected))
    check(len(samples) >= expected - 0.1 * rate, "samples lost before the kill")


def wait_for_line(sondrel, needle, timeout):
    """Seconds until a standard-error line containing `needle` appeared, or None."""
    start = time.monotonic()
    while time.monotonic() - start < timeout:
        if any(needle in line for line in sondrel.stderr_lines()):
            return time.monotonic() - start
        time.sleep(0.05)
    return None


def scenario_frozen(binary):
    """A frozen server fails a restart within its time limits; the program keeps going."""
    import signal
    with pf.make_server(SERVER) as server:
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            wait_for_header(sondrel)
            os.kill(server.proc.pid, signal.SIGSTOP)
            try:
                sondrel.send(b"RESTART\n")
                took = wait_for_line(sondrel, "restart FAILED", 15)
                check(took is not None and took < 10, "first attempt not given up in time: %r" % took)
                time.sleep(7)  # the second attempt runs into its limit as well
                check(sondrel.proc.poll() is None, "sondrel ended while the server was frozen")
            finally:
                os.kill(server.proc.pid, signal.SIGCONT)
            # Once it answers again: catching up, it may first drop the connections it held.
            server.wait_answering()
            sondrel.send(b"RESTART\n")
            check(wait_for_line(sondrel, "restart ok in", 10) is not None,
                  "no restart once the server runs again")
            check(wait_for_line(sondrel, "restart gap-pad", 10) is not None,
                  "no audio after the server came back")
            sondrel.close_input()
            check(sondrel.wait(10) == 0, "exit status not 0")
        finally:
            sondrel.kill()
    print("\n".join(l for l in sondrel.stderr_lines() if "restart" in l))


def scenario_noserver(binary):
    """Nothing to monitor: no server, or a server whose default sink is gone while a
    microphone is the default source, exits 3 without recording the microphone."""
    with pf.make_server(SERVER) as server:
        server.add_decoy_mic(MIC_LEVEL)
        server.remove_sinks()
        env_no_server = server.client_env(PULSE_SERVER="unix:" + server.socket + ".absent")
        for name, env in (("no server", env_no_server),
                          ("default sink gone", server.client_env())):
            sondrel = pf.Sondrel(binary, env)
            sondrel.close_input()
            try:
                code = sondrel.wait(15)
            finally:
                sondrel.kill()
            lines = sondrel.stderr_lines()
            print(name + ": " + (lines[-1] if lines else "(nothing)"))
            check(code == 3, name + ": exit status %r, expected 3" % code)
            check(bool(lines) and lines[-1].startswith("[sondrel] error: nothing to monitor"),
                  name + ": last line %r" % (lines[-1] if lines else None))
            check(not sondrel.out, name + ": wrote to standard output")


def mono(left, right):
    """sondrel's down-mix of one constant stereo frame, in float32."""
    return pf_float((pf_float(left) + pf_float(right)) * 0.5)


def scenario_follow(binary):
    """A microphone as the default source never reaches standard output, and a default
    sink changed between two RESTARTs moves the capture to the new sink's monitor."""
    before, after = mono(0.3, 0.1), mono(0.5, 0.3)
    with pf.make_server(SERVER) as server:
        server.add_decoy_mic(MIC_LEVEL)
        server.add_sink("headset", default=False)
        players = [pf.Player(server, latency_msec=50), pf.Player(server, 50, device="headset")]
        players[0].play_in_background(pf.pack_frames(pf.RATE * 10, 0.3, 0.1))
        players[1].play_in_background(pf.pack_frames(pf.RATE * 10, 0.5, 0.3))
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            wait_for_header(sondrel)
            time.sleep(1.0)
            sondrel.send(b"RESTART\n")
            check(wait_for_count(sondrel, "restart ok in", 1, 10), "first restart")
            time.sleep(1.0)
            # Both servers move a playing stream to a new default sink; this one stops
            # first so that each sink's level stays its own.
            players[0].proc.kill()
            server.set_default_sink("headset")
            # A client that watches the server sends RESTART once it has seen the change;
            # sondrel's own connection hears of it on its own, a moment apart under load.
            time.sleep(0.5)
            sondrel.send(b"RESTART\n")
            check(wait_for_count(sondrel, "restart ok in", 2, 10), "second restart")
            time.sleep(1.5)
            sondrel.close_input()
            check(sondrel.wait(10) == 0, "exit status not 0")
        finally:
            sondrel.kill()
            for player in players:
                player.proc.kill()
    lines = sondrel.stderr_lines()
    monitored = [l for l in lines if l.startswith("[sondrel] monitoring ")]
    print("\n".join(l for l in lines if "restart" in l or "monitoring" in l))
    check(monitored == ["[sondrel] monitoring sink %s (source %s.monitor)" % (s, s)
                        for s in (pf.SINK, pf.SINK, "headset")], "monitored sinks in order")
    _, samples, _ = sondrel.header_and_samples()
    heard = set(samples)
    check(mono(MIC_LEVEL, MIC_LEVEL) not in heard, "the microphone reached standard output")
    # The first player is killed mid-stream: the server may end it with half a frame.
    expected = {0.0, before, after, mono(0.3, 0.0), mono(0.0, 0.1)}
    check(heard <= expected, "samples other than silence and the two sinks' levels: "
          "%r" % sorted(heard - expected)[:5])
    first_after = next((i for i, x in enumerate(samples) if x == after), None)
    last_before = max((i for i, x in enumerate(samples) if x == before), default=None)
    check(samples.count(before) > 1.5 * pf.RATE, "the first sink was not heard for 1.5 s")
    check(samples.count(after) > 1.0 * pf.RATE, "the new default sink was not heard for 1 s")
    check(first_after is not None and last_before is not None and last_before < first_after,
          "the new sink's level came before the old one's ended")


def scenario_unplug(binary):
    """The monitored sink goes away (a headset unplugged) while a microphone is the default
    source: the capture ends with 2 instead of following the server to the microphone."""
    with pf.make_server(SERVER) as server:
        server.add_decoy_mic(MIC_LEVEL)
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            wait_for_header(sondrel)
            time.sleep(0.5)
            server.remove_sinks()
            try:
                code = sondrel.wait(5)
            except Exception:
                code = None
            check(code == 2, "exit status %r, expected 2" % code)
        finally:
            sondrel.kill()
    lines = sondrel.stderr_lines()
    print(lines[-1] if lines else "(nothing)")
    check(bool(lines) and lines[-1].startswith("[sondrel] stream stopped: "),
          "last line: %r" % (lines[-1] if lines else None))
    _, samples, _ = sondrel.header_and_samples()
    check(set(samples) <= {0.0}, "samples other than the silent sink's: %r" %
          sorted(set(samples) - {0.0})[:5])


def wait_for_count(sondrel, needle, count, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if sum(needle in l for l in sondrel.stderr_lines()) >= count:
            return True
        time.sleep(0.05)
    return False


def scenario_closed_output(binary):
    """A reader that closes standard output ends sondrel promptly, with or without audio."""
    with pf.make_server(SERVER) as server:
        for name, delay in (("while streaming", 1.0), ("at once", 0.0)):
            sondrel = pf.Sondrel(binary, server.client_env())
            if delay:
                wait_for_header(sondrel)
                time.sleep(delay)
            sondrel.proc.stdout.close()  # the pump thread sees an error and ends
            start = time.monotonic()
            try:
                code = sondrel.wait(5)
            except Exception:
                code = None
            finally:
                sondrel.kill()
            took = time.monotonic() - start
            print("%s: exit %r after %.2f s" % (name, code, took))
            check(code == 3, name + ": exit status %r, expected 3" % code)
            check(took < 2.0, name + ": took %.2f s to exit" % took)


def scenario_dryrun(binary):
    """Dry-run counts restarts, writes nothing to standard output, needs no server."""
    import subprocess
    env = dict(os.environ, PELDRANOX_SIDECAR_DRYRUN="1", PULSE_SERVER="unix:/nonexistent")
    # Lower case, CR LF, invalid bytes before a command, a character split across writes.
    parts = [b"restart\r\n", b"\xff\xfeRESTART\n  Restart\t\nnope caf\xc3", b"\xa9\nRESTART"]
    proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    for part in parts:
        proc.stdin.write(part)
        proc.stdin.flush()
        time.sleep(0.05)
    out, err = proc.communicate(timeout=10)
    lines = err.decode().splitlines()
    expected = ["[sondrel] dryrun restart #1", "[sondrel] dryrun restart #2",
                "[sondrel] dryrun restart #3", "[sondrel] unknown command NOPE CAF\u00c9",
                "[sondrel] dryrun done (restarts=3)"]
    check(lines == expected, "dry-run log %r" % lines)
    check(proc.returncode == 0, "dry-run exit %r" % proc.returncode)
    check(out == b"", "dry-run wrote to standard output")
    # Dry-run writes nothing to standard output, so a reader that closed it changes nothing.
    proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, env=env)
    proc.stdout.close()
    time.sleep(0.1)
    _, err = proc.communicate(b"RESTART\n", timeout=10)
    check(proc.returncode == 0, "dry-run with closed output: exit %r" % proc.returncode)
    check(err.decode().splitlines()[-1:] == ["[sondrel] dryrun done (restarts=1)"],
          "dry-run with closed output: log %r" % err.decode())
    # Any other value selects normal mode: without a server that ends with 3.
    for value in ("true", "01", " 1"):
        env["PELDRANOX_SIDECAR_DRYRUN"] = value
        run = subprocess.run([binary], input=b"", capture_output=True, env=env, timeout=15)
        check(run.returncode == 3, "value %r: exit %r, expected normal mode's 3" %
              (value, run.returncode))


SCENARIOS = {name[len("scenario_"):]: fn for name, fn in globals().items()
             if name.startswith("scenario_")}


def main():
    global SERVER
    if len(sys.argv) not in (3, 4) or sys.argv[2] not in SCENARIOS or \
            (len(sys.argv) == 4 and sys.argv[3] not in pf.SERVERS):
        sys.exit("usage: %s <sondrel> <%s> [%s]" % (sys.argv[0], "|".join(SCENARIOS),
                                                    "|".join(pf.SERVERS)))
    binary, name = sys.argv[1], sys.argv[2]
    SERVER = sys.argv[3] if len(sys.argv) == 4 else "pulseaudio"
    if name != "dryrun":
        pf.require_tools(*pf.CLIENT_TOOLS, server=SERVER)
    SCENARIOS[name](binary)
    if FAILURES:
        sys.exit("%d check(s) failed in %s on %s" % (len(FAILURES), name, SERVER))
    print("ok: %s on %s" % (name, SERVER))


if __name__ == "__main__":
    main()
