#!/usr/bin/env bash
# Installs what building and testing the launcher needs on Debian 12, and
# only what is missing (safe to run again).
#   scripts/install-deps.sh            everything (both builds and all tests)
#   scripts/install-deps.sh --linux    only what the native launcher build needs (the demo)
#   scripts/install-deps.sh --bench    also what scripts/bench-geo.sh runs (wrk, nginx)
#   scripts/install-deps.sh --coverage everything, and gcovr for scripts/coverage.sh
set -euo pipefail

# quillwave-geo, built with the launcher on Linux, needs libmaxminddb and libmicrohttpd.
packages=(cmake make g++ pkg-config googletest libmaxminddb-dev libmicrohttpd-dev)
if [[ "${1:-}" == "--bench" ]]; then
  # The load generator and the server quillwave-geo is measured against.
  packages+=(wrk nginx-light curl perl libmaxmind-db-writer-perl)
elif [[ "${1:-}" != "--linux" ]]; then
  # The GTK progress window, the X server the window tests run on and the
  # tools they inspect it with (its pixels, also with only fonts that lack the
  # marks' glyphs, and what a screen reader reads through AT-SPI on a bus of
  # their own), curl and a SOCKS5 proxy for the discovery
  # tests, the Windows cross build with Wine to run its tests, clang with its
  # runtime for the fuzz targets, and Chromium as the real engine of the
  # end-to-end tests, clang-format for the style check, Python's JSON Schema
  # validator for the checks of the example personas and the records, GNU
  # time for the persona benchmark, what the release packs, signs and checks
  # with, and the MaxMind DB writer that makes quillwave-geo's test databases.
  packages+=(libgtk-3-dev xvfb x11-utils xdotool imagemagick dbus at-spi2-core python3-pyatspi fonts-liberation
             curl microsocks time
             g++-mingw-w64-x86-64-posix wine64 clang-14 libclang-rt-14-dev chromium clang-format-14
             python3-jsonschema zip unzip osslsigncode openssl lintian libmaxmind-db-writer-perl)
  # The coverage report.
  if [[ "${1:-}" == "--coverage" ]]; then packages+=(gcovr); fi
fi

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

sudo=""
[[ $(id -u) -ne 0 ]] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
