#!/usr/bin/python3
"""sondrel when its sound server goes away in the middle of a RESTART and comes back later.

The server is frozen, a RESTART is sent, and the server is killed while the restart waits
on it: the restart fails and sondrel keeps running. A new server on the same socket comes
up, and the next RESTART resumes capture; the byte stream stays whole and the silence
written for the outage keeps the sample count in step with the elapsed time.

Also a storm of RESTARTs while audio flows: every new stream may deliver its first data
before the restart has finished setting it up; nothing may crash and every restart succeeds.

usage: sondrel_faults_test.py <sondrel binary> [lost_server|restart_storm]
"""
import os
import signal
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))),
                                "tools"))
import pulse_fixture as pf  # noqa: E402
from harness import check  # noqa: E402
from harness import failures as FAILURES  # noqa: E402


def wait_for_count(sondrel, needle, count, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if sum(needle in l for l in sondrel.stderr_lines()) >= count:
            return True
        time.sleep(0.05)
    return False


def restart_storm(binary):
    with pf.PulseServer() as server:
        player = pf.Player(server, latency_msec=20)
        player.play_in_background(pf.pack_frames(pf.RATE * 30, 0.3, 0.1))
        sondrel = pf.Sondrel(binary, server.client_env())
        try:
            check(sondrel.header_seen.wait(10), "header written")
            count = 60
            for i in range(count):
                try:
                    sondrel.send(b"RESTART\n")
                except BrokenPipeError:
                    check(False, "sondrel ended during the storm (status %r): %s" %
                          (sondrel.proc.wait(10), "\n".join(sondrel.stderr_lines()[-12:])))
                    sys.exit("%d check(s) failed" % len(FAILURES))
                time.sleep(0.02 + (i % 5) * 0.01)
            check(wait_for_count(sondrel, "restart ok in", count, 30),
                  "every restart of the storm succeeds")
            sondrel.close_input()
            code = sondrel.wait(15)
            check(code == 0, "exit status %r, expected 0" % code)
        finally:
            sondrel.kill()
            player.proc.kill()
    lines = sondrel.stderr_lines()
    odd = [l for l in lines if not l.startswith("[sondrel]")]
    check(not odd, "nothing but sondrel's own lines on standard error: %r" % odd[:5])
    _, _, payload = sondrel.header_and_samples()
    check(payload % 4 == 0, "the output ends on a whole sample")
    if FAILURES:
        sys.exit("%d check(s) failed" % len(FAILURES))
    print("ok: restart storm")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    binary = sys.argv[1]
    pf.require_tools("pulseaudio", "pacat", "pactl")
    if len(sys.argv) == 3 and sys.argv[2] == "restart_storm":
        return restart_storm(binary)
    server = pf.PulseServer().start()
    sondrel = player = None
    try:
        player = pf.Player(server, latency_msec=50)
        player.play_in_background(pf.pack_frames(pf.RATE * 3, 0.3, 0.1))
        sondrel = pf.Sondrel(binary, server.client_env())
        check(sondrel.header_seen.wait(10), "header written")
        time.sleep(1.0)

        os.kill(server.proc.pid, signal.SIGSTOP)
        sondrel.send(b"RESTART\n")
        time.sleep(0.5)  # the restart now waits on the frozen server
        server.kill()
        player.proc.kill()
        check(wait_for_count(sondrel, "restart FAILED", 1, 20),
              "the restart without a server fails")
        time.sleep(1.0)
        check(sondrel.proc.poll() is None, "sondrel keeps running after the failed restart")

        # A new server where the old one was.
        try:
            os.unlink(server.socket)
        except FileNotFoundError:
            pass
        server.start()
        player = pf.Player(server, latency_msec=50)
        player.play_in_background(pf.pack_frames(pf.RATE * 6, 0.3, 0.1))
        time.sleep(0.5)
        restarts_ok = sum("restart ok in" in l for l in sondrel.stderr_lines())
        sondrel.send(b"RESTART\n")
        check(wait_for_count(sondrel, "restart ok in", restarts_ok + 1, 15),
              "the next RESTART resumes capture")
        check(wait_for_count(sondrel, "restart gap-pad", 1, 10), "audio flows after it")
        time.sleep(2.0)
        closed_at = time.time()
        sondrel.close_input()
        code = sondrel.wait(15)
        check(code == 0, "exit status %r, expected 0" % code)
    finally:
        if sondrel:
            sondrel.kill()
        if player:
            player.proc.kill()
        server.stop()

    lines = sondrel.stderr_lines()
    print("\n".join(l for l in lines if "restart" in l or "stopped" in l))
    header, samples, payload = sondrel.header_and_samples()
    rate, t0us = pf.parse_header(header)
    check(payload % 4 == 0, "the output ends on a whole sample")
    level = struct.unpack("<f", struct.pack("<f", 0.2))[0]
    check(set(samples) <= {0.0, level}, "only silence and the played level")
    elapsed = closed_at - t0us / 1e6
    ratio = len(samples) / (elapsed * rate)
    print("samples %d, elapsed %.3f s, ratio %.4f" % (len(samples), elapsed, ratio))
    check(abs(ratio - 1) <= 0.02, "samples/elapsed ratio %.4f within 2%%" % ratio)
    if FAILURES:
        sys.exit("%d check(s) failed" % len(FAILURES))
    print("ok: restart across a lost server")


if __name__ == "__main__":
    main()
