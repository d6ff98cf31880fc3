"""Drives the built tessival through pipes: the command protocol, bad input, closed output.

Usage: tessival_process_test.py PATH_TO_TESSIVAL

No X server is reached: DISPLAY points at a display nobody serves, so every capture
command must still get exactly one (failure) answer. The OCR model is checked through
--analyze of a generated meeting picture.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
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


LEAN_FALLBACK = "[tessival] lean OCR model missing or unreadable"
SCENES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts", "make_scenes.py")
# The packaged model the lean one is derived from (Debian's tesseract-ocr-script-latn).
PACKAGED_MODEL = "/usr/share/tesseract-ocr/5/tessdata/Latin.traineddata"


class OcrModel(unittest.TestCase):
    """The lean model beside the program is the one read; without it, the packaged one, said once."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="tessival-model-")
        subprocess.run([sys.executable, SCENES, cls.tmp, "--only", "demo_gallery"], check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(cls.tmp, "manifest.json")) as f:
            scene = json.load(f)[0]
        cls.picture, cls.names = os.path.join(cls.tmp, scene["file"]), set(scene["names"])
        cls.lean = os.path.join(os.path.dirname(os.path.dirname(TESSIVAL)), "share", "meeting-sidecars",
                                "tessdata", "Latin.traineddata")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def read(self, exe, tessdata=None):
        """Names read by `exe --analyze`, its diagnostics and its peak memory in MiB; with
        `tessdata`, the model of that folder (TESSDATA_PREFIX) instead of the lean one."""
        env = {k: v for k, v in os.environ.items() if k != "TESSDATA_PREFIX"}
        if tessdata:
            env["TESSDATA_PREFIX"] = tessdata
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            p = subprocess.Popen([exe, "--analyze", self.picture], stdout=out, stderr=err, env=env)
            _, _, usage = os.wait4(p.pid, 0)
            p.returncode = 0  # reaped here, for its memory figure
            out.seek(0)
            err.seek(0)
            names = {n["text"] for n in json.loads(out.read()).get("names", [])}
            return names, err.read().decode(), usage.ru_maxrss // 1024

    def test_lean_model_built_and_read(self):
        self.assertTrue(os.path.isfile(self.lean), f"the build derives {self.lean}")
        size = os.path.getsize(self.lean)
        self.assertLess(size, 40 << 20, f"lean model of {size} bytes")
        names, err, peak_mib = self.read(TESSIVAL)
        self.assertNotIn(LEAN_FALLBACK, err)
        self.assertGreaterEqual(len(names & self.names), len(self.names) - 1, f"names read: {names}")
        # Told apart from the packaged model by memory, measured beside it: the word lists it
        # leaves out are over a hundred MiB. The saving is checked, not a ratio: a sanitizer
        # build holds freed memory back, which grows both peaks with the reading's work.
        _, _, packaged_mib = self.read(TESSIVAL, os.path.dirname(PACKAGED_MODEL))
        self.assertGreater(packaged_mib - peak_mib, 80,
                           f"peak memory of the lean model ({peak_mib} MiB), well under the packaged one's ({packaged_mib} MiB)")

    def test_missing_or_cut_model_falls_back_with_one_line(self):
        with open(self.lean, "rb") as f:
            head = f.read(4096)
        for case, model in (("missing", None), ("cut", head), ("foreign", b"not a model" * 100)):
            with self.subTest(case), tempfile.TemporaryDirectory() as prefix:
                os.mkdir(os.path.join(prefix, "bin"))
                exe = shutil.copy(TESSIVAL, os.path.join(prefix, "bin"))
                if model is not None:
                    folder = os.path.join(prefix, "share", "meeting-sidecars", "tessdata")
                    os.makedirs(folder)
                    with open(os.path.join(folder, "Latin.traineddata"), "wb") as f:
                        f.write(model)
                names, err, peak_mib = self.read(exe)
                self.assertEqual(err.count(LEAN_FALLBACK), 1, err)
                self.assertGreaterEqual(len(names & self.names), len(self.names) - 1, f"names read: {names}")
                self.assertGreater(peak_mib, 200, "the packaged model is the one read")


if __name__ == "__main__":
    TESSIVAL = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False, verbosity=2).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
