#!/usr/bin/env bash
# Builds the launcher and shows one direct launch: the bundled example
# persona, a stand-in engine that prints what it received, and the result
# record the launcher leaves in the profile.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --linux

cmake --preset linux >/dev/null
cmake --build --preset linux --parallel "$(nproc)" --target quillwave-launcher quillwave-standin-engine >/dev/null

demo=build/linux/demo
rm -rf "$demo"
mkdir -p "$demo/app"
cp build/linux/bin/quillwave-launcher "$demo/app/"
cp build/linux/tests/quillwave-standin-engine "$demo/app/quillwave-engine"
cp examples/corvane-webgl-profiles.json "$demo/app/"
cp -r examples/profile "$demo/profile"
# Leftovers of a previous browser session for the housekeeping to remove.
mkdir -p "$demo/profile/Default/Sessions"
touch "$demo/profile/Default/Current Tabs" "$demo/profile/Default/Sessions/Session_1" "$demo/profile/Default/Cookies"

profile="$(cd "$demo/profile" && pwd)"
echo "\$ quillwave-launcher --user-data-dir=$profile --no-first-run"
status=0
"$demo/app/quillwave-launcher" --user-data-dir="$profile" --no-first-run || status=$?
echo "(launcher exit code $status)"
[[ $status -eq 0 ]] || exit "$status"
for _ in $(seq 100); do [[ -f "$demo/app/engine-run.txt" ]] && break; sleep 0.05; done
sleep 0.1
echo
echo "Profile after the launch (previous tabs and cookies removed):"
(cd "$profile" && find . -mindepth 1 | sort | sed 's/^/  /')
echo
echo "Result record $profile/.corvane-launcher-result.json:"
cat "$profile/.corvane-launcher-result.json"
