#!/bin/bash
# Runs the tests of a full folder with a 64 KiB tmpfs (KOU3_FULL_FOLDER), one after the other:
# as the host folder, then as the temporary folder. Mounting needs root; without it, or where no
# tmpfs can be mounted, the tests are skipped (exit 77). The tmpfs is unmounted on every way out.
# Usage: full_host_folder.sh E2E_TESTS_EXE
set -u
tests=$1
if [ "$(id -u)" != 0 ]; then
  echo "skipped: mounting a tmpfs needs root"
  exit 77
fi
mountpoint=$(mktemp -d /tmp/kou3-full-host.XXXXXX) || exit 1
if ! mount -t tmpfs -o size=64k tmpfs "$mountpoint" 2>/dev/null; then
  rmdir "$mountpoint"
  echo "skipped: no tmpfs can be mounted here"
  exit 77
fi
cleanup() {
  umount "$mountpoint" 2>/dev/null || umount -l "$mountpoint"
  rmdir "$mountpoint"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
KOU3_FULL_FOLDER="Z:$(printf '%s' "$mountpoint" | tr / '\\')" \
  "$(dirname "$0")/../../tools/wine-run" "$tests" \
  --gtest_filter='FileFaults.AFullHostFolderKeepsTheOldSetupExe:FileFaults.AWorkFolderThatRunsOutOfRoomReachesNoInstaller' \
  </dev/null
