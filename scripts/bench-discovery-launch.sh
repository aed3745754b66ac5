#!/usr/bin/env bash
# Whole-process time of the discovery launch with its progress window,
# against the same launch without one (QUILLWAVE_PROGRESS_WINDOW=none): a
# persona that asks for the time zone, real curl through microsocks on
# loopback, and a loopback endpoint with the primary service's answer. The
# window's narration pauses 500 ms in all; the window launch should cost no
# more than those pauses, curl and 30 ms.
#   scripts/bench-discovery-launch.sh [BUILD-DIR] [RUNS]
# BUILD-DIR defaults to build/linux (the Linux preset, with its tests built:
# the launcher with loopback endpoints, the window module, the stand-in
# engine); RUNS to 20. Needs a display for the window; without one it starts
# a private Xvfb. Not part of the test suites: its figures depend on the
# machine.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/linux}" && pwd)
runs=${2:-20}

if [[ -z "${DISPLAY:-}" ]]; then
  exec /bin/bash "$root/tests/support/with-xvfb.sh" "$0" "$build" "$runs"
fi

for file in tests/quillwave-launcher-loopback bin/quillwave-progress-gtk.so tests/quillwave-standin-engine; do
  [[ -f "$build/$file" ]] || { echo "missing $build/$file (build the tests of the Linux preset)" >&2; exit 2; }
done
[[ -x /usr/bin/microsocks ]] || { echo "microsocks is missing (scripts/install-deps.sh installs it)" >&2; exit 2; }
port=$(sed -n 's/^QUILLWAVE_TEST_PRIMARY_PORT:STRING=//p' "$build/CMakeCache.txt")
[[ -n "$port" ]] || { echo "no primary endpoint port in $build/CMakeCache.txt" >&2; exit 2; }

work=$(mktemp -d "${TMPDIR:-/tmp}/quillwave-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/app" "$work/profile" "$work/data"
cp "$build/tests/quillwave-launcher-loopback" "$build/bin/quillwave-progress-gtk.so" "$work/app/"
cp "$build/tests/quillwave-standin-engine" "$work/app/quillwave-engine"

# The driver serves the endpoint, runs microsocks, and times each launch
# from its start to its exit, alternating the two kinds so that a change of
# load on the machine meets both alike.
XDG_DATA_HOME="$work/data" /usr/bin/python3 - "$work" "$port" "$runs" <<'EOF'
import http.server, json, os, socket, statistics, subprocess, sys, threading, time

work, port, runs = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
answer = b'{"ip": "203.0.113.9", "country": "DE", "timezone": "Europe/Berlin"}'

class Endpoint(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)
    def log_message(self, *args):
        pass

try:
    server = http.server.ThreadingHTTPServer(("127.0.0.1", port), Endpoint)
except OSError as error:
    sys.exit(f"port {port} of the loopback endpoint is taken: {error}")
threading.Thread(target=server.serve_forever, daemon=True).start()

with socket.socket() as probe:
    probe.bind(("127.0.0.1", 0))
    proxy_port = probe.getsockname()[1]
proxy = subprocess.Popen(["/usr/bin/microsocks", "-i", "127.0.0.1", "-p", str(proxy_port)],
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
try:
    deadline = time.monotonic() + 5
    while True:
        try:
            socket.create_connection(("127.0.0.1", proxy_port), timeout=1).close()
            break
        except OSError:
            if time.monotonic() > deadline:
                sys.exit("microsocks did not start")
            time.sleep(0.02)

    profile = os.path.join(work, "profile")
    with open(os.path.join(profile, "command-line.json"), "w") as persona:
        persona.write('{"auto-timezone": true, "proxy-server": "socks5://127.0.0.1:%d"}\n' % proxy_port)
    launcher = [os.path.join(work, "app", "quillwave-launcher-loopback"), "--user-data-dir=" + profile]
    record_path = os.path.join(profile, ".corvane-launcher-result.json")
    kinds = {"with the window": {}, "without a window": {"QUILLWAVE_PROGRESS_WINDOW": "none"}}
    wall = {kind: [] for kind in kinds}
    curl = {kind: [] for kind in kinds}

    def launch(kind):
        environment = dict(os.environ, **kinds[kind])
        start = time.monotonic()
        status = subprocess.run(launcher, env=environment, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL, timeout=60).returncode
        elapsed = (time.monotonic() - start) * 1000
        with open(record_path) as file:
            record = json.load(file)
        if status != 0 or record["status"] != "ok" or record["timezone"] != "Europe/Berlin":
            sys.exit(f"the launch {kind} did not discover: exit {status}, {record}")
        return elapsed, record["elapsed_ms"]

    for kind in kinds:  # warm the caches once
        launch(kind)
    for _ in range(runs):
        for kind in kinds:
            elapsed, curl_ms = launch(kind)
            wall[kind].append(elapsed)
            curl[kind].append(curl_ms)

    def spread(values):
        ordered = sorted(values)
        return f"median {statistics.median(ordered):6.1f} ms, min {ordered[0]:6.1f}, max {ordered[-1]:6.1f}"

    pauses = 500
    print(f"Discovery launch, {runs} runs each (DISPLAY={os.environ.get('DISPLAY')}), curl through microsocks")
    for kind in kinds:
        print(f"  {kind:17} whole launch {spread(wall[kind])}; curl {spread(curl[kind])}")
    beyond = [w - pauses - c for w, c in zip(wall["with the window"], curl["with the window"])]
    print(f"  with the window, beyond the {pauses} ms of pauses and curl: {spread(beyond)} (target: at most 30 ms)")
    # What every launch spends besides curl (starting, records, the engine's
    # start, ending), and so the window's own share of the line above.
    own = [w - c for w, c in zip(wall["without a window"], curl["without a window"])]
    print(f"  without a window, beyond curl:                 {spread(own)}")
    print(f"  the window's share, run by run:                {spread([b - o for b, o in zip(beyond, own)])}")
finally:
    proxy.kill()
    proxy.wait()
    server.shutdown()
EOF
