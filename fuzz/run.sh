#!/bin/sh
# Builds the libFuzzer targets with clang and runs each for a bounded time.
# Runs every target, then fails if any of them crashed, leaked, timed out or
# blew its memory limit.
#   fuzz/run.sh [SECONDS]        (default 30 per target)
# BUILD_DIR overrides the binary folder (default build/fuzz).
set -eu

seconds="${1:-30}"
source_dir="$(cd "$(dirname "$0")/.." && pwd)"
build_dir="${BUILD_DIR:-$source_dir/build/fuzz}"
targets="$(grep -E '^[a-z_]+$' "$source_dir/fuzz/targets.txt")"

cmake -S "$source_dir" -B "$build_dir" -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLWAVE_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build_dir" -j"${JOBS:-2}" --target quillwave_fuzz_targets

failed=""
for target in $targets; do
  # New inputs go to a working folder; the committed seeds stay as they are.
  work="$build_dir/fuzz-work/$target"
  mkdir -p "$work/corpus" "$work/artifacts"
  echo "== $target (${seconds}s)"
  if ! "$build_dir/fuzz/$target" "$work/corpus" "$source_dir/fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -artifact_prefix="$work/artifacts/" -print_final_stats=1 >"$work/log.txt" 2>&1; then
    tail -n 60 "$work/log.txt"
    echo "FAILED: $target (input and log in $work)" >&2
    failed="$failed $target"
    continue
  fi
  grep -E '^stat::number_of_executed_units|^Done' "$work/log.txt" || true
done
if [ -n "$failed" ]; then
  echo "fuzz targets that failed:$failed" >&2
  exit 1
fi
echo "all fuzz targets ran clean"
