#!/usr/bin/env bash
# Installs the build in build/ to a temporary prefix, then builds a separate
# host project against it with find_package(kvd) and runs it on the sample.
set -euo pipefail
cd "$(dirname "$0")/.."
prefix=$(mktemp -d)
work=$(mktemp -d)
trap 'rm -rf "$prefix" "$work"' EXIT
cmake --install build --prefix "$prefix" >/dev/null
test -f "$prefix/lib/kvd.cfg" && test -f "$prefix/lib/kvd_offline.cfg"
cmake -S tests/install_consumer -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
sample="$PWD/samples/kvd_sample.wav"
# Run in the temporary folder: the library writes LogClt.cfg and logs/ there.
(cd "$work" && "$work/build/consumer" "$sample" | tail -n 1)
# The installed kvd program finds kvd.cfg beside the installed library.
(cd "$work" && "$prefix/bin/kvd" detect --format json "$sample")
pkg-config --exists --print-errors "$prefix/lib/pkgconfig/kvd.pc"
echo "install check: find_package(kvd), kvd.pc and bin/kvd work from $prefix"
