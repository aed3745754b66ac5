#!/usr/bin/env bash
# Fails when a C++ source differs from the project's style (.clang-format),
# and names the files. scripts/check-format.sh --fix rewrites them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mode=(--dry-run --Werror)
[[ "${1:-}" == "--fix" ]] && mode=(-i)
git ls-files -z -- '*.cpp' '*.h' |
  grep -zE '^(app|base|discovery|fuzz|geo|housekeeping|launcher|persona|platform|report|tests|tool|ui)/' |
  xargs -0 clang-format-14 --style=file "${mode[@]}"
