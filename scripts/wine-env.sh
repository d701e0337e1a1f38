# Sourced before running Wine. Where 32-bit programs run through qemu (see
# enable-i386.sh), preload the library that stands in for Wine's preloader;
# $LIB picks its i386 or its x86-64 build.
if [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ] && [ -f /usr/local/lib/i386-linux-gnu/wine-qemu-reserve.so ]; then
  export LD_PRELOAD='/usr/local/$LIB/wine-qemu-reserve.so'
fi
