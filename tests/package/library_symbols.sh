#!/usr/bin/env bash
# libquillmar.so exports what the DLL exports, the names of src/boundary/exports.list, and
# nothing else (none of the core behind them), under the SONAME programs record.
#   library_symbols.sh LIBRARY EXPORTS_LIST
set -u
lib="$1" list="$2"
. "$(dirname "$0")/../common/export_names.sh"
passes=0 fails=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else fails=$((fails + 1)); echo "FAILED: $1${3:+: $3}"; fi
}
expected="$(export_names "$list" | sort)"
[ -n "$expected" ]
check "the list names the exports" $? "$list"
actual="$(nm -D --defined-only "$lib" | awk '{print $NF}' | sort)"
[ "$actual" = "$expected" ]
check "the dynamic symbol table holds exactly the exports" $? "$(diff <(echo "$expected") <(echo "$actual") | grep '^[<>]' | head -20)"
soname="$(readelf -d "$lib" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')"
[ "$soname" = "libquillmar.so.1" ]
check "the SONAME is libquillmar.so.1" $? "$soname"
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
