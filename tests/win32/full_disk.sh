#!/usr/bin/env bash
# Runs the full-disk tests of the Windows build against a real full disk: mounts a 2 MB
# tmpfs, hands it to the test programs under Wine as QM_FULL_DISK_DIR (a Z: path), and
# runs the RealFullDisk tests of the core and the FullDiskDll tests of the DLL there.
# Exits 77 (skipped), saying why, where this machine refuses the mount.
# Usage: full_disk.sh UNIT_TESTS_EXE DLL_TESTS_EXE
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
wine_run="$here/../../scripts/wine-run"
mnt="$(mktemp -d /tmp/qm-full-disk-XXXXXX)"
if ! err="$(mount -t tmpfs -o size=2m,mode=0777 tmpfs "$mnt" 2>&1)"; then
  rmdir "$mnt"
  echo "full_disk: skipped: cannot mount a 2 MB tmpfs here (${err:-mount refused});" \
       "the injected failures of the FullDisk tests cover the same outcomes"
  exit 77
fi
trap 'cd /; umount -l "$mnt"; rmdir "$mnt"' EXIT
export QM_FULL_DISK_DIR="Z:${mnt//\//\\}"
status=0
limit=$((120 * ${QM_WINE_SCALE:-1}))
timeout -k 10 "$limit" "$wine_run" "$1" --gtest_brief=1 --gtest_filter='RealFullDisk.*' || status=1
(cd "$(dirname "$2")" && timeout -k 10 "$limit" "$wine_run" "$2" --gtest_brief=1 --gtest_filter='FullDiskDll.*') || status=1
exit $status
