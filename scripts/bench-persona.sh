#!/usr/bin/env bash
# Time and peak memory of the launcher and of `quillwave-persona check` on
# large personas: "auto-geo", a proxy nobody listens on ("fallback", so the
# engine still starts), then one small key per line up to the size asked.
#   scripts/bench-persona.sh [--max-factor N] [BUILD-DIR] [SIZE-MIB...]
# BUILD-DIR defaults to build/linux (the Linux preset; the launcher, its window
# module, the tool and the stand-in engine must be built); the sizes to 4 64.
# Each size is measured four ways: the launcher with its window (on a private
# Xvfb), the launcher without a display, `check` and `check --json`, each
# also on the persona's first line alone, so that what the size itself
# costs shows apart from the program's own (the toolkit, the runtime).
# With --max-factor every run may take at most N times the persona's size
# more than on its first line alone, or the script fails: the test command
# runs it so once at 4 MiB. Needs GNU time (/usr/bin/time) and perl.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
max_factor=""
if [[ "${1:-}" == "--max-factor" ]]; then
  max_factor=$2
  shift 2
fi
build=$(cd "${1:-$root/build/linux}" && pwd)
shift || true
sizes=("$@")
[[ ${#sizes[@]} -gt 0 ]] || sizes=(4 64)

if [[ -z "${DISPLAY:-}" ]]; then
  args=()
  [[ -n "$max_factor" ]] && args=(--max-factor "$max_factor")
  exec /bin/bash "$root/tests/support/with-xvfb.sh" "$0" "${args[@]}" "$build" "${sizes[@]}"
fi

for file in bin/quillwave-launcher bin/quillwave-progress-gtk.so bin/quillwave-persona tests/quillwave-standin-engine; do
  [[ -f "$build/$file" ]] || { echo "missing $build/$file (build the launcher, the module, the tool and the tests)" >&2; exit 2; }
done
[[ -x /usr/bin/time ]] || { echo "GNU time (/usr/bin/time) is needed" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillwave-bench-persona.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/profile" "$work/data"
cp "$build/bin/quillwave-launcher" "$build/bin/quillwave-progress-gtk.so" "$build/bin/quillwave-persona" "$work/app/"
cp "$build/tests/quillwave-standin-engine" "$work/app/quillwave-engine"
export XDG_DATA_HOME="$work/data"
persona="$work/profile/command-line.json"
head_line='{"auto-geo": true, "proxy-server": "socks5://127.0.0.1:9", "on-proxy-fail": "fallback",'

# The persona of SIZE MiB (0: the first line alone): distinct keys of a few
# characters, one per line, as a generator that writes millions of settings
# would.
make_persona() {
  perl -e '
    my ($limit, $head) = ($ARGV[0] * 1024 * 1024, "$ARGV[1]\n");
    my $tail = qq("end": 1}\n);
    my $text = $head;
    my $size = length($head) + length($tail);
    for (my $i = 0;; ++$i) {
      my $line = sprintf(qq("%x": 1,\n), $i);
      last if $size + length($line) > $limit;
      $text .= $line;
      $size += length $line;
    }
    print $text, $tail;
  ' "$1" "$head_line" >"$persona"
}

# Runs one command under GNU time; leaves its wall time, CPU time and peak
# memory in `seconds`, `cpu` and `kib`.
measure() {
  local report="$work/time.txt"
  rm -f "$work/profile/.corvane-launcher-result.json"
  /usr/bin/time -f '%e %U %S %M' -o "$report" "$@" >/dev/null 2>"$work/stderr.txt" || true
  local user system
  read -r seconds user system kib < <(tail -n 1 "$report")
  cpu=$(awk -v u="$user" -v s="$system" 'BEGIN { printf "%.2f", u + s }')
}

# The result record must name the launch the way was meant to take (and,
# when given, hold the note that tells the way).
expect_status() {
  local record="$work/profile/.corvane-launcher-result.json"
  grep -q "\"status\":\"$1\"" "$record" 2>/dev/null ||
    { echo "  the launcher did not take the $1 launch" >&2; failed=1; }
  [[ -z "${2:-}" ]] || grep -qF "$2" "$record" 2>/dev/null ||
    { echo "  the record lacks: $2" >&2; failed=1; }
}

launcher=("$work/app/quillwave-launcher" "--user-data-dir=$work/profile")
tool=("$work/app/quillwave-persona")
ways=("launcher, window" "launcher, no display" "check" "check --json")
run_way() {
  case "$1" in
    "launcher, window") measure "${launcher[@]}" && expect_status ok ;;
    "launcher, no display") measure env DISPLAY= "${launcher[@]}" &&
      expect_status ok "no progress window (no display); discovery ran without it" ;;
    "check") measure "${tool[@]}" check "$work/profile" ;;
    "check --json") measure "${tool[@]}" check --json "$work/profile" ;;
  esac
}

failed=0
make_persona 0
declare -A base_kib
for way in "${ways[@]}"; do
  run_way "$way"  # the first window on a fresh display also fills the font caches
  run_way "$way"
  base_kib[$way]=$kib
done
for size in "${sizes[@]}"; do
  make_persona "$size"
  echo "persona of $size MiB ($(wc -l <"$persona") lines): wall time, CPU time, peak memory (above the first line alone)"
  for way in "${ways[@]}"; do
    run_way "$way"
    extra_mib=$(((kib - base_kib[$way] + 1023) / 1024))
    printf '  %-22s %6s s  %6s s  %5s MiB (+%s)\n' "$way" "$seconds" "$cpu" "$(((kib + 1023) / 1024))" "$extra_mib"
    if [[ -n "$max_factor" && $extra_mib -gt $((max_factor * size)) ]]; then
      echo "  ^ more than $max_factor times the persona's size" >&2
      failed=1
    fi
  done
done
exit "$failed"
