#!/usr/bin/env bash
# Installs what the build and the tests need, when it is missing: CMake and
# GoogleTest for the native build, clang with its sanitizer and libFuzzer
# runtimes, clang-format, clang-tidy and cppcheck for the quality checks,
# mingw-w64 for 32-bit Windows, Wine with its 32-bit part, icoutils for the
# image check, osslsigncode for the signing test. Quick when all is there.
#   setup.sh             what the build and the tests need
#   setup.sh bench       that, and makensis for the comparison with NSIS
#   setup.sh screenshots that, and Xvfb and the X tools the pictures are taken with
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have cmake || need+=(cmake)
have make || need+=(make)
have g++ || need+=(g++)
have python3 || need+=(python3)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
have clang++ || need+=(clang)
compgen -G '/usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' >/dev/null || need+=(libclang-rt-dev)
have clang-format || need+=(clang-format)
have clang-tidy || need+=(clang-tidy)
have cppcheck || need+=(cppcheck)
have i686-w64-mingw32-g++ || need+=(g++-mingw-w64-i686)
have i686-w64-mingw32-windres || need+=(binutils-mingw-w64-i686)
have wrestool || need+=(icoutils)
installed wine || need+=(wine)
installed wine64 || need+=(wine64)
installed wine32:i386 || need+=(wine32:i386)
have osslsigncode || need+=(osslsigncode)
have openssl || need+=(openssl)
for group in "$@"; do
  case $group in
  bench) have makensis || need+=(nsis) ;;
  screenshots)
    have Xvfb || need+=(xvfb)
    have xdotool || need+=(xdotool)
    have xwd || need+=(x11-apps)
    have convert || need+=(imagemagick)
    installed fonts-wine || need+=(fonts-wine)
    ;;
  *) echo "setup: unknown group $group (bench, screenshots)" >&2; exit 2 ;;
  esac
done

if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "setup: missing ${need[*]}; run as root (or: sudo apt-get install ${need[*]})" >&2
    exit 1
  fi
  echo "setup: installing ${need[*]}"
  dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

"$(dirname "$0")/enable-i386.sh"
