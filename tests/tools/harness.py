"""Small pieces the integration test scripts share: skipping when a tool is missing, asking
a line-per-command program for one JSON answer, the processes a script started, and its
checks."""
import json
import os
import select
import shutil
import subprocess

from xsession import stop_process

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
    p = subprocess.Popen(args, **kw)
    started.append(p)
    return p


def cleanup():
    while started:
        stop_process(started.pop())


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what, flush=True)
    if not cond:
        failures.append(what)
    return cond
