#!/usr/bin/env bash
# The Wine prefix of the end-to-end tests, kept under the build folder.
#   wine_prefix.sh start PREFIX TEST_BIN   make it (once), register the https
#                                          logger, keep one wineserver running
#   wine_prefix.sh stop PREFIX             end its wineserver
set -euo pipefail

command=$1
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case $command in
start)
  bin=$3
  if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "this machine cannot run 32-bit programs, so 32-bit Wine cannot start: run 'make setup' (as root)" >&2
    exit 1
  fi
  if [ ! -f "$WINEPREFIX/.prepared" ]; then
    echo "making a 32-bit Wine prefix in $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i
    # No X server: windows and message boxes work with the null driver.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null
    wineserver -w
    touch "$WINEPREFIX/.prepared"
  fi
  wineserver -p
  handler=$(winepath -w "$bin/url_logger.exe")
  wine reg add 'HKCR\https\shell\open\command' /ve /d "\"$handler\" \"%1\"" /f >/dev/null
  # In a fresh prefix the first window can take a while: make one now.
  wine "$bin/installer_e2e.exe" warm_up
  ;;
stop)
  wineserver -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start PREFIX TEST_BIN | stop PREFIX" >&2
  exit 2
  ;;
esac
