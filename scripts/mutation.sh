#!/usr/bin/env bash
# Mutation testing of the portable core; see scripts/mutation.py for what it does.
#   scripts/mutation.sh [--count N] [--seed S] [--build DIR] [--limit SECONDS]
set -euo pipefail
exec python3 "$(dirname "$0")/mutation.py" "$@"
