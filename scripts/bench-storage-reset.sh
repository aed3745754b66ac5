#!/usr/bin/env bash
# Time of the storage reset over 2 000 to 8 000 folders inside IndexedDB,
# removable against unremovable (read-only, a file inside): a folder that
# stays must not make the reset slower than one that goes.
#   scripts/bench-storage-reset.sh [BUILD-DIR] [benchmark options…]
# BUILD-DIR defaults to build/linux (the Linux preset), which gets the
# benchmark switched on. Linux only; run as root, the reset runs as nobody.
# Example: scripts/bench-storage-reset.sh build/linux --benchmark_repetitions=3
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
shift || true
cmake -S "$root" -B "$build" -DQUILLWAVE_BENCHMARKS=ON >/dev/null
cmake --build "$build" --target storage_reset_benchmark --parallel 2 >/dev/null
"$build/tests/storage_reset_benchmark" "$@"
