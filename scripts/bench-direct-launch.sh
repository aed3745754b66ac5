#!/usr/bin/env bash
# Whole-process time of the direct launch (no progress window), as automation
# runs it, against the same launch with the GTK toolkit loaded and initialised
# first: the price every direct launch would pay if the toolkit were linked or
# initialised on that path.
# Then, side by side in one run, the release launcher and the launcher of
# BUILD-DIR against the job floor, a program that does the launcher's
# job the plainest way (reads the persona, writes a record of the same size
# durably, starts the same stand-in engine as the launcher does: posix_spawn
# in a new session), and against the floor, which only starts the engine. It
# prints each one's time as a multiple of the job floor's.
#   scripts/bench-direct-launch.sh [BUILD-DIR] [RUNS] [RELEASE-DIR]
# BUILD-DIR defaults to build/linux (the Linux preset); RUNS to 300;
# RELEASE-DIR to build/linux-release (skipped when not built). Needs a
# display for the toolkit to initialise; without one it starts a private Xvfb.
# Uses hyperfine when installed, else a plain timing loop.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
runs=${2:-300}
release=${3:-$root/build/linux-release}

if [[ -z "${DISPLAY:-}" ]]; then
  exec /bin/bash "$root/tests/support/with-xvfb.sh" "$0" "$build" "$runs" "$release"
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

release_launcher=$release/bin/quillwave-launcher
if [[ ! -x "$release_launcher" ]]; then
  echo "No release launcher at $release_launcher (cmake --preset linux-release && cmake --build --preset linux-release)"
  exit 0
fi
mkdir -p "$work/release"
cp "$release_launcher" "$work/release/"
cp "$build/tests/quillwave-standin-engine" "$work/release/quillwave-engine"

# The floor: what any launcher has to do at the least.
cat >"$work/floor.c" <<'EOF'
#define _GNU_SOURCE
#include <spawn.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid;
  return posix_spawn(&pid, argv[1], &actions, &attributes, argv + 1, environ) == 0 ? 0 : 1;
}
EOF
cc -O2 -static "$work/floor.c" -o "$work/floor"

# The job floor: the launcher's own job done the plainest way, with
# no checks: read the persona, write a record of the same size durably
# (a temporary file flushed to disk, then renamed over the record), start
# the engine as above.
cat >"$work/job_floor.c" <<'EOF'
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 5) return 2;
  char buffer[65536];
  const int persona = open(argv[2], O_RDONLY | O_CLOEXEC);
  if (persona < 0) return 3;
  while (read(persona, buffer, sizeof buffer) > 0) {
  }
  close(persona);
  char record[240];
  memset(record, 'x', sizeof record - 1);
  record[sizeof record - 1] = '\n';
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s.%d.tmp", argv[3], (int)getpid());
  const int out = open(temporary, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (out < 0 || write(out, record, sizeof record) != (ssize_t)sizeof record || fsync(out) != 0) return 4;
  close(out);
  if (rename(temporary, argv[3]) != 0) return 5;
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  pid_t pid;
  char* engine[] = {argv[1], argv[4], NULL};
  return posix_spawn(&pid, argv[1], &actions, &attributes, engine, environ) == 0 ? 0 : 1;
}
EOF
# Built as the project builds every Linux program (PIE, full RELRO,
# immediate binding, the C library loaded at start): the launcher's
# reference. The static build shows what loading the C library costs.
cc -O2 -fPIE -pie -Wl,-z,relro -Wl,-z,now "$work/job_floor.c" -o "$work/job-floor"
cc -O2 -static "$work/job_floor.c" -o "$work/job-floor-static"

# Runs the commands (NAME PROGRAM ARGUMENT..., separated by ---) in turn,
# RUNS rounds after 20 to warm up, each as its own child with its output
# discarded, and prints each one's median wall time and its multiple of the
# first one's, then the same for the CPU time the program itself used, which
# other load on the machine disturbs less. The engines a launch leaves behind
# are adopted (subreaper) and waited for outside the timed span, so no run
# pays for the one before.
cat >"$work/alternate.c" <<'EOF'
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

static int ascending(const void* a, const void* b) {
  const double x = *(const double*)a, y = *(const double*)b;
  return (x > y) - (x < y);
}

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const int runs = atoi(argv[1]);
  const char* names[16];
  char** commands[16];
  int count = 0;
  for (int i = 2; i + 1 < argc && count < 16;) {
    names[count] = argv[i];
    commands[count++] = &argv[i + 1];
    while (i < argc && strcmp(argv[i], "---") != 0) ++i;
    if (i < argc) argv[i++] = NULL;  // ends this command's argument list
  }
  if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) return 2;
  double* times = calloc((size_t)count * (size_t)runs, sizeof(double));
  double* cpu = calloc((size_t)count * (size_t)runs, sizeof(double));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  for (int round = -20; round < runs; ++round) {
    for (int c = 0; c < count; ++c) {
      struct timespec start, end;
      pid_t pid;
      int status = 0;
      struct rusage usage;
      clock_gettime(CLOCK_MONOTONIC, &start);
      if (posix_spawn(&pid, commands[c][0], &actions, NULL, commands[c], environ) != 0) return 3;
      wait4(pid, &status, 0, &usage);
      clock_gettime(CLOCK_MONOTONIC, &end);
      while (waitpid(-1, NULL, 0) > 0) {
      }
      if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "%s failed\n", names[c]);
        return 4;
      }
      if (round >= 0) {
        times[c * runs + round] = (end.tv_sec - start.tv_sec) * 1e3 + (end.tv_nsec - start.tv_nsec) / 1e6;
        cpu[c * runs + round] = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
                                (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
      }
    }
  }
  const char* kinds[2] = {"wall time", "CPU time"};
  double* series[2] = {times, cpu};
  for (int k = 0; k < 2; ++k) {
    printf("  %s\n", kinds[k]);
    double floor_ms = 0;
    for (int c = 0; c < count; ++c) {
      qsort(&series[k][c * runs], (size_t)runs, sizeof(double), ascending);
      const double median = series[k][c * runs + runs / 2];
      if (c == 0) floor_ms = median;
      printf("    %-40s %7.3f ms  %5.2fx the first\n", names[c], median, median / floor_ms);
    }
  }
  return 0;
}
EOF
cc -O2 "$work/alternate.c" -o "$work/alternate"

echo
echo "Direct launch against the job floor: median of $runs alternating runs"
"$work/alternate" "$runs" \
  "job floor (persona, record, engine)" "$work/job-floor" "$work/release/quillwave-engine" \
  "$work/profile/command-line.json" "$work/profile/job-floor-record.json" "--user-data-dir=$work/profile" --- \
  "job floor, linked statically" "$work/job-floor-static" "$work/release/quillwave-engine" \
  "$work/profile/command-line.json" "$work/profile/job-floor-record.json" "--user-data-dir=$work/profile" --- \
  "floor (static, only starts the engine)" "$work/floor" "$work/release/quillwave-engine" \
  "--user-data-dir=$work/profile" --- \
  "release launcher" "$work/release/quillwave-launcher" "--user-data-dir=$work/profile" --- \
  "launcher of ${build#"$root/"}" "${direct[@]}"
