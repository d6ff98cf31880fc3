"""Measures tessival's reading of real meeting-window screenshots against their truth.

Usage: measure_real.py PATH_TO_TESSIVAL [--data DIR] [--only FILE...] [--min-recall R]
       [--min-precision P] [--min-speaker-right S] [--max-false-speakers N]
       [--max-negative-names N] [--min-tile-iou I] [--verbose]

The pictures and truth.json live in shared/real-dev beside the repository (CI keeps a copy of
shared/ beside the clone); without them the script says so and exits 77 (a skip). Each
picture is read at its own size with `tessival --analyze`. Matching: texts are compared
normalised (NFKC, case-folded, spaces collapsed, outer punctuation dropped), names over six
characters also within one edit; a name of the participants panel or a repeat of a name
already matched counts neither for nor against. Initials read off an avatar count only when
they are the name. Prints per picture and overall: names recall and precision, the speaker
right / wrong / missing / false alarm, mean IoU of the tiles of matched names, time. Exits 1
when a total misses its threshold.

scripts/resample_real.py writes resampled and compressed copies, each readable with --data.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time
import unicodedata

from measure_quality import iou, levenshtein

HERE = os.path.dirname(os.path.abspath(__file__))
DEFAULT_DATA = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "real-dev"))
INITIALS = re.compile(r"^[A-ZÀ-Þ]{1,3}$")
SKIP = 77


def norm(s):
    s = unicodedata.normalize("NFKC", s).casefold()
    s = " ".join(s.split())
    return s.strip(" .,:;|'\"`-_>·•")


def same_name(got, want):
    g, w = norm(got), norm(want)
    if g == w:
        return True
    return len(w) > 6 and levenshtein(g, w) <= 1


def analyze(binary, path):
    start = time.monotonic()
    p = subprocess.run([binary, "--analyze", path], capture_output=True, timeout=300)
    took = time.monotonic() - start
    out = p.stdout.decode("utf-8", "replace").strip().splitlines()
    answer = json.loads(out[-1]) if out else {"ok": False}
    return answer, took


def score_picture(truth, answer):
    """Counts for one picture: tp, fp, fn, the IoUs of matched tiles, the speaker verdict."""
    W, H = truth["width"], truth["height"]
    want = list(truth["names"])
    matched = set()
    tp = fp = 0
    extra, ious = [], []
    for n in answer.get("names", []):
        text = n["text"].strip()
        # The name read exactly before one a letter away ("pub_1" is not "pub_0"'s).
        open_names = [w for w in want if w not in matched]
        hit = next((w for w in open_names if norm(text) == norm(w)), None)
        if hit is None:
            hit = next((w for w in open_names if same_name(text, w)), None)
        if hit is not None:
            matched.add(hit)
            tp += 1
            if hit in truth["tiles"] and "tile" in n:
                t = n["tile"]
                ious.append(iou([t[0] * W, t[1] * H, t[2] * W, t[3] * H], truth["tiles"][hit]))
            continue
        if any(same_name(text, w) for w in matched) or any(same_name(text, p) for p in truth["panel_names"]):
            continue  # a repeat or a panel name: neither for nor against
        if INITIALS.match(text):
            continue  # an avatar's initials
        fp += 1
        extra.append(text)
    missed = [w for w in want if w not in matched]

    got = answer.get("speaker", {}).get("text") if isinstance(answer.get("speaker"), dict) else None
    wanted = truth["speaker"]
    if wanted is None:
        verdict = "false" if got else "none"
    elif got is None:
        verdict = "missing"
    else:
        verdict = "right" if same_name(got, wanted) else "wrong"
    return tp, fp, len(missed), ious, verdict, missed, extra, got


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("binary")
    ap.add_argument("--data", default=DEFAULT_DATA)
    ap.add_argument("--only", nargs="*")
    ap.add_argument("--min-recall", type=float, default=0.0)
    ap.add_argument("--min-precision", type=float, default=0.0)
    ap.add_argument("--min-speaker-right", type=float, default=0.0)
    ap.add_argument("--max-false-speakers", type=int, default=1000)
    ap.add_argument("--max-negative-names", type=int, default=100000)
    ap.add_argument("--min-tile-iou", type=float, default=0.0)
    ap.add_argument("--verbose", action="store_true")
    opts = ap.parse_args()

    truth_path = os.path.join(opts.data, "truth.json")
    if not os.path.exists(truth_path):
        print(f"SKIP no real screenshots at {opts.data} (shared/real-dev beside the repository)")
        return SKIP
    pictures = json.load(open(truth_path, encoding="utf-8"))

    tp = fp = fn = 0
    all_ious = []
    verdicts = {"right": 0, "wrong": 0, "missing": 0, "false": 0, "none": 0}
    negative_names = 0
    times = []
    for truth in pictures:
        name = os.path.basename(truth["file"])
        if opts.only and name not in opts.only and truth["file"] not in opts.only:
            continue
        answer, took = analyze(opts.binary, os.path.join(opts.data, truth["file"]))
        times.append(took)
        if not answer.get("ok"):
            print(f"{name}: no answer ({answer.get('error', 'nothing on standard output')})")
        p_tp, p_fp, p_fn, ious, verdict, missed, extra, got = score_picture(truth, answer)
        tp, fp, fn = tp + p_tp, fp + p_fp, fn + p_fn
        all_ious += ious
        verdicts[verdict] += 1
        if truth["layout"] == "negative":
            negative_names += len(answer.get("names", []))
        rec = p_tp / (p_tp + p_fn) if p_tp + p_fn else 1.0
        prec = p_tp / (p_tp + p_fp) if p_tp + p_fp else 1.0
        mean_iou = f"{sum(ious) / len(ious):.2f}" if ious else "-"
        spk = {"right": "right", "wrong": f"WRONG ({got!r}, want {truth['speaker']!r})",
               "missing": f"MISSING (want {truth['speaker']!r})", "false": f"FALSE ALARM ({got!r})",
               "none": "none"}[verdict]
        print(f"{name}: recall {rec:.2f} precision {prec:.2f} (tp {p_tp} fp {p_fp} fn {p_fn}) "
              f"tile IoU {mean_iou} speaker {spk} {took:.2f} s")
        if opts.verbose or missed or extra:
            if missed:
                print(f"    missed: {missed}")
            if extra:
                print(f"    extra:  {extra[:12]}{' …' if len(extra) > 12 else ''}")

    recall = tp / (tp + fn) if tp + fn else 1.0
    precision = tp / (tp + fp) if tp + fp else 1.0
    shown = verdicts["right"] + verdicts["wrong"] + verdicts["missing"]
    right_share = verdicts["right"] / shown if shown else 1.0
    mean_iou = sum(all_ious) / len(all_ious) if all_ious else 0.0
    times.sort()
    print()
    print(f"names: recall {recall:.3f} precision {precision:.3f} (tp {tp}, fp {fp}, fn {fn}); "
          f"names on non-call windows {negative_names}")
    print(f"speaker: right {verdicts['right']}/{shown} ({right_share:.2f}), wrong {verdicts['wrong']}, "
          f"missing {verdicts['missing']}, false alarms {verdicts['false']}")
    print(f"tiles: mean IoU {mean_iou:.3f} over {len(all_ious)} matched names")
    if times:
        print(f"time: median {times[len(times) // 2]:.2f} s, max {times[-1]:.2f} s, total {sum(times):.1f} s")
    checks = [
        (recall >= opts.min_recall, f"recall {recall:.3f} < {opts.min_recall}"),
        (precision >= opts.min_precision, f"precision {precision:.3f} < {opts.min_precision}"),
        (right_share >= opts.min_speaker_right, f"speaker right {right_share:.2f} < {opts.min_speaker_right}"),
        (verdicts["false"] <= opts.max_false_speakers,
         f"false speakers {verdicts['false']} > {opts.max_false_speakers}"),
        (negative_names <= opts.max_negative_names,
         f"names on non-call windows {negative_names} > {opts.max_negative_names}"),
        (mean_iou >= opts.min_tile_iou, f"tile IoU {mean_iou:.3f} < {opts.min_tile_iou}"),
    ]
    if opts.only:
        checks = []  # a subset is for looking, not for the guard
    ok = True
    for good, what in checks:
        if not good:
            print("problem:", what)
            ok = False
    print("quality:", "PASS" if ok else "FAIL")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
