#!/usr/bin/env bash
# The main job, shown: the sample skin's installer run against a stand-in host
# in a throwaway 32-bit Wine prefix under the build folder.
#   demo.sh WIN32_BUILD_DIR SKIN_FILE
set -euo pipefail
. "$(dirname "$0")/wine-env.sh"

build=$(realpath "$1")
skin=$(realpath "$2")
harness=$build/harness
installer="$build/demo/setup [$(basename "$skin")].exe"
prefix=$build/demo-prefix
tests=$(dirname "$0")/../tests/wine

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all
rm -rf "$prefix"
trap 'bash "$tests/wine_prefix.sh" stop "$prefix"' EXIT
echo "== a fresh 32-bit Wine prefix in $prefix"
bash "$tests/wine_prefix.sh" start "$prefix" "$harness" >/dev/null
echo "== the installer: $installer ($(stat -c %s "$installer") bytes)"
wine "$harness/demo_run.exe" "$(winepath -w "$installer")" "$(winepath -w "$skin")"
