#!/usr/bin/env bash
# Runs a command as a host that cannot start 32-bit programs would: in a user and mount
# namespace of its own, with a binfmt_misc instance of its own (Linux 6.7 and later) in
# which every i386 program goes through qemu's user-mode emulator, as scripts/setup.sh
# arranges on such a host. For reproducing that host's Windows proof on any machine:
#   bash scripts/without-ia32.sh bash scripts/test-all.sh
# The rest of the machine is not affected.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: without-ia32.sh COMMAND [ARGS...]" >&2; exit 2; }
qemu=/usr/bin/qemu-i386-static
[ -x "$qemu" ] || { echo "without-ia32: $qemu is missing (apt-get install qemu-user-static)" >&2; exit 2; }
exec unshare --user --map-root-user --mount bash -c '
  set -e
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
    echo "without-ia32: no binfmt_misc of its own here (Linux 6.7 or later is needed)" >&2; exit 2; }
  printf "%s" ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F" \
    > /proc/sys/fs/binfmt_misc/register
  exec "$@"' without-ia32 "$@"
