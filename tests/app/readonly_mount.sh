#!/usr/bin/env bash
# A read-only folder for the window tests: DIR/mnt is DIR/source mounted read-only, holding
# the engine's file names (empty) and a marker that says the mount is in place. Root can
# write any folder whatever its mode, so only a read-only mount refuses root as Windows
# refuses a player. Without the right to mount (not root), nothing is mounted and the tests
# that need it say so and skip.
# usage: readonly_mount.sh start|stop DIR
set -u
action=$1
dir=$2
if mountpoint -q "$dir/mnt" 2>/dev/null; then umount "$dir/mnt" || exit 1; fi
[ "$action" = stop ] && exit 0
rm -rf "$dir"
mkdir -p "$dir/source" "$dir/mnt" || exit 1
touch "$dir/source/aria2c.exe" "$dir/source/aria2.conf" "$dir/source/read-only-mount"
if mount --bind "$dir/source" "$dir/mnt" 2>/dev/null && mount -o remount,bind,ro "$dir/mnt" 2>/dev/null; then
  echo "read-only mount at $dir/mnt"
else
  mountpoint -q "$dir/mnt" && umount "$dir/mnt"
  echo "no read-only mount (mounting needs root): the tests that need one skip"
fi
exit 0
