#!/usr/bin/env bash
# A real full disk for the tests: a 64 KiB tmpfs, seen by Wine as drive T:.
#   tiny_disk.sh mount PREFIX FOLDER | unmount PREFIX FOLDER
set -euo pipefail

command=$1 prefix=$2 folder=$3

case $command in
mount)
  if [ "$(id -u)" -ne 0 ]; then
    echo "mounting a tmpfs needs root: the disk-full test cannot run here" >&2
    exit 1
  fi
  mkdir -p "$folder"
  mountpoint -q "$folder" || mount -t tmpfs -o size=64k,mode=0755 tmpfs "$folder"
  ln -sfn "$folder" "$prefix/dosdevices/t:"
  ;;
unmount)
  rm -f "$prefix/dosdevices/t:"
  if mountpoint -q "$folder"; then umount "$folder"; fi
  ;;
*)
  echo "usage: $0 mount|unmount PREFIX FOLDER" >&2
  exit 2
  ;;
esac
