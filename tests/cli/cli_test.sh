#!/usr/bin/env bash
# The command-line tool over the sample package: what it writes, and its exit status
# (0 done, 1 the library reported a failure, 2 bad usage).
set -u
cli="$1"; pkg="$2"
work="$(mktemp -d)"; trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fails=0; passes=0
check() { if eval "$2"; then passes=$((passes+1)); else echo "FAILED: $1"; fails=$((fails+1)); fi; }

cd "$work"
mkdir out
"$cli" expand "$pkg" out; rc=$?
check "expand exits 0" '[ $rc -eq 0 ]'
check "manifest written" '[ -f out/etc/dorva/devices/router.mfs ]'
check "data byte-identical to the package member" 'tar -xOf "$pkg" bin/router.dat | cmp -s - out/bin/router.dat'

echo local >> out/bin/router.dat
"$cli" expand "$pkg" out; rc=$?
check "newer file kept, still exit 0" '[ $rc -eq 0 ] && grep -q local out/bin/router.dat'

mkdir bad && mkdir bad/etc && : > bad/etc/dorva
err="$("$cli" expand "$pkg" bad 2>&1 >/dev/null)"; rc=$?
check "failure exits 1" '[ $rc -eq 1 ]'
check "failure text on stderr" '[ "$err" = "ERROR: name collision. \"etc/dorva/\" on disk is a file. Name in archive is a directory." ]'

"$cli" expand "$pkg" no-such-dir 2>/dev/null; rc=$?
check "missing target is a usage error" '[ $rc -eq 2 ]'
"$cli" expand 2>/dev/null; rc=$?
check "missing arguments is a usage error" '[ $rc -eq 2 ]'
"$cli" frobnicate 2>/dev/null; rc=$?
check "unknown command is a usage error" '[ $rc -eq 2 ]'

mkdir m
"$cli" manifest "$pkg" m; rc=$?
check "manifest only" '[ $rc -eq 0 ] && [ -f m/etc/dorva/devices/router.mfs ] && [ ! -e m/bin ]'

out="$("$cli" call GetReInstallPackageList out -- GetFirstFile -- GetNextFile -- ClearPackageList -- GetFirstFile)"; rc=$?
check "call keeps the list between calls" '[ $rc -eq 0 ] && [ "$out" = "GetReInstallPackageList(\"out\") = 1
GetFirstFile() = \"router.pkg\"
GetNextFile() = NULL
ClearPackageList() = 0
GetFirstFile() = NULL" ]'
"$cli" call NoSuchExport >/dev/null 2>&1; rc=$?
check "call of an unknown export is a usage error" '[ $rc -eq 2 ]'
"$cli" call ExpandPackage onlyone >/dev/null 2>&1; rc=$?
check "call with the wrong argument count is a usage error" '[ $rc -eq 2 ]'

"$cli" check "$pkg" >/dev/null; rc=$?
check "check of the sample package is clean" '[ $rc -eq 0 ]'
cp "$pkg" other.pkg
"$cli" check other.pkg >/dev/null; rc=$?
check "check finds the manifest not named after the package" '[ $rc -eq 1 ]'
printf 'short' > tiny.pkg
"$cli" check tiny.pkg >/dev/null 2>&1; rc=$?
check "check of an unreadable package exits 2" '[ $rc -eq 2 ]'
check "list matches tar's member names" '[ "$("$cli" list "$pkg" | awk "{print \$NF}")" = "$(tar -tf "$pkg")" ]'

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
