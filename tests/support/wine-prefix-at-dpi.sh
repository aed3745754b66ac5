#!/usr/bin/env bash
# Makes a Wine prefix that is an initialised one at another dpi: its own
# registry, set to DPI, over the same drive C (linked, not copied).
#   tests/support/wine-prefix-at-dpi.sh SOURCE_PREFIX NEW_PREFIX DPI WINE_LOADER
set -eu

if [[ $# -ne 4 ]]; then
  echo "usage: $0 SOURCE_PREFIX NEW_PREFIX DPI WINE_LOADER" >&2
  exit 2
fi
source_prefix=$1
prefix=$2
dpi=$3
wine=$4

rm -rf "$prefix"
mkdir -p "$prefix"
cp "$source_prefix"/*.reg "$source_prefix"/.update-timestamp "$prefix"/
cp -a "$source_prefix"/dosdevices "$prefix"/
ln -s "$(cd "$source_prefix" && pwd)/drive_c" "$prefix/drive_c"
export WINEPREFIX=$prefix
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
# The server writes the registry when it ends; a test must not meet this
# one, which was started without a display.
wineserver -w
