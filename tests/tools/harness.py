"""Small pieces the integration test scripts, benches and the demo share: skipping when a
tool is missing, asking a line-per-command program for one JSON answer, the processes a
script started, and its checks."""
import json
import os
import select
import shutil
import subprocess

from xsession import die_with_parent, stop_process

SKIP = 77  # ctest's SKIP_RETURN_CODE for these tests


def missing_tools(tools, what, hint=""):
    """None when every tool is on PATH; otherwise prints why and gives the exit status:
    a skip, or a failure when CI is set (CI must have everything)."""
    missing = [t for t in tools if shutil.which(t) is None]
    if not missing:
        return None
    message = f"missing for {what}: " + ", ".join(missing) + hint
    if os.environ.get("CI"):
        print("FAIL " + message)
        return 1
    print("SKIP " + message)
    return SKIP


def ask_json(p, line, timeout, who):
    """Writes one command line to `p` and reads its one JSON answer line."""
    p.stdin.write(line + "\n")
    p.stdin.flush()
    ready, _, _ = select.select([p.stdout], [], [], timeout)
    if not ready:
        raise RuntimeError(f"{who} gave no answer to {line!r}")
    text = p.stdout.readline()
    if not text:
        raise RuntimeError(f"{who} ended on {line!r} (status {p.poll()})")
    return json.loads(text)


# What a test script started, stopped in reverse order by cleanup(), also on failure.
started = []
# What failed: check() records it and the script's status says whether anything did.
failures = []


def spawn(args, **kw):
    p = subprocess.Popen(args, preexec_fn=die_with_parent, **kw)
    started.append(p)
    return p


class LineProgram:
    """A line-per-command program (tessival, the X probe) on pipes, its diagnostics in a log
    file: ask() one JSON answer, read the log, close its input and wait for its status."""

    def __init__(self, args, env, log_path, who, log_errors="replace"):
        self.who, self.log_path, self.log_errors = who, log_path, log_errors
        self.log = open(log_path, "w")
        self.p = spawn(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                       stderr=self.log, text=True, encoding="utf-8")

    def ask(self, line, timeout=60):
        return ask_json(self.p, line, timeout, self.who)

    def log_lines(self):
        with open(self.log_path, encoding="utf-8", errors=self.log_errors) as f:
            return f.read().splitlines()

    def close(self, timeout=30):
        self.p.stdin.close()
        code = self.p.wait(timeout)
        self.log.close()
        return code


def iou(a, b):
    """Intersection over union of two [x, y, width, height] rectangles."""
    iw = max(0.0, min(a[0] + a[2], b[0] + b[2]) - max(a[0], b[0]))
    ih = max(0.0, min(a[1] + a[3], b[1] + b[3]) - max(a[1], b[1]))
    inter = iw * ih
    union = a[2] * a[3] + b[2] * b[3] - inter
    return inter / union if union > 0 else 0.0


def rss_kb(pid):
    """Resident memory of a process, in KiB (0 once it is gone)."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cleanup():
    while started:
        stop_process(started.pop())


def verdict(work):
    """The exit status of a test that kept its files in `work`: 1 with the folder kept for
    its logs when a check failed, else 0 with the folder removed."""
    if failures:
        print("logs in " + work)
        return 1
    shutil.rmtree(work, ignore_errors=True)
    return 0


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond
