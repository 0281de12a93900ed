#!/usr/bin/env bash
# Exit status 0 when Wine's 32-bit programs run through qemu's emulator on this host
# (setup.sh registers it where the kernel cannot start them), 1 when they run natively.
entry=/proc/sys/fs/binfmt_misc/qemu-i386
[ -r "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ]
