#!/usr/bin/python3
"""Scores `kvd detect --format json` output (or the peer's voice flags) against the corpus labels.

usage: eval/score.py MANIFEST RESULTS.jsonl [--split tune|heldout|all] [--json]

The mode of each result line is taken from its "mode" field; lines with
"flags" (one character per 10 ms, 1 = voice) are the peer's and are scored
as frame decisions; an "error" line (the file failed, e.g. too many segments)
counts as nothing found, with the outcome "error". Standard library only.

Truth, from the 10 ms labels (docs/evaluation.md):
  - multi-segment and peer frames: the labels themselves;
  - offline single segment: every frame from the first to the last labelled one;
  - online: every frame of the first utterance (labelled runs closer than
    UTTERANCE_GAP_MS belong to one utterance), scored up to the start of the
    next utterance, since an online line reports one utterance.
A frame counts as detected when its centre (10 k + 5 ms) lies in a reported
segment [start, end). A file's result is "good" when its outcome is right and,
for speech, both edges lie within GOOD_EDGE_MS of the truth (only the start
for an utterance that must be cut as too long).
"""
import argparse
import json
import os
import sys

import corpus_manifest as cm

UTTERANCE_GAP_MS = 1000     # a pause this long or longer separates utterances
LONG_UTTERANCE_MS = 30000   # an utterance longer than this should end as too long
ONLINE_OUTCOMES = {"speech_end": "found", "no_speech": "none", "before_speech": "none",
                   "speech_too_long": "too long", "speech_too_short": "too short",
                   "in_speech": "not ended"}
OUTCOME_COLUMNS = ("found", "none", "too long", "too short", "not ended", "error")
GOOD_EDGE_MS = 500          # a good result has the right outcome and both edges this close


def speech_runs(flags):
    """[start, end) frame pairs of the runs of True."""
    found, start = [], None
    for i, v in enumerate(list(flags) + [False]):
        if v and start is None:
            start = i
        elif not v and start is not None:
            found.append((start, i))
            start = None
    return found


def utterances(flags):
    """Labelled runs merged across gaps shorter than UTTERANCE_GAP_MS."""
    merged = []
    for start, end in speech_runs(flags):
        if merged and (start - merged[-1][1]) * cm.FRAME_MS < UTTERANCE_GAP_MS:
            merged[-1] = (merged[-1][0], end)
        else:
            merged.append((start, end))
    return merged


