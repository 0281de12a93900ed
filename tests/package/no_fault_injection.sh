#!/usr/bin/env bash
# What ships carries no fault injection: no symbol of qm::plat::fault (its state, arm,
# set_hook, check) in the library or the tool, only in the tests' own core.
#   no_fault_injection.sh NM BINARY...
set -u
nm="$1"
shift
passes=0 fails=0
for binary in "$@"; do
  found="$("$nm" -C "$binary" | grep 'qm::plat::fault::' | head -5)"
  if [ -z "$found" ] && "$nm" "$binary" >/dev/null; then
    passes=$((passes + 1))
  else
    fails=$((fails + 1)); echo "FAILED: $(basename "$binary") carries fault injection: $found"
  fi
done
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
