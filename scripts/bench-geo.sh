#!/usr/bin/env bash
# quillwave-geo under load on loopback, beside nginx serving the same answer
# as a fixed text in the same run: wrk with 64 connections, once with a new
# connection for every request (as each launcher's curl comes) and once with
# connections kept open. Prints requests per second, the 99th percentile of
# latency, and quillwave-geo's rate as a share of nginx's. The aim on a
# two-core machine: at least three quarters of nginx's rate in both modes,
# with a p99 under 10 ms.
#   scripts/bench-geo.sh [SECONDS]     (default 10 per run; four runs)
# Needs wrk and nginx (scripts/install-deps.sh --bench) and the linux preset's
# quillwave-geo (built here when missing; QUILLWAVE_GEO=PATH takes another,
# such as the release build's). Not run by the test command.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}
connections=64
for tool in wrk nginx perl curl; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh --bench" >&2; exit 2; }
done
geo=${QUILLWAVE_GEO:-$root/build/linux/bin/quillwave-geo}
if [[ -z "${QUILLWAVE_GEO:-}" ]]; then
  cmake --preset linux >/dev/null
  cmake --build --preset linux --target quillwave-geo --parallel 2 >/dev/null
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

perl "$root/tests/geo/write_test_database.pl" "$work/city.mmdb"
key=0123456789abcdef0123456789abcdef01234567
(umask 077 && echo "$key" >"$work/keys")

# wrk's connections all come from one address: the per-address limit is off.
"$geo" --listen 127.0.0.1:0 --database "$work/city.mmdb" --api-key-file "$work/keys" \
  --max-connections-per-address 0 2>"$work/geo.log" &
pids+=($!)
geo_port=""
for ((i = 0; i < 100; i++)); do
  geo_port=$(sed -n 's/.*listening on 127\.0\.0\.1:\([0-9]*\);.*/\1/p' "$work/geo.log")
  [[ -n "$geo_port" ]] && break
  sleep 0.05
done
[[ -n "$geo_port" ]] || { echo "quillwave-geo did not start: $(cat "$work/geo.log")" >&2; exit 1; }

# The same answer, byte for byte, as quillwave-geo gives this client.
answer=$(curl -sS -H "X-API-Key: $key" "http://127.0.0.1:$geo_port/geo")
nginx_port=$(perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1:0")->sockport')
mkdir -p "$work/nginx"
cat >"$work/nginx/nginx.conf" <<EOF
worker_processes $(nproc);
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 4096; }
http {
  access_log off;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  keepalive_requests 1000000;
  server {
    listen 127.0.0.1:$nginx_port backlog=4096;
    location = /geo {
      default_type application/json;
      add_header Cache-Control no-store;
      return 200 '$answer\n';
    }
  }
}
EOF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)
for ((i = 0; i < 100; i++)); do
  curl -s -o /dev/null "http://127.0.0.1:$nginx_port/geo" && break
  sleep 0.05
done

# One wrk run: "requests-per-second p99-in-ms".
measure() {
  local port=$1 mode=$2 output
  local headers=(-H "X-API-Key: $key")
  [[ "$mode" == new ]] && headers+=(-H "Connection: close")
  output=$(wrk -t2 -c"$connections" -d"${seconds}s" --latency "${headers[@]}" "http://127.0.0.1:$port/geo")
  if grep -q 'Non-2xx' <<<"$output"; then
    echo "wrk saw failed requests on port $port:" >&2
    echo "$output" >&2
    exit 1
  fi
  awk '/Requests\/sec/ {rate = $2}
       $1 == "99%" {value = $2 + 0; unit = $2; sub(/^[0-9.]+/, "", unit);
                    p99 = unit == "us" ? value / 1000 : unit == "s" ? value * 1000 : value}
       END {printf "%.0f %.2f\n", rate, p99}' <<<"$output"
}

echo "quillwave-geo against nginx on loopback: $connections connections, ${seconds} s a run, $(nproc) cores"
printf '%-22s %-15s %12s %10s %14s\n' connections server "requests/s" "p99 ms" "share of nginx"
met=1
for mode in new kept; do
  read -r nginx_rate nginx_p99 < <(measure "$nginx_port" "$mode")
  read -r geo_rate geo_p99 < <(measure "$geo_port" "$mode")
  share=$(awk -v a="$geo_rate" -v b="$nginx_rate" 'BEGIN {printf "%.2f", (b > 0 ? a / b : 0)}')
  label="$mode per request"
  [[ "$mode" == kept ]] && label="kept open"
  printf '%-22s %-15s %12s %10s %14s\n' "$label" nginx "$nginx_rate" "$nginx_p99" ""
  printf '%-22s %-15s %12s %10s %14s\n' "$label" quillwave-geo "$geo_rate" "$geo_p99" "$share"
  awk -v s="$share" -v p="$geo_p99" 'BEGIN {exit !(s >= 0.75 && p < 10)}' || met=0
done
if ((met)); then
  echo "aim met: at least three quarters of nginx's rate and a p99 under 10 ms in both runs"
else
  echo "aim missed in at least one run (a busy machine moves these figures; run again when it is idle)"
fi
