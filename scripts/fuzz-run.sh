#!/usr/bin/env bash
# Runs fuzz targets built with -DKVD_FUZZ=ON, each for a given time, on its
# seed corpus (fuzz/corpus/<target>, read only) plus a working corpus.
#   scripts/fuzz-run.sh BIN_DIR WORK_DIR SECONDS [TARGET...]
# BIN_DIR holds the <target>_fuzzer programs; WORK_DIR receives the working
# corpora (WORK_DIR/corpus/<target>), crash inputs (WORK_DIR/artifacts) and
# logs (WORK_DIR/<target>.log). Without TARGETs every target runs, one after
# the other. Fails when a target reports a crash, leak, time-out or
# sanitizer finding.
set -euo pipefail
bin_dir=$(realpath "$1")
work_dir=$2
seconds=$3
shift 3
repo=$(realpath "$(dirname "$0")/..")
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(config_init detect_speech detect_voice log_config wave_reader)

# Longest input per target: the detection target takes seconds of audio.
max_len() {
  case $1 in
    detect_speech) echo 32768 ;;
    config_init | detect_voice) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

mkdir -p "$work_dir/artifacts"
work_dir=$(realpath "$work_dir")
failed=()
for target in "${targets[@]}"; do
  corpus="$work_dir/corpus/$target"
  mkdir -p "$corpus"
  options=(-max_total_time="$seconds" -max_len="$(max_len "$target")" -timeout=30
           -rss_limit_mb=2560 -close_fd_mask=1 -print_final_stats=1
           -artifact_prefix="$work_dir/artifacts/$target-")
  [ -f "$repo/fuzz/$target.dict" ] && options+=(-dict="$repo/fuzz/$target.dict")
  echo "fuzzing $target for $seconds s"
  if "$bin_dir/${target}_fuzzer" "${options[@]}" "$corpus" "$repo/fuzz/corpus/$target" \
      >"$work_dir/$target.log" 2>&1; then
    grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units" "$work_dir/$target.log" || true
  else
    echo "$target FAILED: see $work_dir/$target.log"
    tail -n 40 "$work_dir/$target.log"
    failed+=("$target")
  fi
done
[ ${#failed[@]} -eq 0 ] || { echo "fuzz targets with findings: ${failed[*]}"; exit 1; }
