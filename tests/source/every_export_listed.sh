#!/usr/bin/env bash
# Every list kept by hand that has a row or a call per export (the tests' tables, the SDK
# client, README's tables) names every export of src/boundary/exports.list, so a new
# export cannot be forgotten in one of them. A list runs from a line holding
# "exports-list:begin" to one holding "exports-list:end"; an export a list leaves out on
# purpose is named inside it on a line holding "exports-list:not NAME... (why)". Each
# file given must hold at least one list. The check also runs once against the list with
# an export added that nothing names, and must then refuse every list.
#   every_export_listed.sh EXPORTS_LIST FILE...
set -u
list="$1"
shift
. "$(dirname "$0")/../common/export_names.sh"
passes=0 fails=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else fails=$((fails + 1)); echo "FAILED: $1${3:+: $3}"; fi
}

# The lists of a file, one a line: the list's number, a tab, its text joined.
lists_of() {
  awk 'BEGIN { n = 0 }
       /exports-list:end/ { inside = 0; n++ }
       inside { gsub(/\t/, " "); text[n] = text[n] " " $0 }
       /exports-list:begin/ { inside = 1 }
       END { for (i = 0; i < n; i++) print i + 1 "\t" text[i] }' "$1"
}

# The exports (names on stdin) that one list's text neither names nor excuses.
missing_from() {
  local text="$1" name excused
  excused="$(echo "$text" | grep -o 'exports-list:not [A-Za-z ]*' | cut -d' ' -f2-)"
  while read -r name; do
    echo "$text" | grep -qw -- "$name" && continue
    echo " $excused " | grep -qw -- "$name" && continue
    echo "$name"
  done
}

names="$(export_names "$list")"
[ -n "$names" ]
check "exports.list names the exports" $? "$list"
added="$(printf '%s\nNoListNamesThisExport' "$names")"
for file in "$@"; do
  what="$(basename "$(dirname "$file")")/$(basename "$file")"
  found="$(lists_of "$file")"
  [ -n "$found" ]
  check "$what holds a list" $? "no exports-list:begin ... exports-list:end in $file"
  while IFS=$'\t' read -r number text; do
    [ -n "$number" ] || continue
    left="$(echo "$names" | missing_from "$text" | tr '\n' ' ')"
    [ -z "$left" ]
    check "$what, list $number, names every export" $? "it leaves out: $left"
    echo "$text" | grep -o 'exports-list:not [A-Za-z ]*' | cut -d' ' -f2- | tr ' ' '\n' | grep . | while read -r n; do
      echo "$names" | grep -qx -- "$n" || echo "FAILED: $what, list $number, excuses $n, which is no export"
    done | grep . && check "$what, list $number, excuses only exports" 1 || true
    echo "$added" | missing_from "$text" | grep -qx NoListNamesThisExport
    check "$what, list $number, is refused when an export is added that it does not name" $?
  done <<< "$found"
done
echo "$passes passed, $fails failed"
[ "$fails" -eq 0 ]