def segment_flags(segments, count):
    flags = [False] * count
    for start, end in segments:
        for k in range(max(0, (start - 5 + 9) // 10), count):
            centre = k * cm.FRAME_MS + 5
            if centre >= end:
                break
            if centre >= start:
                flags[k] = True
    return flags


def peer_flags(text, count):
    return [c == "1" for c in text[:count]] + [False] * max(0, count - len(text))


def span(first, last, count):
    return [first <= k < last for k in range(count)]


def evaluate(labels, result):
    """Per-file figures: frame counts, start/end errors in ms, truth class and outcome."""
    count = len(labels)
    spoken = utterances(labels)
    failed = "error" in result
    if failed:
        result = dict(result, segments=[])
    mode = "peer" if "flags" in result else result["mode"]
    if mode == "peer":
        predicted = peer_flags(result["flags"], count)
        voiced = [k for k, v in enumerate(predicted) if v]
        found = [(voiced[0] * cm.FRAME_MS, (voiced[-1] + 1) * cm.FRAME_MS)] if voiced else []
    else:
        found = [tuple(s) for s in result.get("segments", [])]
        predicted = segment_flags(found, count)
    scored = range(count)
    if mode in ("multi", "peer"):
        truth = labels
        target = (spoken[0][0], spoken[-1][1]) if spoken else None
    elif mode == "offline":
        target = (spoken[0][0], spoken[-1][1]) if spoken else None
        truth = span(target[0], target[1], count) if target else [False] * count
    else:
        target = spoken[0] if spoken else None
        truth = span(target[0], target[1], count) if target else [False] * count
        if len(spoken) > 1:
            scored = range(spoken[1][0])
    tp = sum(1 for k in scored if truth[k] and predicted[k])
    fp = sum(1 for k in scored if predicted[k] and not truth[k])
    fn = sum(1 for k in scored if truth[k] and not predicted[k])
    figures = {"tp": tp, "fp": fp, "fn": fn, "tn": len(scored) - tp - fp - fn}
    if target is None:
        figures["truth"] = "none"
    elif mode == "online" and (target[1] - target[0]) * cm.FRAME_MS > LONG_UTTERANCE_MS:
        figures["truth"] = "too long"
    else:
        figures["truth"] = "found"
    if failed:
        figures["outcome"] = "error"
    elif mode == "online":
        figures["outcome"] = ONLINE_OUTCOMES[result["outcome"]]
    else:
        figures["outcome"] = "found" if found else "none"
    if target is not None and found:
        first = found[0][0]
        last = found[0][1] if mode == "online" else found[-1][1]
        figures["start_err"] = first - target[0] * cm.FRAME_MS
        if figures["truth"] != "too long":   # there the end is the engine's cut, by design
            figures["end_err"] = last - target[1] * cm.FRAME_MS
    return figures


def percentile(values, q):
    """q-th percentile by linear interpolation between closest ranks."""
    if not values:
        return None
    ordered = sorted(values)
    position = (len(ordered) - 1) * q / 100.0
    low = int(position)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (position - low)


def ratio(a, b):
    return a / b if b else None


def summarise(rows):
    """Pooled figures of a list of per-file figures."""
    tp, fp, fn, tn = (sum(r[k] for r in rows) for k in ("tp", "fp", "fn", "tn"))
    precision, recall = ratio(tp, tp + fp), ratio(tp, tp + fn)
    f1 = ratio(2 * tp, 2 * tp + fp + fn) if tp + fp + fn else None
    starts = [r["start_err"] for r in rows if "start_err" in r]
    ends = [r["end_err"] for r in rows if "end_err" in r]
    confusion = {}
    for r in rows:
        key = r["truth"] + " -> " + r["outcome"]
        confusion[key] = confusion.get(key, 0) + 1
    correct = sum(1 for r in rows if r["truth"] == r["outcome"])
    silent = [r for r in rows if r["truth"] == "none"]
    good = sum(1 for r in rows if r["truth"] == r["outcome"] and
               abs(r.get("start_err", 0)) <= GOOD_EDGE_MS and abs(r.get("end_err", 0)) <= GOOD_EDGE_MS)
    return {
        "files": len(rows), "precision": precision, "recall": recall, "f1": f1,
        "accuracy": ratio(tp + tn, tp + fp + fn + tn), "false_alarm": ratio(fp, fp + tn),
        "start_median_ms": percentile(starts, 50),
        "start_p90_abs_ms": percentile([abs(v) for v in starts], 90),
        "end_median_ms": percentile(ends, 50),
        "end_p90_abs_ms": percentile([abs(v) for v in ends], 90),
        "outcome_correct": ratio(correct, len(rows)), "good": ratio(good, len(rows)),
        "confusion": confusion,
        "no_speech_files": len(silent), "false_starts": sum(1 for r in silent if is_false_start(r)),
    }


def is_false_start(figures):
    """A recording without speech on which something was reported as speech."""
    return figures["truth"] == "none" and figures["outcome"] not in ("none", "error")


def score(entries, results):
    """(per-file figures with their entry, missing files) for the entries that have a result."""
    rows, missing = [], []
    for entry in entries:
        result = results.get(os.path.basename(entry["path"]))
        if result is None:
            missing.append(entry["path"])
            continue
        rows.append((entry, evaluate(cm.read_labels(entry["labels"]), result)))
    return rows, missing


def grouped(rows, key):
    groups = {}
    for entry, figures in rows:
        groups.setdefault(key(entry), []).append(figures)
    return {name: summarise(items) for name, items in sorted(groups.items())}


def fmt(value, scale=1.0, digits=3):
    if value is None:
        return "-"
    return f"{value * scale:.{digits}f}" if digits else f"{value * scale:.0f}"


def table(title, groups):
    lines = [f"| {title} | files | P | R | F1 | acc | false alarm | start med / p90 (ms) "
             f"| end med / p90 (ms) | outcome ok | good | false starts |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for name, s in groups.items():
        lines.append(
            f"| {name} | {s['files']} | {fmt(s['precision'])} | {fmt(s['recall'])} | {fmt(s['f1'])} "
            f"| {fmt(s['accuracy'])} | {fmt(s['false_alarm'])} "
            f"| {fmt(s['start_median_ms'], digits=0)} / {fmt(s['start_p90_abs_ms'], digits=0)} "
            f"| {fmt(s['end_median_ms'], digits=0)} / {fmt(s['end_p90_abs_ms'], digits=0)} "
            f"| {fmt(s['outcome_correct'])} | {fmt(s['good'])} "
            f"| {s['false_starts']} / {s['no_speech_files']} |")
    return "\n".join(lines)


def confusion_table(summary):
    truths = sorted({k.split(" -> ")[0] for k in summary["confusion"]})
    lines = ["| truth \\ outcome | " + " | ".join(OUTCOME_COLUMNS) + " |",
             "|---" * (len(OUTCOME_COLUMNS) + 1) + "|"]
    for t in truths:
        cells = [str(summary["confusion"].get(f"{t} -> {o}", 0)) for o in OUTCOME_COLUMNS]
        lines.append(f"| {t} | " + " | ".join(cells) + " |")
    return "\n".join(lines)


def read_results(path):
    results = {}
    with open(path) as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line:
                continue
            try:
                obj = json.loads(line)
            except json.JSONDecodeError as e:
                raise ValueError(f"{path}:{number}: not JSON ({e})")
            results[os.path.basename(obj["file"])] = obj
    return results


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    parser.add_argument("results")
    parser.add_argument("--split", default="all", choices=("tune", "heldout", "all"))
    parser.add_argument("--json", action="store_true", help="print the summaries as one JSON object")
    args = parser.parse_args()
    try:
        entries = cm.select(cm.read_manifest(args.manifest), args.split)
        rows, missing = score(entries, read_results(args.results))
    except (OSError, ValueError, KeyError) as e:
        sys.exit(f"score: {e}")
    if not rows:
        sys.exit("score: no result matches the manifest")
    pooled = summarise([f for _, f in rows])
    by_condition = grouped(rows, lambda e: e["condition"])
    by_level = grouped(rows, lambda e: "level " + e["level"] if e["level"] != "-" else "no speech")
    by_rate = grouped(rows, lambda e: f"{e['rate']} Hz")
    if args.json:
        print(json.dumps({"pooled": pooled, "condition": by_condition, "level": by_level,
                          "rate": by_rate, "missing": missing}))
        return
    print(table("pooled", {"all": pooled}))
    print()
    print(table("condition", by_condition))
    print()
    print(table("speech level (dBFS)", by_level))
    print()
    print(table("rate", by_rate))
    print()
    print(confusion_table(pooled))
    if missing:
        print(f"\n{len(missing)} files without a result, e.g. {missing[0]}", file=sys.stderr)


if __name__ == "__main__":
    main()
