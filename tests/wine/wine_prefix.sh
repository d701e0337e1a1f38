#!/usr/bin/env bash
# A fresh 32-bit Wine prefix for the end-to-end tests and the demo, under the
# build folder. Making one with wineboot is slow, so a pristine one is made
# once (wine-template beside PREFIX) and copied for each run.
#   wine_prefix.sh start PREFIX HARNESS_DIR   a fresh prefix with the https
#                                             logger registered and one
#                                             wineserver kept running
#   wine_prefix.sh stop PREFIX                end its wineserver
set -euo pipefail
. "$(dirname "$0")/../../scripts/wine-env.sh"

command=$1
export WINEPREFIX=$2 WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

case $command in
start)
  bin=$3
  if ! /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "this machine cannot run 32-bit programs, so 32-bit Wine cannot start: run 'make setup' (as root)" >&2
    exit 1
  fi
  prefix=$WINEPREFIX
  template=$(dirname "$prefix")/wine-template
  if [ ! -f "$template/.prepared" ]; then
    echo "making a pristine 32-bit Wine prefix in $template"
    rm -rf "$template"
    mkdir -p "$template"
    export WINEPREFIX=$template
    timeout 600 wineboot -i >"$template/make.log" 2>&1 </dev/null || { cat "$template/make.log"; exit 1; }
    # No X server: windows and message boxes work with the null driver.
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$template/make.log" 2>&1 </dev/null
    # A crashing program ends with a backtrace on stderr; no crash dialog
    # waits for a click that never comes.
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      >>"$template/make.log" 2>&1 </dev/null
    wineserver -k 2>/dev/null || true
    touch "$template/.prepared"
    export WINEPREFIX=$prefix
  fi
  # Where 32-bit programs run through qemu, Wine's start-up now and then
  # fails or stalls; such a start is made again. Each step has a time limit,
  # so that a stalled one cannot hold up the tests.
  start_once() {
    # Wine's background processes (wineserver, services) outlive this script:
    # they must not hold on to its output, which the test runner waits on.
    wineserver -p >>"$log" 2>&1 </dev/null &&
      handler=$(timeout 120 winepath -w "$bin/url_logger.exe" 2>>"$log" </dev/null) &&
      timeout 120 wine reg add 'HKCR\https\shell\open\command' /ve /d "\"$handler\" \"%1\"" /f \
        >>"$log" 2>&1 </dev/null &&
      # In a fresh prefix the first window can take a while: make one now.
      timeout 180 wine "$bin/installer_e2e.exe" warm_up >>"$log" 2>&1 </dev/null
  }
  for attempt in 1 2 3; do
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
    cp -a "$template" "$prefix"
    log=$prefix/start.log
    if start_once; then
      exit 0
    fi
    echo "attempt $attempt: Wine did not start cleanly:"
    cat "$log"
  done
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  exit 1
  ;;
stop)
  wineserver -k 2>/dev/null || true
  ;;
*)
  echo "usage: $0 start PREFIX TEST_BIN | stop PREFIX" >&2
  exit 2
  ;;
esac
