#!/usr/bin/env bash
# 32-bit Wine needs the machine to run 32-bit (i386) Linux programs. Where the
# kernel has that switched off, they run through qemu's user-mode emulator,
# registered with binfmt_misc, and a small preloaded library stands in for
# Wine's preloader (which Debian does not ship): without it, Wine's start-up
# probes the address space for minutes under qemu. Wine is then run with
# LD_PRELOAD naming it (scripts/wine-env.sh). Nothing is done on a machine that
# runs 32-bit programs itself, and nothing twice.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
binfmt=/proc/sys/fs/binfmt_misc
shim=wine-qemu-reserve.so
shim_dir=/usr/local/lib

kernel_runs_i386() { [ ! -e $binfmt/qemu-i386 ] && /lib/ld-linux.so.2 --help >/dev/null 2>&1; }
runs_i386() { /lib/ld-linux.so.2 --help >/dev/null 2>&1; }

kernel_runs_i386 && exit 0
if runs_i386 && [ -f "$shim_dir/i386-linux-gnu/$shim" ]; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "enable-i386: this machine runs no 32-bit programs; run as root to set up qemu-user for them" >&2
  exit 1
fi

echo "enable-i386: the kernel runs no 32-bit programs: setting up qemu-user for them"
if [ ! -x /usr/bin/qemu-i386-static ] || ! command -v gcc >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends qemu-user-static gcc libc6:i386 >/dev/null
fi
[ -e $binfmt/register ] || mount -t binfmt_misc binfmt_misc $binfmt
if [ ! -e $binfmt/qemu-i386 ]; then
  # ELF, 32-bit, little-endian, executable or shared object, machine i386.
  printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' >$binfmt/register
fi
echo 1 >$binfmt/qemu-i386

# The i386 library does the work; an empty x86-64 twin at the same $LIB path
# keeps 64-bit programs (wineserver) from complaining about LD_PRELOAD.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
gcc -m32 -O2 -fPIC -shared -nostdlib -fno-stack-protector -ffreestanding \
  -o "$tmp/i386.so" "$here/i386/wine-qemu-reserve.c" /lib/i386-linux-gnu/libc.so.6
gcc -O2 -fPIC -shared -nostdlib -o "$tmp/x86_64.so" -x c /dev/null
install -D -m 644 "$tmp/i386.so" "$shim_dir/i386-linux-gnu/$shim"
install -D -m 644 "$tmp/x86_64.so" "$shim_dir/x86_64-linux-gnu/$shim"

runs_i386 || { echo "enable-i386: 32-bit programs still do not run" >&2; exit 1; }
