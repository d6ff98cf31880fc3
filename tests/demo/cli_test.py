#!/usr/bin/python3
"""--help and --version of both programs, and that they change nothing else.

  cli_test.py <tessival> <sondrel> <version>
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import check, failures  # noqa: E402




def run(args, env=None, stdin=b""):
    return subprocess.run(args, input=stdin, capture_output=True, timeout=60,
                          env=dict(os.environ, **(env or {})))


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    tessival, sondrel, version = sys.argv[1:]
    for exe, name in ((tessival, "tessival"), (sondrel, "sondrel")):
        r = run([exe, "--help"])
        check(r.returncode == 0 and r.stdout.startswith(f"Usage: {name}".encode())
              and r.stderr == b"", f"{name} --help prints its usage on standard output")
        r = run([exe, "--version"])
        check(r.returncode == 0 and r.stdout == f"{name} {version}\n".encode(),
              f"{name} --version prints '{name} {version}' ({r.stdout!r})")
        r = run([exe, "unrelated", "--version", "more"])
        check(r.stdout == f"{name} {version}\n".encode(), f"{name}: --version anywhere")

    # tessival: the self-test and the ring detection keep their precedence.
    r = run([tessival, "--help", "--selftest"])
    check(r.returncode in (0, 1) and "selftest" in json.loads(r.stdout),
          "--selftest wins over --help")
    r = run([tessival, "--version", "--detect-ring", "/nonexistent.png"])
    check(r.returncode == 1 and json.loads(r.stdout) == {
        "ok": False, "error": "cannot read image at /nonexistent.png"},
        "--detect-ring with a path wins over --version")
    # Other arguments are still ignored: the command loop runs and ends with the input.
    r = run([tessival, "--bogus", "-h", "help"], env={"DISPLAY": ""})
    check(r.returncode == 0 and r.stdout == b"" and
          r.stderr.decode().splitlines() == ["[tessival] window systems: none reachable",
                                              "[tessival] ready",
                                              "[tessival] stdin closed, exiting"],
          f"unknown arguments still start the command loop ({r.stderr!r})")
    r = run([tessival, "--help"], stdin=b"CAPTURE\n")
    check(b"[tessival] ready" not in r.stderr, "--help does not start the command loop")
    # sondrel: arguments other than these two are still ignored (dry run shows it).
    r = run([sondrel, "--bogus"], env={"PELDRANOX_SIDECAR_DRYRUN": "1"}, stdin=b"RESTART\n")
    check(r.returncode == 0 and r.stdout == b"" and
          b"[sondrel] dryrun done (restarts=1)" in r.stderr,
          "sondrel ignores other arguments")
    r = run([sondrel, "--help"], env={"PELDRANOX_SIDECAR_DRYRUN": "1"})
    check(r.returncode == 0 and r.stdout.startswith(b"Usage: sondrel") and r.stderr == b"",
          "sondrel --help in dry-run mode prints the usage and nothing else")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
