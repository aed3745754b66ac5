#!/usr/bin/env bash
# Runs one command against a private Xvfb server and always stops the server.
#   tests/support/with-xvfb.sh COMMAND [ARGUMENT...]
# Xvfb picks a free display number itself (-displayfd) and reports it only
# once it accepts connections, so parallel runs never collide or race.
set -u

if [[ $# -eq 0 ]]; then
  echo "usage: $0 COMMAND [ARGUMENT...]" >&2
  exit 2
fi

ready=$(mktemp -u "${TMPDIR:-/tmp}/with-xvfb.XXXXXX")
mkfifo -m 600 "$ready" || exit 2
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3>"$ready" 2>/dev/null &
xvfb=$!
child=""
stop_all() {
  [[ -n "$child" ]] && kill "$child" 2>/dev/null && wait "$child" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait "$xvfb" 2>/dev/null
  rm -f "$ready"
}
trap stop_all EXIT
trap 'exit 130' INT TERM

display=""
read -r -t 20 display <"$ready"
if [[ ! "$display" =~ ^[0-9]+$ ]]; then
  echo "with-xvfb: Xvfb did not start" >&2
  exit 2
fi

# The command runs in the background so that a signal to this script reaches
# the trap at once and the command and the server are both stopped.
unset WAYLAND_DISPLAY
DISPLAY=":$display" "$@" &
child=$!
wait "$child"
status=$?
child=""
exit "$status"
