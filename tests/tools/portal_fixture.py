"""A stand-in desktop portal on a private session bus with real PipeWire and WirePlumber,
and a producer playing a picture as the window the user chose: what the portal test and
the portal bench run tessival against. Everything started is ended by the caller's
harness.cleanup() and the Bus context.

    with Bus(with_sink=False) as server:
        rig = Rig(server, work, tessival, producer, image)
        rig.play(); rig.answer("choose"); rig.start_portal()
        t = rig.start(state_dir)
"""
import json
import os
import subprocess

from harness import LineProgram, spawn
from pulse_fixture import PipeWireServer

HERE = os.path.dirname(os.path.abspath(__file__))
PORTAL = os.path.join(HERE, "portal_service.py")
TOKEN = "portal-restore-token"
BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


class Bus(PipeWireServer):
    """PipeWire on a private session bus that starts no services of its own: the desktop's
    real portal, if installed, must not answer for the stand-in."""

    def _spawn(self, args, log_name, env=None):
        if args[0] == "dbus-daemon":
            config = os.path.join(self.dir, "bus.conf")
            with open(config, "w") as f:
                f.write(BUS_CONFIG)
            args = [("--config-file=" + config if a == "--session" else a) for a in args]
        return super()._spawn(args, log_name, env)


class Rig:
    """The stand-in portal and the producer on `server`; tessival processes on demand."""

    def __init__(self, server, work, tessival, producer, image):
        self.server, self.work, self.tessival, self.producer_exe = server, work, tessival, producer
        self.image = image
        self.control = os.path.join(work, "control.json")
        self.record = os.path.join(work, "record.txt")
        self.env = server.base_env()
        for name in ("DISPLAY", "SWAYSOCK"):
            self.env.pop(name, None)
        # A Wayland session that is not wlroots: the portal is the route.
        self.env["WAYLAND_DISPLAY"] = "wayland-test"
        self.producer = None
        self.node = None
        self.count = 0

    def play(self, fps=10):
        self.producer = spawn([self.producer_exe, self.image, str(fps)], env=self.env,
                              stdout=subprocess.PIPE, text=True)
        line = self.producer.stdout.readline().split()
        if len(line) != 2 or line[0] != "node":
            raise RuntimeError("the producer announced no node")
        self.node = int(line[1])

    def stop_playing(self):
        self.producer.terminate()
        self.producer.wait(10)

    def answer(self, how):
        with open(self.control, "w") as f:
            json.dump({"answer": how, "node": self.node}, f)

    def start_portal(self):
        p = spawn(["/usr/bin/python3", PORTAL, self.control, self.record], env=self.env,
                  stdout=subprocess.PIPE, text=True)
        if p.stdout.readline().strip() != "ready":
            raise RuntimeError("the stand-in portal did not start")

    def dialogs(self):
        if not os.path.exists(self.record):
            return []
        return open(self.record).read().split()

    def start(self, state):
        self.count += 1
        return LineProgram([self.tessival, "--state-dir", state], self.env,
                           os.path.join(self.work, "tessival%d.log" % self.count), "tessival")
