#!/usr/bin/env bash
# Regenerates docs/img/load_us_per_frame.png: CPU time per frame and line
# (µs, measured by kvd-load as CPU time over frames) against the number of
# lines, FastMode off and on.
#
#   bench/plot_load.sh [build/bin/kvd-load] [seconds per run, default 10]
#
# Runs kvd-load twelve times (about two and a half minutes at 10 s), in a
# temporary folder so that the engine's LogClt.cfg and logs/ stay out of the
# repository. Needs gnuplot.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
load=$(realpath "${1:-$repo/build/bin/kvd-load}")
seconds=${2:-10}
output=$repo/docs/img/load_us_per_frame.png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cd "$work"
for fast in off on; do
  for lines in 1 16 64 256 512 1024; do
    line=$("$load" --lines "$lines" --seconds "$seconds" --fast "$fast" | grep '^run:')
    echo "FastMode $fast: $line" >&2
    us=$(sed -n 's/.* us_per_frame=\([0-9.]*\).*/\1/p' <<<"$line")
    late=$(sed -n 's/.* late_frames=\([0-9]*\).*/\1/p' <<<"$line")
    echo "$lines $us $late" >>"fast_$fast.dat"
  done
done

commit=$(git -C "$repo" rev-parse --short HEAD)
gnuplot <<GNUPLOT
set terminal pngcairo size 800,500 font ",10"
set output "$output"
set title "kvd-load: CPU time per 10 ms frame and line (commit $commit, $(nproc) shared cores, ${seconds} s runs)"
set xlabel "lines"
set ylabel "µs per frame per line"
set logscale x 2
set xrange [0.8:1300]
set yrange [0:*]
set grid
set key top right
plot "fast_off.dat" using 1:2 with linespoints title "FastMode off", \
     "fast_on.dat" using 1:2 with linespoints title "FastMode on"
GNUPLOT
echo "wrote $output" >&2
