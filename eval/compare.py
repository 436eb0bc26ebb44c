#!/usr/bin/python3
"""Compares detectors on the same recordings: one Markdown table per figure.

usage: eval/compare.py MANIFEST NAME=RESULTS.jsonl... [--split heldout]

Prints the pooled figures of every results file (frame P, R, F1, start and
end error, false starts on no-speech and on keypad-tone recordings), then
the frame F1 and precision per condition side by side. Standard library only.
"""
import argparse
import os
import sys

import corpus_manifest as cm
import score as sc

TONE_CONDITIONS = ("dtmf",)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    parser.add_argument("results", nargs="+", metavar="NAME=RESULTS")
    parser.add_argument("--split", default="heldout", choices=("tune", "heldout", "all"))
    args = parser.parse_args()
    entries = cm.select(cm.read_manifest(args.manifest), args.split)
    scored = {}
    for item in args.results:
        name, path = item.split("=", 1)
        rows, missing = sc.score(entries, sc.read_results(path))
        if missing:
            sys.exit(f"compare: {path} lacks {len(missing)} recordings, e.g. {missing[0]}")
        scored[name] = rows

    print("| detector | P | R | F1 | start med / p90 (ms) | end med / p90 (ms) "
          "| false starts, no speech | of them keypad tones |")
    print("|---|---|---|---|---|---|---|---|")
    for name, rows in scored.items():
        s = sc.summarise([f for _, f in rows])
        tones = sc.summarise([f for e, f in rows if e["condition"] in TONE_CONDITIONS])
        print(f"| {name} | {sc.fmt(s['precision'])} | {sc.fmt(s['recall'])} | {sc.fmt(s['f1'])} "
              f"| {sc.fmt(s['start_median_ms'], digits=0)} / {sc.fmt(s['start_p90_abs_ms'], digits=0)} "
              f"| {sc.fmt(s['end_median_ms'], digits=0)} / {sc.fmt(s['end_p90_abs_ms'], digits=0)} "
              f"| {s['false_starts']} / {s['no_speech_files']} "
              f"| {tones['false_starts']} / {tones['no_speech_files']} |")

    by_condition = {name: sc.grouped(rows, lambda e: e["condition"]) for name, rows in scored.items()}
    names = list(scored)
    print()
    print("| condition | " + " | ".join(f"{n} F1 / P" for n in names) + " |")
    print("|---|" + "---|" * len(names))
    for condition in sorted(next(iter(by_condition.values()))):
        cells = []
        for n in names:
            s = by_condition[n][condition]
            cells.append(f"{sc.fmt(s['f1'])} / {sc.fmt(s['precision'])}"
                         if s["no_speech_files"] < s["files"] else f"{s['false_starts']} false starts")
        print(f"| {condition} | " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main()
