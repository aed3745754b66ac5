#!/usr/bin/env bash
# Cuts a release: builds both release presets from scratch and writes the
# packages and SHA256SUMS over them into OUT_DIR (default build/release):
#   quillwave-launcher-<version>-windows-x64.zip
#   quillwave-launcher_<version>_amd64.deb
#   quillwave-launcher-<version>-linux-x86_64.tar.gz
#   quillwave-geo_<version>_amd64.deb      (the primary endpoint service)
#   SHA256SUMS
#
#   scripts/release.sh --endpoints FILE [OUT_DIR]
#   scripts/release.sh --placeholder-endpoints [OUT_DIR]
#
# The launcher carries its lookup endpoints and the primary's key: FILE gives
# them (docs/endpoints.md describes it; cmake/read_endpoints.cmake reads and
# checks it). --placeholder-endpoints builds with the reserved placeholders,
# which reach nobody, and names every package with "-placeholder"
# (quillwave-launcher-placeholder_<version>_amd64.deb, ...), so that such a
# release is never shipped by mistake. One of the two must be given.
#
# Every time inside the packages is the commit's (SOURCE_DATE_EPOCH, else the
# time of the checked-out commit), so the same commit gives the same bytes.
# With QUILLWAVE_SIGN_CERT and QUILLWAVE_SIGN_KEY set (PEM files; optionally
# QUILLWAVE_SIGN_PASSWORD for the key and QUILLWAVE_SIGN_TIMESTAMP_URL for a
# time-stamping authority), the Windows executables are Authenticode-signed
# with osslsigncode before they are packed; without them nothing is signed.
set -euo pipefail
# The settings, the build trees and the launcher packages carry the key:
# everything the release writes is readable by its owner only (the packages'
# contents have fixed modes whatever the umask).
umask 077

refuse() {
  echo "scripts/release.sh: $*" >&2
  exit 2
}

endpoints=""
placeholders=0
out=""
while (($# > 0)); do
  case "$1" in
    --endpoints)
      (($# >= 2)) || refuse "--endpoints needs a file"
      endpoints=$2
      shift 2
      ;;
    --endpoints=*)
      endpoints=${1#--endpoints=}
      shift
      ;;
    --placeholder-endpoints)
      placeholders=1
      shift
      ;;
    -*) refuse "unknown option $1" ;;
    *)
      [[ -z "$out" ]] || refuse "one output folder only"
      out=$1
      shift
      ;;
  esac
done
if [[ -n "$endpoints" && $placeholders == 1 ]]; then
  refuse "--endpoints and --placeholder-endpoints exclude each other"
fi
if [[ -z "$endpoints" && $placeholders == 0 ]]; then
  refuse "no endpoints: give --endpoints FILE with the deployment's endpoints (docs/endpoints.md), or --placeholder-endpoints for a release that reaches none and says so in its package names"
fi
if [[ -n "$endpoints" ]]; then
  [[ -f "$endpoints" ]] || refuse "no such endpoints file: $endpoints"
  endpoints=$(realpath -- "$endpoints")
fi

root=$(cd "$(dirname "$0")/.." && pwd)
out=${out:-$root/build/release}
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$root"

# The endpoints file, checked and turned into settings for both builds.
configure_endpoints=()
if [[ -n "$endpoints" ]]; then
  mkdir -p build
  settings=$root/build/release-endpoints.cmake
  if ! errors=$(cmake -DENDPOINTS="$endpoints" -DOUTPUT="$settings" -P cmake/read_endpoints.cmake 2>&1); then
    # CMake's message, on one line.
    reason=$(sed -n '/(message):/,/^Call Stack/{/(message):/d;/^Call Stack/d;p;}' <<<"$errors" | tr -s ' \n' ' ')
    reason=${reason# }
    refuse "${reason% }"
  fi
  configure_endpoints=(-C "$settings")
fi

cert=${QUILLWAVE_SIGN_CERT:-}
key=${QUILLWAVE_SIGN_KEY:-}
if [[ -n "$cert" || -n "$key" ]]; then
  # Half a signing set-up must not quietly give an unsigned release.
  [[ -f "$cert" && -f "$key" ]] ||
    { echo "QUILLWAVE_SIGN_CERT and QUILLWAVE_SIGN_KEY must both name PEM files" >&2; exit 2; }
  command -v osslsigncode >/dev/null || { echo "osslsigncode is missing (scripts/install-deps.sh)" >&2; exit 2; }
fi

if [[ -z "${SOURCE_DATE_EPOCH:-}" ]]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
fi
export SOURCE_DATE_EPOCH

version=$(sed -n 's/^project([^)]*VERSION \([0-9][0-9.]*\).*/\1/p' CMakeLists.txt)
[[ -n "$version" ]] || { echo "no version in CMakeLists.txt" >&2; exit 2; }
suffix=""
((placeholders == 0)) || suffix=-placeholder
packages=("quillwave-launcher$suffix-$version-windows-x64.zip"
          "quillwave-launcher${suffix}_${version}_amd64.deb"
          "quillwave-launcher$suffix-$version-linux-x86_64.tar.gz"
          "quillwave-geo${suffix}_${version}_amd64.deb")

for preset in windows-release linux-release; do
  echo "--- $preset: build from scratch"
  rm -rf "build/$preset"
  cmake --preset "$preset" "${configure_endpoints[@]}" >/dev/null
  cmake --build --preset "$preset" --parallel "$(nproc)" >"build/$preset.log" 2>&1 ||
    { cat "build/$preset.log" >&2; exit 1; }
done

if [[ -n "$cert" ]]; then
  for exe in build/windows-release/bin/*.exe; do
    echo "--- signing $exe"
    arguments=(sign -certs "$cert" -key "$key" -h sha256)
    [[ -n "${QUILLWAVE_SIGN_TIMESTAMP_URL:-}" ]] && arguments+=(-t "$QUILLWAVE_SIGN_TIMESTAMP_URL")
    rm -f "$exe.signed"
    if [[ -n "${QUILLWAVE_SIGN_PASSWORD:-}" ]]; then
      # From a private file, out of the process list.
      secret=$(mktemp)
      chmod 600 "$secret"
      printf '%s' "$QUILLWAVE_SIGN_PASSWORD" >"$secret"
      arguments+=(-readpass "$secret")
    fi
    signed=0
    osslsigncode "${arguments[@]}" -in "$exe" -out "$exe.signed" >/dev/null || signed=$?
    [[ -n "${secret:-}" ]] && rm -f "$secret"
    ((signed == 0)) || { echo "osslsigncode could not sign $exe" >&2; exit 1; }
    # The signed file is newer than its objects, so packing does not relink it.
    mv -f "$exe.signed" "$exe"
  done
fi

for preset in windows-release linux-release; do
  echo "--- $preset: pack"
  (cd "build/$preset" && cpack) >"build/$preset-pack.log" 2>&1 || { cat "build/$preset-pack.log" >&2; exit 1; }
done

for package in "${packages[@]}"; do
  rm -f "$out/$package"
  found=(build/*-release/packages/"$package")
  [[ -f "${found[0]}" ]] || { echo "CPack made no $package" >&2; exit 1; }
  cp "${found[0]}" "$out/$package"
done
(cd "$out" && sha256sum "${packages[@]}" >SHA256SUMS)
echo "Release $version in $out:"
(cd "$out" && ls -l "${packages[@]}" SHA256SUMS)
