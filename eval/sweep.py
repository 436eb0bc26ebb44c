#!/usr/bin/python3
"""Runs one mode over a grid of configuration values and tabulates the scores.

usage: eval/sweep.py MANIFEST --mode online|offline|multi --grid KEY=V1,V2,... [--grid ...]
                     [--set KEY=VALUE ...] [--split tune] [--rate HZ] [--config config/kvd.cfg]
                     [--out sweep.tsv] [--bin build/bin] [--jobs 2]

Every combination of the --grid values (on top of the --set values and the
configuration) is run on the chosen split and scored; one tab-separated row
per combination is printed and written to --out: the values, then the pooled
scores and, per speech level, the recall and share of correct outcomes.
"""
import argparse
import itertools
import os
import sys

import corpus_manifest as cm
import run as runner
import score

LEVEL_NAMES = ("-36", "-26", "-16", "-")
COLUMNS = ("precision", "recall", "f1", "accuracy", "false_alarm", "start_median_ms",
           "start_p90_abs_ms", "end_median_ms", "end_p90_abs_ms", "outcome_correct", "good")


def cell(value):
    if value is None:
        return "-"
    return f"{value:.4f}" if isinstance(value, float) and abs(value) < 10 else f"{value:.0f}"


def sweep_row(entries, mode, config, settings, bin_dir, jobs):
    results = {os.path.basename(r["file"]): r
               for r in runner.run(entries, mode, config, settings, bin_dir, jobs)}
    rows, missing = score.score(entries, results)
    if missing:
        raise RuntimeError(f"{len(missing)} files without a result, e.g. {missing[0]}")
    pooled = score.summarise([f for _, f in rows])
    values = [cell(pooled[c]) for c in COLUMNS]
    for level in LEVEL_NAMES:
        group = [f for e, f in rows if e["level"] == level]
        s = score.summarise(group) if group else None
        values += [cell(s[k]) if s else "-" for k in ("recall", "false_alarm", "good")]
    return values


def header(keys):
    names = list(keys) + list(COLUMNS)
    for level in LEVEL_NAMES:
        tag = "none" if level == "-" else f"L{level}"
        names += [f"recall{tag}", f"fa{tag}", f"good{tag}"]
    return "\t".join(names)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("manifest")
    parser.add_argument("--mode", required=True, choices=("online", "offline", "multi"))
    parser.add_argument("--grid", action="append", default=[], metavar="KEY=V1,V2")
    parser.add_argument("--set", action="append", default=[], metavar="KEY=VALUE")
    parser.add_argument("--split", default="tune", choices=("tune", "heldout", "all"))
    parser.add_argument("--rate", type=int, help="only the recordings at this rate")
    parser.add_argument("--config", default=os.path.join(runner.REPO, "config", "kvd.cfg"))
    parser.add_argument("--out")
    parser.add_argument("--bin", default=os.path.join(runner.REPO, "build", "bin"))
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()
    try:
        entries = [e for e in cm.select(cm.read_manifest(args.manifest), args.split)
                   if args.rate is None or e["rate"] == args.rate]
        fixed = runner.parse_overrides(args.set)
        grid = runner.parse_overrides(args.grid)
    except (OSError, ValueError) as e:
        sys.exit(f"sweep: {e}")
    keys = list(grid)
    out = open(args.out, "w") if args.out else None
    print(header(keys), flush=True)
    if out:
        out.write(header(keys) + "\n")
    for combination in itertools.product(*(grid[k].split(",") for k in keys)):
        settings = dict(fixed, **dict(zip(keys, combination)))
        try:
            values = sweep_row(entries, args.mode, os.path.abspath(args.config), settings,
                               os.path.abspath(args.bin), args.jobs)
        except (OSError, ValueError, RuntimeError) as e:
            sys.exit(f"sweep: {e}")
        line = "\t".join(list(combination) + values)
        print(line, flush=True)
        if out:
            out.write(line + "\n")
            out.flush()
    if out:
        out.close()


if __name__ == "__main__":
    main()
