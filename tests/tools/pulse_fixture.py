"""A private sound server with a float32 null sink, a player and a sondrel runner.

Two kinds of server speak the PulseAudio protocol to sondrel: a PulseAudio daemon, and
PipeWire with WirePlumber and pipewire-pulse (the usual desktop today). Each runs as the
current user with its own HOME and runtime directories in a temporary directory, so it
never touches a user's own sound server; PipeWire's session manager gets a private session
bus. Clients reach the server through PULSE_SERVER.
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
from xsession import die_with_parent  # noqa: E402

RATE = 48000
SINK = "sondrel_test_sink"
MIC = "decoy_mic"
SKIP = 77  # CTest's SKIP_RETURN_CODE
CLIENT_TOOLS = ("pacat", "parec", "pactl")
SERVER_TOOLS = {"pulseaudio": ("pulseaudio",),
                "pipewire": ("pipewire", "wireplumber", "pipewire-pulse", "dbus-daemon")}


def require_tools(*tools, server="pulseaudio"):
    """Skips (exit 77) when a tool is missing, but fails when CI is set."""
    status = missing_tools(tuple(tools) + SERVER_TOOLS[server], "the audio integration tests",
                           " (install pulseaudio, pulseaudio-utils, pipewire, pipewire-pulse, "
                           "wireplumber and dbus)")
    if status is not None:
        sys.exit(status)


def _end(proc):
    """Ends one process we started, by its id: asked first, killed if it lingers."""
    if proc is None or proc.poll() is not None:
        return
    proc.terminate()
    try:
        proc.wait(timeout=5)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()


class AudioServer:
    """The common part: directories, client environment, the null sink, a decoy microphone.
    `proc` is the process that serves the PulseAudio protocol (the one to kill or freeze)."""

    kind = None

    def __init__(self, with_sink=True):
        self.dir = tempfile.mkdtemp(prefix="sondrel-%s-" % self.kind)
        self.run_dir = os.path.join(self.dir, "run")
        self.socket = os.path.join(self.run_dir, "pulse", "native")
        self.with_sink = with_sink
        self.proc = None
        self._feeders = []

    def base_env(self):
        env = dict(os.environ)
        for name in ("PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "PIPEWIRE_REMOTE"):
            env.pop(name, None)
        env.update(HOME=self.dir, XDG_RUNTIME_DIR=self.run_dir,
                   XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                   XDG_STATE_HOME=os.path.join(self.dir, "state"),
                   PULSE_RUNTIME_PATH=os.path.join(self.run_dir, "pulse"),
                   PULSE_STATE_PATH=os.path.join(self.dir, "state"))
        return env

    def client_env(self, **extra):
        env = self.base_env()
        env["PULSE_SERVER"] = "unix:" + self.socket
        env.update(extra)
        return env

    def pactl(self, *args):
        run = subprocess.run(["pactl"] + list(args), env=self.client_env(),
                             capture_output=True, text=True, timeout=10)
        if run.returncode != 0:
            raise RuntimeError("pactl %s: %s" % (" ".join(args), run.stderr.strip()))
        return run.stdout

    def default_sink(self):
        for line in self.pactl("info").splitlines():
            if line.startswith("Default Sink:"):
                return line.split(":", 1)[1].strip()
        return ""

    def wait_answering(self):
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("%s exited at start:\n%s" % (self.kind, self.log()))
            ok = subprocess.run(["pactl", "info"], env=self.client_env(),
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if ok.returncode == 0:
                return
            time.sleep(0.1)
        raise RuntimeError("%s did not come up:\n%s" % (self.kind, self.log()))

    def add_sink(self, name=SINK, default=True):
        """A float32 stereo null sink, made the default sink unless `default` is false."""
        self.pactl("load-module", "module-null-sink", "sink_name=" + name,
                   "format=float32le", "rate=%d" % RATE, "channels=2")
        if default:
            self.set_default_sink(name)

    def set_default_sink(self, name):
        deadline = time.monotonic() + 5
        # PipeWire refuses it until its session manager is up, and applies it a moment later.
        while True:
            try:
                self.pactl("set-default-sink", name)
                break
            except RuntimeError:
                if time.monotonic() > deadline:
                    raise
                time.sleep(0.05)
        while self.default_sink() != name:
            if time.monotonic() > deadline:
                raise RuntimeError("the default sink did not become " + name)
            time.sleep(0.05)

    def remove_sinks(self):
        """Unloads every sink, PipeWire's stand-in dummy output included; the default sink
        is then gone."""
        for line in self.pactl("list", "short", "modules").splitlines():
            fields = line.split("\t")
            if len(fields) >= 2 and fields[1] in ("module-null-sink", "module-always-sink"):
                self.pactl("unload-module", fields[0])

    def add_decoy_mic(self, level):
        """A microphone (a plain source, not a monitor) made the default source, carrying a
        steady `level` on both channels for as long as the server runs."""
        fifo = os.path.join(self.dir, "mic.fifo")
        self.pactl("load-module", "module-pipe-source", "source_name=" + MIC, "file=" + fifo,
                   "format=float32le", "rate=%d" % RATE, "channels=2")
        self.pactl("set-default-source", MIC)
        stop = threading.Event()
        chunk = pack_frames(RATE // 50, level, level)  # 20 ms

        def feed():
            fd = None
            try:
                fd = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
                next_at = time.monotonic()
                while not stop.is_set():
                    try:
                        os.write(fd, chunk)
                    except BlockingIOError:
                        pass
                    next_at += 0.02
                    stop.wait(max(0.0, next_at - time.monotonic()))
            except OSError:  # the server went away
                pass
            finally:
                if fd is not None:
                    os.close(fd)

        thread = threading.Thread(target=feed, daemon=True)
        thread.start()
        self._feeders.append((stop, thread))

    def _stop_feeders(self):
        for stop, thread in self._feeders:
            stop.set()
            thread.join(timeout=2)
        self._feeders = []

    def _spawn(self, args, log_name, env=None):
        log = open(os.path.join(self.dir, log_name), "ab")
        try:
            return subprocess.Popen(args, env=env or self.base_env(), stdout=log,
                                    stderr=subprocess.STDOUT, preexec_fn=die_with_parent)
        finally:
            log.close()

    def log(self):
        text = []
        for name in sorted(os.listdir(self.dir)):
            if name.endswith(".log"):
                with open(os.path.join(self.dir, name), "rb") as f:
                    text.append("== %s\n%s" % (name, f.read().decode(errors="replace")[-2000:]))
        return "\n".join(text)

    def kill(self):
        """Kills the server process clients talk to, at once."""
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGKILL)
            self.proc.wait()

    def stop(self):
        self._stop_feeders()
        self._stop_processes()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        # A server that fails to come up is still torn down, its helpers with it.
        try:
            return self.start()
        except BaseException:
            self.stop()
            raise

    def __exit__(self, *exc):
        self.stop()


class PulseServer(AudioServer):
    kind = "pulseaudio"

    def start(self):
        os.makedirs(os.path.dirname(self.socket), mode=0o700, exist_ok=True)
        args = ["pulseaudio", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "-n",
                "--use-pid-file=false", "--disallow-exit", "--log-target=stderr",
                "--load=module-native-protocol-unix socket=%s auth-anonymous=1" % self.socket]
        self.proc = self._spawn(args, "daemon.log")
        self.wait_answering()
        if self.with_sink:
            self.add_sink()
        return self

    def _stop_processes(self):
        _end(self.proc)


class PipeWireServer(AudioServer):
    """PipeWire, WirePlumber and pipewire-pulse on a private session bus."""
    kind = "pipewire"

    def __init__(self, with_sink=True):
        super().__init__(with_sink)
        self.others = []  # the bus, PipeWire and WirePlumber, in start order

    def base_env(self):
        env = super().base_env()
        env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + os.path.join(self.run_dir, "bus")
        return env

    def start(self):
        os.makedirs(self.run_dir, mode=0o700, exist_ok=True)
        bus = os.path.join(self.run_dir, "bus")
        self.others.append(self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                                        "--address=unix:path=" + bus], "dbus.log"))
        self._wait_for_path(bus)
        self.others.append(self._spawn(["pipewire"], "pipewire.log"))
        self._wait_for_path(os.path.join(self.run_dir, "pipewire-0"))
        self.others.append(self._spawn(["wireplumber"], "wireplumber.log"))
        self.proc = self._spawn(["pipewire-pulse"], "pipewire-pulse.log")
        self.wait_answering()
        if self.with_sink:
            self.add_sink()
        return self

    def _wait_for_path(self, path):
        deadline = time.monotonic() + 10
        while not os.path.exists(path):
            if time.monotonic() > deadline or any(p.poll() is not None for p in self.others):
                raise RuntimeError("pipewire set-up failed at %s:\n%s" % (path, self.log()))
            time.sleep(0.02)

    def _stop_processes(self):
        _end(self.proc)
        while self.others:
            _end(self.others.pop())


SERVERS = {"pulseaudio": PulseServer, "pipewire": PipeWireServer}


def make_server(kind, **kw):
    return SERVERS[kind](**kw)


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

    def __init__(self, server, latency_msec=10, device=SINK):
        self.proc = subprocess.Popen(
            ["pacat", "--playback", "--device=" + device, "--format=float32le",
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
