#!/usr/bin/python3
"""Precision-recall plot (PNG, gnuplot) of one or more eval/sweep.py tables.

usage: eval/plot_pr.py --out PLOT.png --title TITLE --curve NAME=SWEEP.tsv [--curve ...]
                       [--point NAME=PRECISION,RECALL ...] [--low 0.5]

Each sweep row is a point (frame recall, frame precision) labelled with the
value of its first column, the key that was swept; --point adds single
marked points, e.g. the peer.
"""
import argparse
import os
import subprocess
import sys
import tempfile


def read_sweep(path):
    """(label, recall, precision) of each row of a sweep table."""
    with open(path) as f:
        header = f.readline().rstrip("\n").split("\t")
        col = {name: i for i, name in enumerate(header)}
        points = []
        for line in f:
            v = line.rstrip("\n").split("\t")
            if v[col["recall"]] != "-" and v[col["precision"]] != "-":
                points.append((v[0], float(v[col["recall"]]), float(v[col["precision"]])))
    return header[0], points


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", required=True)
    parser.add_argument("--title", required=True)
    parser.add_argument("--curve", action="append", default=[], metavar="NAME=SWEEP.tsv")
    parser.add_argument("--point", action="append", default=[], metavar="NAME=P,R")
    parser.add_argument("--low", type=float, default=0.0, help="lower end of both axes (default 0)")
    args = parser.parse_args()
    plots = []
    with tempfile.TemporaryDirectory() as work:
        try:
            for n, item in enumerate(args.curve):
                name, path = item.split("=", 1)
                key, points = read_sweep(path)
                data = os.path.join(work, f"c{n}.dat")
                with open(data, "w") as f:
                    f.write("".join(f"{r} {p} {label}\n" for label, r, p in points))
                plots.append(f"'{data}' using 1:2 with linespoints pt 7 ps 0.8 title '{name} (over {key})'")
                plots.append(f"'{data}' using 1:2:3 with labels offset 0.8,0.6 font ',8' notitle")
            for n, item in enumerate(args.point):
                name, values = item.split("=", 1)
                precision, recall = (float(x) for x in values.split(","))
                data = os.path.join(work, f"p{n}.dat")
                with open(data, "w") as f:
                    f.write(f"{recall} {precision}\n")
                plots.append(f"'{data}' using 1:2 with points pt {4 + 2 * n} ps 1.5 title '{name}'")
        except (OSError, ValueError, KeyError) as e:
            sys.exit(f"plot_pr: {e}")
        script = "\n".join([
            "set terminal pngcairo size 720,520 font ',10'",
            f"set output '{os.path.abspath(args.out)}'",
            f"set title '{args.title}'",
            "set xlabel 'frame recall'", "set ylabel 'frame precision'",
            f"set xrange [{args.low}:1]", f"set yrange [{args.low}:1]", "set grid", "set key bottom left",
            "plot " + ", \\\n     ".join(plots), ""])
        done = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True)
        if done.returncode != 0:
            sys.exit(f"plot_pr: gnuplot failed: {done.stderr.strip()}")


if __name__ == "__main__":
    main()
