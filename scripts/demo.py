#!/usr/bin/python3
"""Runs tessival and sondrel on a built-in meeting and prints what they found.

Starts a private X server (Xvfb) with a window manager (openbox) that shows a generated
meeting window and a slide-show window, and a private PulseAudio server that plays a
short known tone. Runs both programs against them, saves what they return into the output
directory and prints a summary. Everything it started is stopped again on exit, on an
error and on Ctrl-C. Your own desktop and sound server are left alone unless you pass
--display or --pulse-server.

Usually started through scripts/demo.sh, which installs and builds first.
"""
import argparse
import array
import base64
import json
import math
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# The private X session, sound server and process handling are the test tools'.
sys.path.insert(0, os.path.join(ROOT, "tests", "tools"))
import harness  # noqa: E402
import pulse_fixture  # noqa: E402
from harness import LineProgram, spawn  # noqa: E402
from xsession import XSession, show_window, stop_process as stop  # noqa: E402

PY = "/usr/bin/python3"
SCENES = os.path.join(ROOT, "scripts", "make_scenes.py")
RATE = pulse_fixture.RATE
TONE_HZ = 440.0
TONE_AMPLITUDE = 0.25  # -12 dBFS peak, about -15 dBFS RMS

services = []  # how to stop the X session and the sound server, in start order
temp_dirs = []


class DemoError(Exception):
    pass


def cleanup():
    harness.cleanup()
    while services:
        try:
            services.pop()()
        except OSError:
            pass
    while temp_dirs:
        shutil.rmtree(temp_dirs.pop(), ignore_errors=True)


def on_signal(signum, _frame):
    raise KeyboardInterrupt if signum == signal.SIGINT else SystemExit(128 + signum)


