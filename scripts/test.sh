#!/usr/bin/env bash
# Checks the format, builds both presets and runs every test: natively on Linux, the Windows
# build under Wine, the memory a large persona costs, the release packages
# (built twice and compared), the Linux suite under ASan/UBSan, the threaded
# tests under ThreadSanitizer and every fuzz target for a bounded time. Exits
# non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
status=0
echo "=== format: every C++ source in the project's style"
scripts/check-format.sh || { echo "format check failed: scripts/check-format.sh --fix rewrites the files" >&2; status=1; }
for preset in linux windows; do
  echo "=== ${preset}: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --parallel "$jobs"
  echo "=== ${preset}: test"
  ctest --preset "$preset" || status=1
done
# A 4 MiB persona: the launcher (with and without its window) and the check
# may take at most three times its size in memory beyond what they take
# anyway; prints their times too.
echo "=== persona benchmark: 4 MiB within three times its size"
scripts/bench-persona.sh --max-factor 3 build/linux 4 || status=1

# The release: built twice from clones of the commit and compared byte for
# byte, its contents checked, its installed tree run (with the stand-in
# engines and the Wine prefix of the builds above), and a signed build verified.
echo "=== release: reproducible packages, installed tree, signing"
scripts/check-release.sh || status=1

# The whole Linux suite once more under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the worker, its thread and the GTK window
# under ThreadSanitizer.
echo "=== linux-asan: configure, build and test"
cmake --preset linux-asan >/dev/null
cmake --build --preset linux-asan --parallel "$jobs"
ctest --preset linux-asan || status=1

echo "=== linux-tsan: configure, build and test"
cmake --preset linux-tsan >/dev/null
cmake --build --preset linux-tsan --parallel "$jobs"
ctest --preset linux-tsan || status=1

# Each fuzz target for 30 s from its committed seeds (a few minutes in all).
echo "=== fuzz: build with clang and run each target"
CXX=clang++-14 BUILD_DIR="$PWD/build/fuzz" fuzz/run.sh 30 || status=1

echo "Screenshots of the progress window: build/linux/screenshots/ and build/windows/screenshots/"
exit "$status"
