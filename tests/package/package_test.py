#!/usr/bin/python3
"""Builds the Debian package with CPack, unpacks it into a temporary root and runs it.

  package_test.py <cpack> <CPackConfig.cmake> <version>

Checks the package's name, version, architecture and dependencies, that it holds both
programs, the lean OCR model and the documentation under /usr, that the unpacked tessival
passes --selftest and reads the names of a generated meeting picture with the lean model, and
that both programs report the version. Exit 0 on success, 1 on failure, 77 when
dpkg-deb is missing (a failure when CI is set).
"""
import glob
import json
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "tools"))
from harness import check, failures, missing_tools  # noqa: E402

SCENES = os.path.join(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))), "scripts", "make_scenes.py")




def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    cpack, config, version = sys.argv[1:]
    status = missing_tools(("dpkg-deb", "dpkg-shlibdeps"), "the package test", " (install dpkg-dev)")
    if status is not None:
        return status
    with tempfile.TemporaryDirectory() as tmp:
        r = subprocess.run([cpack, "--config", config, "-B", tmp], capture_output=True,
                           text=True, timeout=240)
        print(r.stdout[-2000:], r.stderr[-2000:])
        debs = glob.glob(os.path.join(tmp, "*.deb"))
        check(r.returncode == 0 and len(debs) == 1, f"cpack builds one .deb ({debs})")
        if not debs:
            return 1
        deb = debs[0]
        field = lambda name: subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True,
                                            text=True).stdout.strip()
        arch = subprocess.run(["dpkg", "--print-architecture"], capture_output=True,
                              text=True).stdout.strip()
        check(field("Package") == "meeting-sidecars", f"package name ({field('Package')})")
        check(field("Version") == version, f"package version {version} ({field('Version')})")
        check(field("Architecture") == arch, f"architecture {arch} ({field('Architecture')})")
        depends = field("Depends")
        for lib in ("libtesseract", "libxcb", "libpulse", "tesseract-ocr-script-latn"):
            check(lib in depends, f"depends on {lib}")
        check(os.path.basename(deb) == f"meeting-sidecars_{version}_{arch}.deb",
              f"file name follows Debian's convention ({os.path.basename(deb)})")

        root = os.path.join(tmp, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        doc = os.path.join(root, "usr", "share", "doc", "meeting-sidecars")
        for path in ("usr/bin/tessival", "usr/bin/sondrel"):
            check(os.access(os.path.join(root, path), os.X_OK), f"/{path} is a program")
        for name in ("README.md", "protocol.md", "analyze.md", "examples/parent.py"):
            check(os.path.isfile(os.path.join(doc, name)), f"documentation {name} installed")
        tessival = os.path.join(root, "usr", "bin", "tessival")
        sondrel = os.path.join(root, "usr", "bin", "sondrel")
        r = subprocess.run([tessival, "--selftest"], capture_output=True, text=True,
                           timeout=120)
        print(r.stdout, r.stderr[-2000:])
        check(r.returncode == 0 and '"selftest":"pass"' in r.stdout,
              "the unpacked tessival passes --selftest")
        model = os.path.join(root, "usr", "share", "meeting-sidecars", "tessdata", "Latin.traineddata")
        check(os.path.isfile(model), "the lean OCR model is installed")
        subprocess.run([sys.executable, SCENES, tmp, "--only", "demo_gallery"], check=True,
                       stdout=subprocess.DEVNULL)
        scene = json.load(open(os.path.join(tmp, "manifest.json")))[0]
        env = {k: v for k, v in os.environ.items() if k != "TESSDATA_PREFIX"}
        r = subprocess.run([tessival, "--analyze", os.path.join(tmp, scene["file"])], capture_output=True,
                           text=True, timeout=120, env=env)
        read = {n["text"] for n in json.loads(r.stdout or "{}").get("names", [])}
        check("lean OCR model missing" not in r.stderr, f"the unpacked tessival reads with the lean model: {r.stderr[-300:]}")
        check(len(read & set(scene["names"])) >= len(scene["names"]) - 1,
              f"the unpacked tessival reads the names ({sorted(read)})")
        for exe, name in ((tessival, "tessival"), (sondrel, "sondrel")):
            r = subprocess.run([exe, "--version"], capture_output=True, text=True, timeout=30)
            check(r.returncode == 0 and r.stdout == f"{name} {version}\n",
                  f"{name} --version says {version} ({r.stdout.strip()!r})")
    print(f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
