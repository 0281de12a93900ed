#!/usr/bin/env bash
# Builds the sample package from sample/router deterministically: ustar format, sorted
# names, fixed owner and time, normalised modes. Output: $1 (default build/sample/router.pkg).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
out="${1:-$root/build/sample/router.pkg}"
mkdir -p "$(dirname "$out")"
tar --format=ustar --sort=name --owner=0 --group=0 --numeric-owner \
    --mtime='1998-06-01 12:00:00Z' --mode='u=rwX,go=rX' \
    -C "$root/sample/router" -cf "$out" bin etc
echo "$out"
