"""Small pieces every integration test script shares: skipping when a tool is missing, and
asking a line-per-command program for one JSON answer."""
import json
import os
import select
import shutil

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
