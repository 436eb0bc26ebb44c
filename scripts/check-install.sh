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
# The C example host, built with pkg-config against the installed copy, gives
# the start and end that kvd detect gives online.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -Wall -Werror -o "$work/stream_host" examples/stream_host.c $(pkg-config --cflags --libs kvd)
events=$(cd "$work" && LD_LIBRARY_PATH="$prefix/lib" "$work/stream_host" < "${sample%.wav}.pcm" | grep '^event')
online=$(cd "$work" && "$prefix/bin/kvd" detect --mode online --format json "$sample")
start_ms=$(echo "$online" | sed -n 's/.*"start_ms":\([0-9-]*\).*/\1/p')
end_ms=$(echo "$online" | sed -n 's/.*"end_ms":\([0-9-]*\).*/\1/p')
expected=$(printf 'event 1 at sample %d\nevent 2 at sample %d' $((start_ms * 8)) $((end_ms * 8)))
if [ "$events" != "$expected" ]; then
  echo "stream_host printed:" >&2; echo "$events" >&2
  echo "kvd detect --mode online gave: $online" >&2
  exit 1
fi
# The example hosts, configured with find_package(kvd) against the installed
# copy: three handles at once (two at 8000 Hz in different chunk sizes, one at
# 16000 Hz) give what kvd detect gives online at each rate.
cmake -S examples -B "$work/examples" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/examples" >/dev/null
/usr/bin/python3 -c "import sys, array; a = array.array('h', open(sys.argv[1], 'rb').read()); \
open(sys.argv[2], 'wb').write(array.array('h', [s for s in a for _ in (0, 1)]).tobytes())" \
  "${sample%.wav}.pcm" "$work/sample16k.pcm"
online16=$(cd "$work" && "$prefix/bin/kvd" detect --mode online --format json --rate 16000 "$work/sample16k.pcm")
start16=$(echo "$online16" | sed -n 's/.*"start_ms":\([0-9-]*\).*/\1/p')
end16=$(echo "$online16" | sed -n 's/.*"end_ms":\([0-9-]*\).*/\1/p')
three=$(cd "$work" && LD_LIBRARY_PATH="$prefix/lib" "$work/examples/three_streams" "${sample%.wav}.pcm" | grep -E "^[0-9]+ [0-9]+ ")
expected_three=$(printf '8000 160 %d %d\n8000 1000 %d %d\n16000 320 %d %d' \
  "$start_ms" "$end_ms" "$start_ms" "$end_ms" "$start16" "$end16")
if [ "$three" != "$expected_three" ]; then
  echo "three_streams printed:" >&2; echo "$three" >&2
  echo "expected (kvd detect --mode online):" >&2; echo "$expected_three" >&2
  exit 1
fi
# The Python module lands in Debian's interpreter's folder under the prefix.
module_dir=$(find "$prefix" -name 'kvd.cpython-*.so' -printf '%h\n' | head -n 1)
if [ -n "$module_dir" ]; then
  (cd "$work" && PYTHONPATH="$module_dir" /usr/bin/python3 -c \
    "import kvd, numpy; s = kvd.Stream(8000); print(s.feed(numpy.zeros(8000, numpy.int16)))")
fi
echo "install check: find_package(kvd), kvd.pc, the example hosts, the Python module and bin/kvd work from $prefix"
