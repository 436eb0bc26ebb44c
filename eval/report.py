#!/usr/bin/python3
"""Markdown tables of the three modes and the peer on both halves of the corpus.

usage: eval/report.py MANIFEST --online ON.jsonl --offline OFF.jsonl --multi MULTI.jsonl
                      [--peer PEER.jsonl]

Prints the pooled scores per mode and half, a per-condition table per half
(online: share of good results and frame F1; offline single segment: good
and F1; multi-segment and peer: frame F1 against the labels, or the false
alarm rate where a condition holds no speech), the online scores per
speech level and the online outcome confusion. Standard library only.
"""
import argparse
import sys

import corpus_manifest as cm
import score

SPLITS = ("tune", "heldout")


def load(manifest, path):
    entries = cm.read_manifest(manifest)
    rows, missing = score.score(entries, score.read_results(path))
    if missing:
        raise ValueError(f"{path}: {len(missing)} files without a result, e.g. {missing[0]}")
    return rows


def pooled_table(runs):
    lines = ["| mode | half | files | P | R | F1 | acc | false alarm | start med / p90 (ms) "
             "| end med / p90 (ms) | outcome ok | good |", "|---" * 12 + "|"]
    for mode, rows in runs.items():
        for split in SPLITS:
            s = score.summarise([f for e, f in rows if e["split"] == split])
            f = score.fmt
            lines.append(
                f"| {mode} | {split} | {s['files']} | {f(s['precision'])} | {f(s['recall'])} "
                f"| {f(s['f1'])} | {f(s['accuracy'])} | {f(s['false_alarm'])} "
                f"| {f(s['start_median_ms'], digits=0)} / {f(s['start_p90_abs_ms'], digits=0)} "
                f"| {f(s['end_median_ms'], digits=0)} / {f(s['end_p90_abs_ms'], digits=0)} "
                f"| {f(s['outcome_correct'])} | {f(s['good'])} |")
    return "\n".join(lines)


def condition_cells(summary, with_good):
    """good (if asked) and F1, or the false alarm rate when nothing is speech."""
    f = score.fmt
    frames = f(summary["f1"]) if summary["recall"] is not None else "FA " + f(summary["false_alarm"])
    return [f(summary["good"]), frames] if with_good else [frames]


def condition_table(runs, split):
    names = list(runs)
    head = ["condition", "files"]
    for mode in names:
        head += [f"{mode} good", f"{mode} F1"] if mode in ("online", "offline") else [f"{mode} F1"]
    lines = ["| " + " | ".join(head) + " |", "|---" * len(head) + "|"]
    per_mode = {m: score.grouped([(e, f) for e, f in rows if e["split"] == split],
                                 lambda e: e["condition"]) for m, rows in runs.items()}
    for condition in per_mode[names[0]]:
        cells = [condition, str(per_mode[names[0]][condition]["files"])]
        for mode in names:
            cells += condition_cells(per_mode[mode][condition], mode in ("online", "offline"))
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    for mode in ("online", "offline", "multi"):
        parser.add_argument(f"--{mode}", required=True)
    parser.add_argument("--peer")
    args = parser.parse_args()
    try:
        runs = {m: load(args.manifest, getattr(args, m)) for m in ("online", "offline", "multi")}
        if args.peer:
            runs["peer"] = load(args.manifest, args.peer)
    except (OSError, ValueError, KeyError) as e:
        sys.exit(f"report: {e}")
    print("### Pooled\n")
    print(pooled_table(runs))
    for split in SPLITS:
        print(f"\n### Per condition, {split} half\n")
        print(condition_table(runs, split))
    for split in SPLITS:
        online = [(e, f) for e, f in runs["online"] if e["split"] == split]
        print(f"\n### Online per speech level, {split} half\n")
        print(score.table("speech level (dBFS)", score.grouped(
            online, lambda e: e["level"] if e["level"] != "-" else "no speech")))
        print(f"\n### Online outcomes, {split} half\n")
        print(score.confusion_table(score.summarise([f for _, f in online])))


if __name__ == "__main__":
    main()
