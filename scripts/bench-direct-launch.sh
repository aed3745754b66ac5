#!/usr/bin/env bash
# Whole-process time of the direct launch (no progress window), as automation
# runs it, against the same launch with the GTK toolkit loaded and initialised
# first: the price every direct launch would pay if the toolkit were linked or
# initialised on that path.
#   scripts/bench-direct-launch.sh [BUILD-DIR] [RUNS]
# BUILD-DIR defaults to build/linux (the Linux preset); RUNS to 300. Needs a
# display for the toolkit to initialise; without one it starts a private Xvfb.
# Uses hyperfine when installed, else a plain timing loop.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
runs=${2:-300}

if [[ -z "${DISPLAY:-}" ]]; then
  exec /bin/bash "$root/tests/support/with-xvfb.sh" "$0" "$build" "$runs"
fi

for file in bin/quillwave-launcher bin/quillwave-progress-gtk.so tests/quillwave-standin-engine; do
  [[ -f "$build/$file" ]] || { echo "missing $build/$file (build the launcher, the module and the tests)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quillwave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/profile" "$work/data"
cp "$build/bin/quillwave-launcher" "$build/bin/quillwave-progress-gtk.so" "$work/app/"
cp "$build/tests/quillwave-standin-engine" "$work/app/quillwave-engine"
printf '{}\n' >"$work/profile/command-line.json"  # nothing to discover: the direct launch

# The comparison program: loads the window module, opens the display as the
# progress window would, then becomes the launcher.
cat >"$work/toolkit_first.cpp" <<'EOF'
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>

#include "ui/gtk/progress_module.h"

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  auto entry = library ? reinterpret_cast<QwProgressModuleEntry>(dlsym(library, QW_PROGRESS_MODULE_ENTRY)) : nullptr;
  if (entry == nullptr || entry()->open_display("QuillwaveLauncher") == 0) {
    std::fprintf(stderr, "the toolkit did not initialise\n");
    return 3;
  }
  execv(argv[2], argv + 2);
  return 4;
}
EOF
c++ -std=c++20 -O2 -I"$root" "$work/toolkit_first.cpp" -o "$work/toolkit-first" -ldl

export XDG_DATA_HOME="$work/data"
direct=("$work/app/quillwave-launcher" "--user-data-dir=$work/profile")
toolkit=("$work/toolkit-first" "$work/app/quillwave-progress-gtk.so" "${direct[@]}")
"${direct[@]}" >/dev/null
"${toolkit[@]}" >/dev/null
grep -q '"status":"passthrough"' "$work/profile/.corvane-launcher-result.json" ||
  { echo "the launch was not a direct launch" >&2; exit 2; }

echo "Direct launch, $runs runs each (DISPLAY=$DISPLAY)"
if command -v hyperfine >/dev/null; then
  hyperfine --shell=none --warmup 20 --runs "$runs" --style basic \
    --command-name "direct launch (toolkit not loaded)" "${direct[*]}" \
    --command-name "direct launch after toolkit init" "${toolkit[*]}"
else
  measure() {
    local start end
    start=$(date +%s%N)
    for ((i = 0; i < runs; i++)); do "$@" >/dev/null; done
    end=$(date +%s%N)
    echo "  $(((end - start) / runs / 1000)) us per launch: $1"
  }
  measure "${direct[@]}"
  measure "${toolkit[@]}"
fi
