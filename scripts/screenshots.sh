#!/usr/bin/env bash
# Pictures of the installer's message boxes, taken from the real installer
# under Wine on a virtual X screen (Xvfb): the skin installed, Orvanta not
# installed, and a failed copy (no skins folder). Each picture is the box's
# own window, title bar included, written as a PNG into OUT_DIR.
#   screenshots.sh WIN32_BUILD_DIR SKIN_FILE OUT_DIR
set -euo pipefail
scripts=$(dirname "$(realpath "$0")")
. "$scripts/wine-env.sh"

if [ $# -ne 3 ]; then
  echo "usage: $0 WIN32_BUILD_DIR SKIN_FILE OUT_DIR" >&2
  exit 2
fi
build=$(realpath "$1")
skin=$(realpath "$2")
mkdir -p "$3"
out=$(realpath "$3")
harness=$build/harness
installer="$build/demo/setup [$(basename "$skin")].exe"
wine_prefix_sh=$scripts/../tests/wine/wine_prefix.sh
prefix=$build/screenshots-prefix
template=$build/wine-template # made by wine_prefix.sh beside the prefixes
work=$build/screenshots
log=$work/wine.log
wine_fonts=/usr/share/wine/fonts

install_dir='C:\Program Files\Orvanta'
target="$install_dir\\ov-skins\\$(basename "$skin")"
unix_install_dir="$prefix/drive_c/Program Files/Orvanta"
unix_target="$unix_install_dir/ov-skins/$(basename "$skin")"
url_log=$prefix/drive_c/screenshots/urls.log

fail() {
  echo "screenshots: $*" >&2
  exit 1
}

# Wine's own fonts (Tahoma for the text, Marlett for the close button) make
# the boxes look as Wine draws them everywhere, whatever fonts the machine has.
# (scripts/setup.sh screenshots installs them.)
[ -f "$wine_fonts/tahoma.ttf" ] && [ -f "$wine_fonts/marlett.ttf" ] ||
  fail "Wine's fonts are missing: run scripts/setup.sh screenshots (or: apt-get install fonts-wine)"

export WINEPREFIX=$prefix WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# Ends the prefix's Wine session, and every Wine process still running in
# the prefix: under qemu a broken start can leave one that the wineserver no
# longer knows.
end_wine() {
  local proc
  wineserver -k 2>/dev/null || true
  for proc in /proc/[0-9]*; do
    case $(readlink "$proc/exe" 2>/dev/null) in
    */qemu-i386* | */wine*) ;;
    *) continue ;;
    esac
    if tr '\0' '\n' 2>/dev/null <"$proc/environ" | grep -qxF "WINEPREFIX=$prefix"; then
      kill -9 "${proc#/proc/}" 2>/dev/null || true
    fi
  done
}
xvfb_pid=
cleanup() {
  end_wine
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

rm -rf "$work"
mkdir -p "$work"

# ---- A virtual screen of fixed size and resolution ----

Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$work/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
  sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
echo "== a virtual X screen on $DISPLAY, 1024x768"

# ---- A Wine session that draws on it ----

# Every Wine program of a run: its output to the log, at most 3 minutes.
winecmd() { timeout 180 wine "$@" >>"$log" 2>&1 </dev/null; }

# The visible top-level window whose title is exactly $1.
window_named() {
  local window
  for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
    if [ "$(xdotool getwindowname "$window" 2>/dev/null)" = "$1" ]; then
      echo "$window"
      return 0
    fi
  done
  return 1
}

# A fresh copy of the pristine prefix that the tests use (Wine's null
# graphics driver) with the driver left at its default, X11, and Wine's fonts
# in its Fonts folder; then one wineserver for the run, the settings, and a
# second window.
start_wine() {
  end_wine
  rm -rf "$prefix"
  cp -a "$template" "$prefix"
  sed -i '/^\[Software\\\\Wine\\\\Drivers\]/,/^$/{/^"Graphics"="null"$/d}' "$prefix/user.reg"
  ! grep -q '^"Graphics"="null"' "$prefix/user.reg" || fail "cannot switch the prefix to Wine's X11 driver"
  cp "$wine_fonts"/* "$prefix/drive_c/windows/Fonts/"
  mkdir -p "$prefix/drive_c/screenshots"
  cp "$harness/url_logger.exe" "$prefix/drive_c/screenshots/"

  wineserver -p >>"$log" 2>&1 </dev/null
  # No window manager runs: Wine draws each window's title bar and frame
  # itself (Decorated=N), as Windows does, and takes the X input focus as the
  # activation of a window (UseTakeFocus=N).
  winecmd reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f || return 1
  winecmd reg add 'HKCU\Software\Wine\X11 Driver' /v UseTakeFocus /d N /f || return 1
  # The web page of the not-installed case goes to a logger, not to a browser.
  winecmd reg add 'HKCR\https\shell\open\command' /ve /d '"C:\screenshots\url_logger.exe" "%1"' /f || return 1

  # A second Wine window, out of the way of the boxes, is where the focus
  # goes and comes back from: a message box activates itself before it
  # becomes the foreground window, so Wine first paints its title bar
  # inactive; once the focus has been away and comes back, Wine paints it
  # active, as Windows shows the box of a program the user has just started.
  wine notepad.exe >>"$log" 2>&1 </dev/null &
  other=
  for _ in $(seq 120); do
    other=$(xdotool search --onlyvisible --classname '^notepad\.exe$' 2>/dev/null | head -n 1) || true
    [ -n "$other" ] && break
    sleep 1
  done
  [ -n "$other" ] || return 1
  xdotool windowsize "$other" 160 90 windowmove "$other" 0 0
}

if [ ! -f "$template/.prepared" ]; then
  timeout 900 bash "$wine_prefix_sh" start "$prefix" "$harness" >"$work/prefix.log" 2>&1 ||
    { cat "$work/prefix.log" >&2; fail "cannot make a Wine prefix"; }
  bash "$wine_prefix_sh" stop "$prefix"
fi
# Under qemu a Wine session now and then hangs at its start: start it again.
started=
for attempt in 1 2 3; do
  if start_wine; then
    started=1
    break
  fi
  echo "attempt $attempt: Wine did not start cleanly"
done
[ -n "$started" ] || { cat "$log" >&2; fail "Wine did not start"; }
echo "== a 32-bit Wine prefix in $prefix (X11 driver, Wine's fonts)"

# The title bar colour of the active window, "R G B" as Wine's registry has it.
active_title=$(sed -n 's/^"ActiveTitle"="\([0-9 ]*\)"$/\1/p' "$prefix/user.reg" | head -n 1)
[ -n "$active_title" ] || fail "no ActiveTitle colour in the prefix"

grab() {
  xwd -silent -id "$1" | convert xwd:- -strip -define png:exclude-chunks=date,time "png:$2"
}

# Title bar of the picture $1 in the active colour (a point above the caption text).
title_is_active() {
  local width pixel
  width=$(identify -format '%w' "$1")
  pixel=$(convert "$1" -crop "1x1+$((width / 2))+4" -colorspace sRGB \
    -format '%[fx:round(255*r)] %[fx:round(255*g)] %[fx:round(255*b)]' info:)
  [ "$pixel" = "$active_title" ]
}

# Runs the installer, waits for its box captioned $2, saves the picture as
# OUT_DIR/$1.png, presses OK and waits for the installer to end with 0.
shoot() {
  local name=$1 caption=$2 box='' installer_pid code=0
  local picture=$work/$1.png previous=$work/$1.previous.png
  timeout 300 wine "$installer" >>"$log" 2>&1 </dev/null &
  installer_pid=$!
  for _ in $(seq 240); do
    box=$(window_named "$caption") && break
    kill -0 "$installer_pid" 2>/dev/null || break
    sleep 0.5
  done
  [ -n "$box" ] || { cat "$log" >&2; fail "no message box captioned \"$caption\""; }
  # Focus away and back until the box is drawn active, then take pictures
  # until two in a row are the same (the box fully painted).
  for _ in $(seq 20); do
    timeout 10 xdotool windowfocus --sync "$other" 2>/dev/null || true
    sleep 0.5
    timeout 10 xdotool windowfocus --sync "$box" 2>/dev/null || true
    sleep 1
    grab "$box" "$picture"
    title_is_active "$picture" && break
  done
  title_is_active "$picture" || fail "the box \"$caption\" is not drawn active"
  for _ in $(seq 20); do
    cp "$picture" "$previous"
    sleep 0.5
    grab "$box" "$picture"
    cmp -s "$picture" "$previous" && break
  done
  cp "$picture" "$out/$name.png"
  echo "message box \"$caption\": $out/$name.png ($(identify -format '%wx%h' "$picture"))"

  timeout 10 xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key --clearmodifiers Return
  for _ in $(seq 120); do
    kill -0 "$installer_pid" 2>/dev/null || break
    sleep 0.5
  done
  kill -0 "$installer_pid" 2>/dev/null && fail "the installer did not end after OK was pressed"
  wait "$installer_pid" || code=$?
  echo "  OK pressed; installer exit code: $code"
  [ "$code" -eq 0 ] || fail "the installer ended with $code"
}

register_host() { winecmd reg add 'HKLM\Software\Orvanta' /v Install_Dir /d "$install_dir" /f; }

echo "== installed: Orvanta in $install_dir, its skins folder there"
rm -rf "$unix_install_dir"
mkdir -p "$unix_install_dir/ov-skins"
register_host
shoot installed "$target"
cmp -s "$skin" "$unix_target" || fail "the skin was not written to $target"
echo "  $target holds the skin, $(stat -c %s "$unix_target") bytes"

echo "== not installed: no HKLM\\Software\\Orvanta"
winecmd reg delete 'HKLM\Software\Orvanta' /f || true
rm -f "$url_log"
shoot not-installed "Skin Install"
for _ in $(seq 60); do
  [ -s "$url_log" ] && break
  sleep 0.5
done
[ -s "$url_log" ] || fail "no web page was opened"
echo "  web page opened: $(head -n 1 "$url_log")"

echo "== copy failed: Orvanta installed in $install_dir, its skins folder missing"
rm -rf "$unix_install_dir"
mkdir -p "$unix_install_dir"
register_host
shoot copy-failed "$target"
[ ! -e "$unix_target" ] || fail "a file was written to $target"
echo "  nothing written"
