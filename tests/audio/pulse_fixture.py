"""A private PulseAudio daemon with a float32 null sink, a player and a sondrel runner.

The daemon runs as the current user with its own HOME and runtime directories in a
temporary directory, so it never touches a user's own sound server. Clients reach it
through PULSE_SERVER.
"""
import array
import math
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import missing_tools  # noqa: E402

RATE = 48000
SINK = "sondrel_test_sink"
SKIP = 77  # CTest's SKIP_RETURN_CODE


def require_tools(*tools):
    """Skips (exit 77) when a tool is missing, but fails when CI is set."""
    status = missing_tools(tools, "the audio integration tests",
                           " (install pulseaudio and pulseaudio-utils)")
    if status is not None:
        sys.exit(status)


def _die_with_parent():
    """In the child before exec: a daemon kept alive with --exit-idle-time=-1 must not
    outlive a test that CTest killed on its time limit (no cleanup code runs then)."""
    import ctypes
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


class PulseServer:
    def __init__(self, with_sink=True):
        self.dir = tempfile.mkdtemp(prefix="sondrel-pulse-")
        self.socket = os.path.join(self.dir, "native")
        self.with_sink = with_sink
        self.proc = None
        self.log_path = os.path.join(self.dir, "daemon.log")

    def base_env(self):
        env = dict(os.environ)
        env.pop("PULSE_SERVER", None)
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=os.path.join(self.dir, "run"),
                   PULSE_RUNTIME_PATH=os.path.join(self.dir, "run", "pulse"),
                   PULSE_STATE_PATH=os.path.join(self.dir, "state"))
        return env

    def client_env(self, **extra):
        env = self.base_env()
        env["PULSE_SERVER"] = "unix:" + self.socket
        env.update(extra)
        return env

    def start(self):
        os.makedirs(os.path.join(self.dir, "run"), mode=0o700, exist_ok=True)
        args = ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-n",
                "--use-pid-file=false", "--disallow-exit", "--log-target=stderr"]
        if self.with_sink:
            args.append("--load=module-null-sink sink_name=%s format=float32le rate=%d "
                        "channels=2" % (SINK, RATE))
        args.append("--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket)
        with open(self.log_path, "wb") as log:
            self.proc = subprocess.Popen(args, env=self.base_env(), stdout=log,
                                         stderr=subprocess.STDOUT,
                                         preexec_fn=_die_with_parent)
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("pulseaudio exited at start:\n" + self.log())
            ok = subprocess.run(["pactl", "info"], env=self.client_env(),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if ok.returncode == 0:
                return self
            time.sleep(0.1)
        raise RuntimeError("pulseaudio did not come up:\n" + self.log())

    def log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read().decode(errors="replace")[-4000:]
        except OSError:
            return ""

    def kill(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.kill()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def stereo_bytes(left, right):
    """Interleaved float32le frames from two equal-length sequences."""
    data = array.array("f")
    for l, r in zip(left, right):
        data.append(l)
        data.append(r)
    if sys.byteorder != "little":
        data.byteswap()
    return data.tobytes()


def tone(frames, amplitude, freq, phase=0.0):
    return [amplitude * math.cos(2 * math.pi * freq * n / RATE + phase) for n in range(frames)]


class Player:
    """pacat into the null sink. play() writes at once (pacat paces); paced() writes in real
    time and records the wall-clock instant at which marked chunks were handed over."""

    def __init__(self, server, latency_msec=10):
        self.proc = subprocess.Popen(
            ["pacat", "--playback", "--device=" + SINK, "--format=float32le",
             "--rate=%d" % RATE, "--channels=2", "--latency-msec=%d" % latency_msec],
            stdin=subprocess.PIPE, env=server.client_env())

    def play(self, data):
        self.proc.stdin.write(data)
        self.proc.stdin.flush()

    def play_in_background(self, data):
        """Feeds `data` from a thread (pacat takes it in real time) and returns at once."""
        def feed():
            try:
                self.play(data)
            except (OSError, ValueError):  # the player was stopped early
                pass
        thread = threading.Thread(target=feed, daemon=True)
        thread.start()
        return thread

    def paced(self, chunks, lead=0.02):
        """chunks: list of (bytes, marked). Returns the wall times of the marked chunks."""
        marks = []
        start = time.monotonic()
        offset = 0.0
        for data, marked in chunks:
            while time.monotonic() < start + offset - lead:
                time.sleep(0.002)
            if marked:
                marks.append(time.time())
            self.proc.stdin.write(data)
            self.proc.stdin.flush()
            offset += len(data) / 8 / RATE
        return marks

    def close(self):
        try:
            self.proc.stdin.close()
        except OSError:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


class Sondrel:
    """Runs sondrel with pipes; collects standard output and error in background threads."""

    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.out = bytearray()
        self.err = bytearray()
        self.header_seen = threading.Event()
        self.arrivals = []  # (wall time, bytes of standard output received by then)
        self._threads = [threading.Thread(target=self._pump, args=(self.proc.stdout, self.out)),
                         threading.Thread(target=self._pump, args=(self.proc.stderr, self.err))]
        for t in self._threads:
            t.daemon = True
            t.start()

    def _pump(self, stream, sink):
        while True:
            try:
                data = stream.read1(65536)
            except (OSError, ValueError):  # the test closed the pipe on purpose
                return
            if not data:
                return
            sink.extend(data)
            if sink is self.out:
                self.arrivals.append((time.time(), len(sink)))
            if sink is self.out and b"\n" in sink:
                self.header_seen.set()

    def send(self, text):
        self.proc.stdin.write(text)
        self.proc.stdin.flush()

    def close_input(self):
        self.proc.stdin.close()

    def wait(self, timeout):
        code = self.proc.wait(timeout=timeout)
        for t in self._threads:
            t.join(timeout=5)
        return code

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()

    def stderr_lines(self):
        return bytes(self.err).decode(errors="replace").splitlines()

    def header_and_samples(self):
        head, _, payload = bytes(self.out).partition(b"\n")
        samples = array.array("f")
        samples.frombytes(payload[: len(payload) // 4 * 4])
        if sys.byteorder != "little":
            samples.byteswap()
        return head.decode(), samples, len(payload)


class Recorder:
    """A reference recorder (parec) whose standard output is collected in a thread."""

    def __init__(self, args, env):
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     env=env)
        self.out = bytearray()
        self.first_bytes = threading.Event()
        self._thread = threading.Thread(target=self._pump, daemon=True)
        self._thread.start()

    def _pump(self):
        while True:
            data = self.proc.stdout.read1(65536)
            if not data:
                return
            self.out.extend(data)
            self.first_bytes.set()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGINT)
            try:
                self.proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self._thread.join(timeout=5)

    def floats(self):
        samples = array.array("f")
        data = bytes(self.out)
        samples.frombytes(data[: len(data) // 4 * 4])
        if sys.byteorder != "little":
            samples.byteswap()
        return samples


def arrival_time(sondrel, sample_index):
    """Wall time at which the sample with this index reached the reader, or None."""
    end = len(bytes(sondrel.out).partition(b"\n")[0]) + 1 + (sample_index + 1) * 4
    return next((t for t, size in sondrel.arrivals if size >= end), None)


def parse_header(header):
    fields = dict(part.split("=", 1) for part in header.split()[1:])
    return int(fields["sr"]), int(fields["t0us"])


def pack_frames(frames, left, right):
    return struct.pack("<ff", left, right) * frames
