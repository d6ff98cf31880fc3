#!/usr/bin/python3
"""A small parent application for the two sidecars (Python standard library only).

Starts tessival and sondrel, asks tessival for a CAPTURE every few seconds and prints who
is speaking, and writes everything sondrel hears to a WAV file (16-bit mono). Stops after
--seconds, or on Ctrl-C, and then closes both programs' standard input so that they end.

  parent.py [--tessival PATH] [--sondrel PATH] [--wav meeting.wav] [--every 3]
            [--seconds 0]

Both programs are looked up on PATH unless given. --seconds 0 runs until Ctrl-C.
"""
import argparse
import array
import json
import re
import signal
import subprocess
import sys
import threading
import time
import wave


class AudioRecorder:
    """Reads sondrel's stream on a thread of its own and writes it to a WAV file."""

    def __init__(self, exe, wav_path):
        # A session of its own: Ctrl-C reaches only the parent, which then ends the
        # sidecar the normal way, by closing its input. (It also ends if the parent dies.)
        self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        self.wav_path = wav_path
        self.rate = None
        self.t0us = None
        self.frames = 0
        self.peak = 0.0
        self.error = None
        self.thread = threading.Thread(target=self._run, daemon=True)
        self.thread.start()

    def _run(self):
        out = self.proc.stdout
        header = out.readline().decode("ascii", "replace").strip()
        m = re.fullmatch(r"AUDIO sr=(\d+) ch=1 fmt=f32 t0us=(-?\d+)", header)
        if not m:
            self.error = f"no audio header (got {header!r})"
            return
        self.rate, self.t0us = int(m.group(1)), int(m.group(2))
        with wave.open(self.wav_path, "wb") as w:
            w.setnchannels(1)
            w.setsampwidth(2)
            w.setframerate(self.rate)
            pending = b""
            while True:
                chunk = out.read1(65536)
                if not chunk:
                    break
                data = pending + chunk
                usable = len(data) - len(data) % 4
                pending = data[usable:]
                samples = array.array("f", data[:usable])
                if sys.byteorder != "little":
                    samples.byteswap()
                pcm = array.array("h", (int(max(-1.0, min(1.0, s)) * 32767) for s in samples))
                if sys.byteorder != "little":
                    pcm.byteswap()
                w.writeframes(pcm.tobytes())
                self.frames += len(samples)
                self.peak = max([self.peak] + [abs(s) for s in samples])

    def stop(self):
        self.proc.stdin.close()  # end of input: sondrel stops and exits 0
        status = self.proc.wait(10)
        self.thread.join(5)
        return status


class Vision:
    """One tessival process; ask() writes a command and reads its one-line answer."""

    def __init__(self, exe):
        self.proc = subprocess.Popen([exe], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL, text=True, encoding="utf-8",
                                     start_new_session=True)

    def ask(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        line = self.proc.stdout.readline()
        if not line:
            raise RuntimeError("tessival ended")
        return json.loads(line)

    def stop(self):
        self.proc.stdin.close()
        return self.proc.wait(30)


def describe(answer):
    """One line about a CAPTURE answer."""
    if not answer.get("ok"):
        return "no capture: " + answer.get("error", "?")
    if answer.get("unproven"):
        return "a window that may be a meeting, but no call is visible yet"
    names = [n["text"] for n in answer.get("names", [])]
    speaking = [n["text"] for n in answer.get("names", []) if n.get("highlighted")]
    if not speaking and "ring_rect" in answer:
        # No highlighted tile, but a speaker ring: the name inside the ring.
        x, y, w, h = answer["ring_rect"]
        speaking = [n["text"] for n in answer["names"]
                    if x <= n["bbox"][0] + n["bbox"][2] / 2 <= x + w
                    and y <= n["bbox"][1] + n["bbox"][3] / 2 <= y + h]
    who = ", ".join(speaking) if speaking else "nobody found"
    return f"speaking: {who}   ({len(names)} in view: {', '.join(names)})"


def stop_on_signal(_signum, _frame):
    raise KeyboardInterrupt


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tessival", default="tessival")
    ap.add_argument("--sondrel", default="sondrel")
    ap.add_argument("--wav", default="meeting.wav", help="where the audio goes")
    ap.add_argument("--every", type=float, default=3.0, help="seconds between captures")
    ap.add_argument("--seconds", type=float, default=0.0, help="stop after this long")
    args = ap.parse_args()

    signal.signal(signal.SIGTERM, stop_on_signal)
    audio = AudioRecorder(args.sondrel, args.wav)
    vision = Vision(args.tessival)
    start = time.monotonic()
    try:
        while not args.seconds or time.monotonic() - start < args.seconds:
            began = time.monotonic()
            answer = vision.ask("CAPTURE")
            print(f"{time.strftime('%H:%M:%S')}  {describe(answer)}", flush=True)
            time.sleep(max(0.0, args.every - (time.monotonic() - began)))
    except KeyboardInterrupt:
        pass
    finally:
        vision_status = vision.stop()
        audio_status = audio.stop()
    if audio.error:
        print("audio: " + audio.error, file=sys.stderr)
        return 1
    seconds = audio.frames / audio.rate if audio.rate else 0
    print(f"audio: {seconds:.1f} s written to {args.wav} (peak {audio.peak:.2f}); "
          f"exit statuses tessival {vision_status}, sondrel {audio_status}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