def require(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        raise DemoError("missing programs: " + ", ".join(missing) +
                        " (scripts/setup.sh installs them)")


# ---- audio -------------------------------------------------------------------------------

def tone_bytes(seconds):
    """Stereo float32le: a tone with 20 ms fades, the same on both channels."""
    frames = int(seconds * RATE)
    fade = int(0.02 * RATE)
    data = array.array("f")
    for n in range(frames):
        gain = min(1.0, n / fade, (frames - 1 - n) / fade)
        v = TONE_AMPLITUDE * gain * math.sin(2 * math.pi * TONE_HZ * n / RATE)
        data.append(v)
        data.append(v)
    if sys.byteorder != "little":
        data.byteswap()
    return data.tobytes()


def play(env, seconds, device):
    args = ["pacat", "--playback", "--format=float32le", f"--rate={RATE}", "--channels=2",
            "--latency-msec=20"]
    if device:
        args.append("--device=" + device)
    p = spawn(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.DEVNULL,
              stderr=subprocess.DEVNULL)
    data = tone_bytes(seconds)

    def feed():
        try:
            p.stdin.write(data)
            p.stdin.close()
        except (OSError, ValueError):
            pass
    threading.Thread(target=feed, daemon=True).start()
    return p


def capture_audio(sondrel, env, seconds, out_wav):
    """Runs sondrel for `seconds` of samples; writes them as a 16-bit WAV file."""
    p = spawn([sondrel], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
              stderr=subprocess.PIPE)
    err = bytearray()
    threading.Thread(target=lambda: err.extend(p.stderr.read()), daemon=True).start()
    buf = bytearray()
    header = None
    deadline = time.monotonic() + seconds + 15
    want = None
    while time.monotonic() < deadline:
        ready, _, _ = select.select([p.stdout], [], [], 0.5)
        if not ready:
            if p.poll() is not None:
                break
            continue
        chunk = os.read(p.stdout.fileno(), 65536)
        if not chunk:
            break
        buf += chunk
        if header is None and b"\n" in buf:
            line, _, rest = bytes(buf).partition(b"\n")
            header = line.decode("ascii", "replace")
            buf = bytearray(rest)
            m = re.match(r"AUDIO sr=(\d+) ch=1 fmt=f32 t0us=(-?\d+)$", header)
            if not m:
                raise DemoError("sondrel wrote an unexpected header: " + header)
            want = int(seconds * int(m.group(1))) * 4
        if want is not None and len(buf) >= want:
            break
    p.stdin.close()
    try:
        p.wait(10)
    except subprocess.TimeoutExpired:
        stop(p)
    log = err.decode("utf-8", "replace")
    if header is None or want is None or len(buf) < want:
        raise DemoError("sondrel delivered too little audio (exit status %s):\n%s"
                        % (p.returncode, log.strip()))
    rate = int(re.match(r"AUDIO sr=(\d+)", header).group(1))
    samples = array.array("f", bytes(buf[:want]))
    if sys.byteorder != "little":
        samples.byteswap()
    pcm = array.array("h", (max(-32767, min(32767, int(round(s * 32767)))) for s in samples))
    if sys.byteorder != "little":
        pcm.byteswap()
    with wave.open(out_wav, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(pcm.tobytes())
    return header, rate, samples, log, p.returncode


def level(samples, rate):
    peak = max((abs(s) for s in samples), default=0.0)
    rms = math.sqrt(sum(s * s for s in samples) / len(samples)) if samples else 0.0
    crossings = sum(1 for a, b in zip(samples, samples[1:]) if a < 0 <= b)
    db = lambda v: 20 * math.log10(v) if v > 0 else float("-inf")
    return db(rms), db(peak), crossings * rate / len(samples) if samples else 0.0


# ---- tessival ----------------------------------------------------------------------------

def save_png(b64, path):
    data = base64.b64decode(b64)
    with open(path, "wb") as f:
        f.write(data)
    if data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) >= 24:
        w, h = struct.unpack(">II", data[16:24])
        return f"{w}x{h}"
    return "not a PNG"


def fmt_rect(r):
    return "[" + " ".join(f"{v:.3f}" for v in r) + "]"


def window_text(w):
    return f'app="{w.get("app", "")}" title="{w.get("title", "")}"'


# ---- main --------------------------------------------------------------------------------

def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tessival", required=True, help="path of the tessival program")
    ap.add_argument("--sondrel", required=True, help="path of the sondrel program")
    ap.add_argument("--output", default="demo-output",
                    help="directory for the saved files (default: ./demo-output)")
    ap.add_argument("--seconds", type=float, default=3.0, help="audio to record (default 3)")
    ap.add_argument("--display", help="use this existing X server instead of a private one "
                    "(the demo windows are shown on it)")
    ap.add_argument("--pulse-server", help="use this existing PulseAudio server instead of a "
                    "private one (the tone plays on its default sink)")
    args = ap.parse_args()

    for exe in (args.tessival, args.sondrel):
        if not os.access(exe, os.X_OK):
            raise DemoError(f"{exe} is not an executable program; build first "
                            "(scripts/build.sh)")
    require("Xvfb", "openbox", "xdpyinfo", "xprop", "xwininfo", "xdotool", "pulseaudio",
            "pactl", "pacat")
    out_dir = os.path.abspath(args.output)
    os.makedirs(out_dir, exist_ok=True)
    work = tempfile.mkdtemp(prefix="sidecars-demo-")
    temp_dirs.append(work)

    fixtures = os.path.join(work, "scenes")
    subprocess.run([PY, SCENES, fixtures, "--only", "demo_gallery", "demo_slides"],
                   check=True, stdout=subprocess.DEVNULL)
    with open(os.path.join(fixtures, "manifest.json")) as f:
        scenes = {s["name"]: s for s in json.load(f)}
    gallery, slides = scenes["demo_gallery"], scenes["demo_slides"]

    if args.display:
        env = dict(os.environ, DISPLAY=args.display)
        env.pop("WAYLAND_DISPLAY", None)
        display = args.display + " (yours)"
        show = lambda *a: show_window(spawn, env, *a)  # noqa: E731
    else:
        x = XSession(first_display=60, last_display=99, size="2600x900x24")
        services.append(x.close)
        env, show = x.env, x.show
        display = f":{x.display} (private Xvfb with openbox)"
    for scene, left in ((gallery, 0), (slides, gallery["width"] + 20)):
        show(scene["window"]["title"], scene["window"]["class"],
             f"{scene['width']}x{scene['height']}+{left}+0", os.path.join(fixtures, scene["file"]))

    if args.pulse_server:
        audio_env = dict(os.environ, PULSE_SERVER=args.pulse_server)
        audio_where, device = args.pulse_server + " (yours)", None
    else:
        server = pulse_fixture.PulseServer()
        services.append(server.stop)
        audio_env = server.start().client_env()
        audio_where, device = "private PulseAudio with a null sink", pulse_fixture.SINK

    print("Meeting sidecars demo")
    print(f"  X server      {display}")
    print(f"  windows       \"{gallery['window']['title']}\" and \"{slides['window']['title']}\"")
    print(f"  audio server  {audio_where}")
    print(f"  output        {out_dir}")
    print(flush=True)

    # Vision.
    tess = LineProgram([args.tessival], env, os.path.join(out_dir, "tessival.log"), "tessival")
    a = tess.ask("CAPTURE", 120)
    print("tessival CAPTURE")
    if not a.get("ok"):
        raise DemoError("CAPTURE failed: " + a.get("error", "?"))
    w = a["window"]
    print(f"  window        {window_text(w)}")
    names = a.get("names", [])
    if a.get("unproven"):
        print("  (the window showed no proof of a call; names withheld)")
    print(f"  participants  {len(names)}")
    width = max([len(n["text"]) for n in names] + [4])
    for n in names:
        mark = "  <- speaking" if n.get("highlighted") else ""
        print(f"    {n['text']:<{width}}  tile {fmt_rect(n['tile'])}  highlight "
              f"{n['highlight_score']:.2f}{mark}")
    speaker = next((n["text"] for n in names if n.get("highlighted")), None)
    how = f"highlighted tile, score {a['ring_score']:.2f}" if speaker and "ring_score" in a else ""
    if "ring_rect" in a:
        inside = [n["text"] for n in names
                  if a["ring_rect"][0] <= n["bbox"][0] + n["bbox"][2] / 2 <=
                  a["ring_rect"][0] + a["ring_rect"][2]
                  and a["ring_rect"][1] <= n["bbox"][1] + n["bbox"][3] / 2 <=
                  a["ring_rect"][1] + a["ring_rect"][3]]
        if speaker is None and len(inside) == 1:
            speaker = inside[0]
            how = f"the speaker ring is round this name, score {a['ring_score']:.2f}"
    print(f"  speaking      {speaker or 'nobody found'}" + (f" ({how})" if how else ""))
    if "ring_crop" in a:
        path = os.path.join(out_dir, "speaker.png")
        size = save_png(a["ring_crop"], path)
        print(f"  speaker crop  {path} ({size}, score {a['ring_score']:.2f}, "
              f"rect {fmt_rect(a['ring_rect'])})")
    else:
        print("  speaker crop  none")

    f_answer = tess.ask("CAPTURE_FRAME", 120)
    print("tessival CAPTURE_FRAME")
    if f_answer.get("ok") and "full_frame" in f_answer:
        path = os.path.join(out_dir, "gallery.png")
        print(f"  gallery frame {path} ({save_png(f_answer['full_frame'], path)})")
    else:
        print(f"  no frame: {f_answer.get('error') or 'window unproven'}")

    s = tess.ask("CAPTURE_SLIDE", 120)
    print("tessival CAPTURE_SLIDE")
    if s.get("ok"):
        print(f"  window        {window_text(s['window'])}")
        print("  slide text")
        for line in s["text"].splitlines() or ["(none)"]:
            print("    | " + line)
        with open(os.path.join(out_dir, "slide.txt"), "w") as f:
            f.write(s["text"] + "\n")
    else:
        print("  failed: " + s.get("error", "?"))
    tess.close()
    print(f"  log           {os.path.join(out_dir, 'tessival.log')}", flush=True)

    # Audio.
    player = play(audio_env, args.seconds + 6, device)
    time.sleep(0.3)  # let the tone start before listening
    wav = os.path.join(out_dir, "audio.wav")
    header, rate, samples, log, status = capture_audio(args.sondrel, audio_env, args.seconds,
                                                       wav)
    stop(player)
    with open(os.path.join(out_dir, "sondrel.log"), "w") as f:
        f.write(log)
    rms, peak, freq = level(samples, rate)
    print("sondrel")
    print(f"  playing       {TONE_HZ:.0f} Hz tone at {20 * math.log10(TONE_AMPLITUDE):.0f} dBFS peak")
    print(f"  header        {header}")
    print(f"  recorded      {wav} ({len(samples) / rate:.1f} s, mono, {rate} Hz)")
    print(f"  level         RMS {rms:.1f} dBFS, peak {peak:.1f} dBFS, about {freq:.0f} Hz")
    print(f"  exit status   {status}")

    # How the reading compares with the built-in meeting.
    expected = gallery["names"]
    read = {n["text"] for n in names}
    found = [e for e in expected if e in read]
    want_speaker = expected[gallery["speaker"]] if gallery["speaker"] is not None else None
    print()
    print(f"Check against the built-in meeting: {len(found)} of {len(expected)} names read"
          + (", speaker right" if speaker == want_speaker else
             f", speaker expected {want_speaker}"))
    summary = {"window": w, "names": [n["text"] for n in names], "speaker": speaker,
               "slide_text": s.get("text"), "audio": {"header": header, "rms_dbfs": rms,
                                                        "peak_dbfs": peak, "hz": freq}}
    with open(os.path.join(out_dir, "summary.json"), "w") as f:
        json.dump(summary, f, ensure_ascii=False, indent=2)
    return 0


if __name__ == "__main__":
    for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, on_signal)
    try:
        status = main()
    except KeyboardInterrupt:
        print("\ndemo: interrupted; stopping what it started", file=sys.stderr)
        status = 130
    except (DemoError, RuntimeError) as e:
        print(f"demo: {e}", file=sys.stderr)
        status = 1
    except subprocess.CalledProcessError as e:
        print(f"demo: {' '.join(map(str, e.cmd))} failed with status {e.returncode}",
              file=sys.stderr)
        status = 1
    finally:
        cleanup()
    sys.exit(status)
