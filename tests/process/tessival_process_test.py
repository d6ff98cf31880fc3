"""Drives the built tessival through pipes: the command protocol, bad input, closed output.

Usage: tessival_process_test.py PATH_TO_TESSIVAL

No X server is reached: DISPLAY points at a display nobody serves, so every capture
command must still get exactly one (failure) answer.
"""
import json
import os
import subprocess
import sys
import time
import unittest

TESSIVAL = None


def run(stdin: bytes, args=(), timeout=60, env_extra=None):
    env = dict(os.environ)
    env["DISPLAY"] = ":99997"  # nothing listens there
    env.pop("WAYLAND_DISPLAY", None)
    env.pop("SWAYSOCK", None)
    env.update(env_extra or {})
    p = subprocess.run([TESSIVAL, *args], input=stdin, capture_output=True, timeout=timeout, env=env)
    return p.returncode, p.stdout, p.stderr


def answers(out: bytes):
    lines = out.decode("utf-8").split("\n")
    assert lines[-1] == "", "output must end with LF"
    return [json.loads(l) for l in lines[:-1]]


class Protocol(unittest.TestCase):
    def test_empty_input(self):
        rc, out, err = run(b"")
        self.assertEqual(rc, 0)
        self.assertEqual(out, b"")
        self.assertEqual(err, b"[tessival] window systems: none reachable\n"
                              b"[tessival] ready\n[tessival] stdin closed, exiting\n")

    def test_blank_lines_give_nothing(self):
        rc, out, _ = run(b"\n   \n\t\n\xc2\xa0\n\r\n")
        self.assertEqual((rc, out), (0, b""))

    def test_unknown_and_miscased_commands(self):
        lines = [b"capture", b"Capture", b"CAPTURE_SLIDEX", b"CAPTURE\tZoom", b"HELLO", b"RESTART"]
        rc, out, _ = run(b"\n".join(lines) + b"\n")
        self.assertEqual(rc, 0)
        self.assertEqual(out, b'{"error":"unknown command","ok":false}\n' * len(lines))

    def test_commands_answered_in_order(self):
        rc, out, _ = run(b"CAPTURE\nnope\n  CAPTURE_FRAME   Zoom  \nCAPTURE_SLIDE deck\n")
        self.assertEqual(rc, 0)
        got = answers(out)
        self.assertEqual(len(got), 4)
        self.assertEqual(got[1], {"ok": False, "error": "unknown command"})
        for a in (got[0], got[2], got[3]):
            self.assertEqual(set(a), {"ok", "error"})
            self.assertFalse(a["ok"])
            self.assertTrue(a["error"])

    def test_crlf_line_ends(self):
        rc, out, _ = run(b"CAPTURE\r\nfoo\r\n")
        got = answers(out)
        self.assertEqual(len(got), 2)
        self.assertNotEqual(got[0]["error"], "unknown command")
        self.assertEqual(got[1]["error"], "unknown command")


class BadInput(unittest.TestCase):
    def test_megabyte_line_invalid_utf8_and_nul(self):
        big = b"CAPTURE " + b"q" * (1 << 20)
        rc, out, _ = run(big + b"\n" + b"\xff\xfe CAPTURE\n" + b"CAP\x00TURE\n" + b"CAPTURE \xc3\x28\n")
        self.assertEqual(rc, 0)
        got = answers(out)
        self.assertEqual(len(got), 4)
        self.assertEqual(got[1]["error"], "unknown command")
        self.assertEqual(got[2]["error"], "unknown command")

    def test_thousands_of_lines_at_once(self):
        n = 3000
        data = b"".join(b"x%d\n" % i if i % 2 else b"\n" for i in range(n))
        rc, out, _ = run(data)
        self.assertEqual(rc, 0)
        self.assertEqual(len(answers(out)), n // 2)

    def test_reader_closing_stdout_ends_the_process(self):
        env = dict(os.environ, DISPLAY=":99997")
        p = subprocess.Popen([TESSIVAL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, env=env)
        p.stdout.close()
        try:
            p.stdin.write(b"foo\n" * 20000)
            p.stdin.flush()
        except BrokenPipeError:
            pass
        deadline = time.time() + 20
        while p.poll() is None and time.time() < deadline:
            time.sleep(0.05)
        self.assertIsNotNone(p.poll(), "tessival kept running after its reader went away")
        try:
            p.stdin.close()
        except BrokenPipeError:
            pass


class Arguments(unittest.TestCase):
    def test_detect_ring_as_last_argument_starts_the_loop(self):
        rc, out, err = run(b"", args=["--detect-ring"])
        self.assertEqual(rc, 0)
        self.assertIn(b"[tessival] ready", err)

    def test_selftest_wins_over_detect_ring(self):
        rc, out, err = run(b"CAPTURE\n", args=["--detect-ring", "/nonexistent.png", "--selftest"])
        got = answers(out)
        self.assertEqual(len(got), 1)
        self.assertIn("selftest", got[0])
        self.assertNotIn(b"[tessival] ready", err)

    def test_unknown_arguments_are_ignored(self):
        rc, out, err = run(b"", args=["--frobnicate"])
        self.assertEqual(rc, 0)


if __name__ == "__main__":
    TESSIVAL = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
