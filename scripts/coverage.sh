#!/usr/bin/env bash
# Line and branch coverage of the Linux build under the whole Linux test set
# (the end-to-end group included), per top-level folder, and an HTML report.
#   scripts/coverage.sh [BUILD-DIR]
# BUILD-DIR defaults to build/coverage, a build of its own with gcc's
# instrumentation; counters are updated atomically, since the launcher's
# window and the service run threads. Exception branches are left out.
# GNU C++ (not ISO) lets gcc wrap fork and execve, so the lines a child runs
# between the two are counted too.
# Files that only build for Windows are listed as not measured.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/coverage}
cd "$root"
scripts/install-deps.sh --coverage

flags="--coverage -fprofile-update=atomic"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_EXTENSIONS=ON -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_C_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage -DCMAKE_MODULE_LINKER_FLAGS=--coverage \
  >/dev/null
cmake --build "$build" --parallel "$(nproc)"
find "$build" -name '*.gcda' -delete
# A failing test still leaves its counters: the report covers what ran.
ctest --test-dir "$build" --output-on-failure || echo "coverage: some tests failed; the figures cover what ran" >&2

report=$build/coverage-report
mkdir -p "$report"
gcovr --root "$root" --object-directory "$build" \
  --exclude "$root/tests/" --exclude "$root/fuzz/" --exclude "$build/" \
  --gcov-exclude '.*CMakeFiles/[0-9.]+/.*' \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --json-summary "$report/summary.json" --html-details "$report/index.html" >/dev/null

python3 - "$root" "$report/summary.json" <<'EOF'
import json, os, subprocess, sys
root, summary = sys.argv[1], sys.argv[2]
files = json.load(open(summary))["files"]
folders = {}
for entry in files:
    top = entry["filename"].split("/")[0]
    f = folders.setdefault(top, [0, 0, 0, 0])
    f[0] += entry["line_covered"]; f[1] += entry["line_total"]
    f[2] += entry["branch_covered"]; f[3] += entry["branch_total"]
def pct(a, b):
    return f"{100.0 * a / b:5.1f} %" if b else "    -  "
print(f"{'folder':<14}{'lines':>10}{'':>14}{'branches':>10}")
total = [0, 0, 0, 0]
for top in sorted(folders):
    f = folders[top]
    total = [t + v for t, v in zip(total, f)]
    print(f"{top + '/':<14}{pct(f[0], f[1]):>10} {f[0]:>5}/{f[1]:<6}{pct(f[2], f[3]):>10} {f[2]:>5}/{f[3]:<6}")
print(f"{'all':<14}{pct(total[0], total[1]):>10} {total[0]:>5}/{total[1]:<6}{pct(total[2], total[3]):>10} "
      f"{total[2]:>5}/{total[3]:<6}")
# What only the Windows build compiles is not counted as uncovered.
tracked = [f for f in subprocess.run(["git", "-C", root, "ls-files", "*/win32/*.cpp", "*/win32/*.h"],
                                     capture_output=True, text=True).stdout.split() if not f.startswith("tests/")]
if tracked:
    print("not measured (Windows only): " + ", ".join(sorted(tracked)))
EOF
echo "HTML report: $report/index.html"
