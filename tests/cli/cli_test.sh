#!/usr/bin/env bash
# The command-line tool over the sample package: what it writes, and its exit status
# (0 done, 1 the library reported a failure, 2 bad usage).
set -u
cli="$1"; pkg="$2"; sanitized="${3:-0}"; version="${4:-}"
work="$(mktemp -d)"; trap 'chmod -R u+w "$work"; rm -rf "$work"' EXIT
fails=0; passes=0
check() { if eval "$2"; then passes=$((passes+1)); else echo "FAILED: $1"; fails=$((fails+1)); fi; }

# The tool runs without a terminal here, so unattended: its log stays in the work folder.
export QUILLMAR_LOG="$work/quillmar.log"
unset QUILLMAR_UNATTENDED QUILLMAR_SELECT QUILLMAR_PACKAGES

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

# The tool's own flags: ARGS | exit status | what stdout begins with | what stderr holds.
while IFS='|' read -r args want_rc want_out want_err; do
  out="$("$cli" $args 2>err.txt)"; rc=$?
  check "quillmar $args" '[ $rc -eq $want_rc ] && [ "${out#"$want_out"}" != "$out" -o -z "$want_out$out" ] &&
    { [ -z "$want_err" ] && [ ! -s err.txt ] || grep -qF "$want_err" err.txt; }'
done <<ROWS
--version|0|quillmar $version|
-V|0|quillmar $version|
help|0|usage: quillmar COMMAND [ARGS]|
help expand|0|usage: quillmar expand PACKAGE DIR|
-h|0|usage: quillmar COMMAND [ARGS]|
help frobnicate|2||quillmar: unknown command 'frobnicate'
help expand list|2||usage: quillmar help [COMMAND]
--frobnicate|2||quillmar: unknown option '--frobnicate'
-x|2||usage: quillmar COMMAND [ARGS]
ROWS
check "help COMMAND says what COMMAND --help says" '[ "$("$cli" help plan)" = "$("$cli" plan --help)" ]'

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

mkdir choose && cp "$pkg" choose/Router.pkg && cp "$pkg" choose/switch.pkg
out="$(QUILLMAR_SELECT="router.PKG;none.pkg" "$cli" select choose)"; rc=$?
check "select without a terminal answers from QUILLMAR_SELECT" '[ $rc -eq 0 ] && [ "$out" = "Router.pkg" ]'
"$cli" select choose >/dev/null; rc=$?
check "select without an answer is cancelled (exit 3)" '[ $rc -eq 3 ]'
out="$(QUILLMAR_SELECT=" all " "$cli" select choose)" && QUILLMAR_PACKAGES="$pkg" "$cli" pick >/dev/null; rc=$?
check "\" all \" selects all; a successful select or pick leaves last error 0" '[ $rc -eq 0 ] && [ "$out" = "Router.pkg
switch.pkg" ] && [ $(grep -Ec "quillmar\(\"(select choose|pick)\"\) = 0, last error 0 \[unattended\]$" quillmar.log) -eq 3 ]'
check "the log has each command, unattended, and the box texts reported" 'grep -q "pid [0-9]* quillmar(\"select choose\") = 3, last error 1223 \[unattended\]$" quillmar.log &&
  grep -q "quillmar: reported: ERROR: name collision" quillmar.log'

"$cli" check "$pkg" >/dev/null; rc=$?
check "check of the sample package is clean" '[ $rc -eq 0 ]'
cp "$pkg" other.pkg
"$cli" check other.pkg >/dev/null; rc=$?
check "check finds the manifest not named after the package" '[ $rc -eq 1 ]'
printf 'short' > tiny.pkg
"$cli" check tiny.pkg >/dev/null 2>&1; rc=$?
check "check of an unreadable package exits 1" '[ $rc -eq 1 ]'
check "list matches tar's member names" '[ "$("$cli" list "$pkg" | awk "{print \$NF}")" = "$(tar -tf "$pkg")" ]'

# A package that cannot be loaded installs nothing; the tool names it (exit 1), and
# never waits on a FIFO.
mkfifo fifo.pkg; mkdir dir.pkg
for p in absent.pkg dir.pkg fifo.pkg tiny.pkg; do
  for c in expand manifest; do
    err="$(timeout 20 "$cli" $c $p out 2>&1 >/dev/null)"; rc=$?
    check "$c of $p exits 1 naming it" '[ $rc -eq 1 ] && [ "${err#quillmar: $p cannot be loaded: }" != "$err" ]'
  done
  err="$(timeout 20 "$cli" list $p 2>&1 >/dev/null)"; rc=$?
  check "list of $p exits 1 naming it" '[ $rc -eq 1 ] && [ "${err#quillmar: $p cannot be loaded: }" != "$err" ]'
  err="$(timeout 20 "$cli" check $p 2>&1 >/dev/null)"; rc=$?
  check "check of $p exits 1 naming it" '[ $rc -eq 1 ] && [ "${err#quillmar: $p cannot be loaded: }" != "$err" ]'
done
err="$("$cli" expand absent.pkg out 2>&1)"
check "a missing package is named with the reason" '[ "$err" = "quillmar: absent.pkg cannot be loaded: open:\"$work/absent.pkg\" failed:(2) No such file or directory" ]'

# 2 GiB or more is more than the reader takes, whatever memory there is: said as that,
# not as a want of memory, and with its own last error (ERROR_FILE_TOO_LARGE).
truncate -s 2G huge.pkg
err="$("$cli" expand huge.pkg out 2>&1 >/dev/null)"; rc=$?
check "a package of 2 GiB is shown as too large for the reader, with its size" '[ $rc -eq 1 ] && [ "$err" = "ERROR: package \"$work/huge.pkg\" is too large (2147483648 bytes; at most 2147483647). Package not expanded." ] &&
  grep -q "quillmar(\"expand huge.pkg out\") = 1, last error 223 " quillmar.log'
rm -f huge.pkg

# Too large for the memory the process may have: shown as well.
# (AddressSanitizer reserves more address space than any such limit allows.)
if [ "$sanitized" != 1 ]; then
  truncate -s 1G big.pkg
  err="$(ulimit -v 400000; "$cli" expand big.pkg out 2>&1 >/dev/null)"; rc=$?
  check "a package too large for memory is shown with its size" '[ $rc -eq 1 ] && [ "$err" = "ERROR: out of memory for package \"$work/big.pkg\" (1073741824 bytes). Package not expanded." ]'
  rm -f big.pkg
fi

# The author's tools: pack, plan, verify.
mkdir tree && tar -xf "$pkg" -C tree
"$cli" pack tree router.pkg --mtime 2026-01-01 >pack.txt; rc=$?
check "pack of the sample tree is clean" '[ $rc -eq 0 ] && grep -q "no findings" pack.txt'
check "pack gives the tree's members to GNU tar" '[ "$(tar -tf router.pkg)" = "$(tar -tf "$pkg")" ]'
check "--mtime dates every member" '[ "$(TZ=UTC tar -tvf router.pkg | awk "{print \$4}" | sort -u)" = "2026-01-01" ]'
SOURCE_DATE_EPOCH=1700000000 "$cli" pack tree again.pkg >/dev/null
check "SOURCE_DATE_EPOCH dates them when --mtime is not given" '[ "$(TZ=UTC tar -tvf again.pkg | awk "{print \$4}" | sort -u)" = "2023-11-14" ]'
SOURCE_DATE_EPOCH=1700000000 "$cli" pack tree router2.pkg --mtime 2026-01-01 >/dev/null; rc=$?
check "--mtime wins, and the same tree packs to the same bytes (a finding: exit 1)" '[ $rc -eq 1 ] && cmp -s router.pkg router2.pkg'
ln -s bin tree/linked
"$cli" pack tree linked.pkg 2>err.txt; rc=$?
check "a link in the tree: nothing written, exit 2, the link named" '[ $rc -eq 2 ] && [ ! -e linked.pkg ] && grep -q "^quillmar: linked: a link" err.txt'
rm tree/linked
"$cli" pack tree tree/inside.pkg 2>/dev/null; rc=$?
check "a package inside its own tree is refused" '[ $rc -eq 2 ] && [ ! -e tree/inside.pkg ]'

mkdir inst
"$cli" plan router.pkg inst --json >plan.json; rc=$?
check "plan of a fresh install: exit 0, one JSON object per member" '[ $rc -eq 0 ] && [ $(wc -l <plan.json) -eq $(tar -tf router.pkg | wc -l) ] && head -1 plan.json | grep -q "^{\"member\":\"bin/\",\"action\":\"directory\",\"reason\":\"new directory\"}$"'
"$cli" expand router.pkg inst
"$cli" verify router.pkg inst >/dev/null; rc=$?
check "verify after the expansion: exit 0" '[ $rc -eq 0 ]'
echo local >> inst/bin/router.dat
"$cli" plan router.pkg inst >plan.txt; rc=$?
check "plan after a local edit keeps the newer file" '[ $rc -eq 0 ] && grep -Eq "^  keep-newer +bin/router.dat +the file on disk is newer" plan.txt'
"$cli" verify router.pkg inst --json >verify.json; rc=$?
check "verify names the local edit (exit 1)" '[ $rc -eq 1 ] && grep -q "\"member\":\"bin/router.dat\",\"status\":\"kept-newer\"" verify.json'
"$cli" verify tiny.pkg inst >/dev/null 2>&1; rc=$?
check "verify of an unreadable package exits 2" '[ $rc -eq 2 ]'
: > inst/etc/dorva/devices/blocker; rm -rf inst/etc/dorva/router; : > inst/etc/dorva/router
"$cli" plan router.pkg inst >/dev/null; rc=$?
check "plan of an expansion that would stop: exit 1" '[ $rc -eq 1 ]'

# remove, and plan --remove, of an install the user edited one file of.
mkdir rm && "$cli" expand router.pkg rm && echo local >> rm/bin/router.dat
"$cli" plan --remove router.pkg rm --json >rplan.json; rc=$?
check "plan --remove of an edited install: exit 1, the edit kept, one row per file and directory" '[ $rc -eq 1 ] &&
  [ $(wc -l <rplan.json) -eq $(tar -tf router.pkg | wc -l) ] && grep -q "^{\"member\":\"bin/router.dat\",\"action\":\"keep-changed\"" rplan.json'
"$cli" remove router.pkg rm >removed.txt; rc=$?
check "remove lists what it keeps (exit 0); the rest goes" '[ $rc -eq 0 ] && grep -Eq "^  keep-changed +bin/router.dat +other size" removed.txt &&
  grep -q "1 of its files kept" removed.txt && [ ! -e rm/etc ] && grep -q local rm/bin/router.dat'
"$cli" remove absent.pkg rm 2>/dev/null; rc=$?
check "remove of a package that cannot be loaded exits 1" '[ $rc -eq 1 ]'
"$cli" remove router.pkg no-such-dir 2>/dev/null; rc=$?
check "remove from a missing target is a usage error" '[ $rc -eq 2 ]'

# A log the tool must not write through, or too long to use (the default log instead): said once on stderr.
echo secret > private; ln -s private link.log; mkdir tmp
err="$(QUILLMAR_LOG=link.log "$cli" list "$pkg" 2>&1 >/dev/null; QUILLMAR_LOG="$(printf 'l%.0s' $(seq 1100))" TMPDIR="$work/tmp" "$cli" list "$pkg" 2>&1 >/dev/null)"; rc=$?
check "a refused log leaves the command its outcome" '[ $rc -eq 0 ] && [ "$(cat private)" = secret ] && grep -q "QUILLMAR_LOG is longer than the 1023" tmp/quillmar.log &&
  [ "$err" = "quillmar: the log \"link.log\" is refused (a link): nothing is written to it
quillmar: QUILLMAR_LOG is longer than the 1023 characters a log'"'"'s path may have: not used" ]'

# Names from another machine's code page, a byte no character stands for, a control byte.
python3 - <<'PY'
import tarfile, io
with tarfile.open("foreign.pkg", "w", format=tarfile.USTAR_FORMAT, encoding="latin-1") as t:
    for name in ["caf\xe9", "\xff", "x\x81", "ctl\x1b[2Jx"]:
        t.addfile(tarfile.TarInfo(name), io.BytesIO(b""))
PY
mkdir foreign
decoded() { python3 -c 'import json,sys; print("|".join(json.dumps(o["member"])[1:-1] + "=" + o.get("member_bytes", "") for o in map(json.loads, sys.stdin)))'; }
check "plan --json decodes names from Windows-1252, with the bytes where they differ" '[ "$("$cli" plan foreign.pkg foreign --json | decoded)" = "caf\u00e9=636166e9|\u00ff=ff|x\ufffd=7881|ctl\u001b[2Jx=" ]'
check "--codepage 437 and utf-8 decode as they say (a byte without a character: U+FFFD)" '[ "$("$cli" plan foreign.pkg foreign --codepage 437 --json | decoded)" = "caf\u0398=636166e9|\u00a0=ff|x\u00fc=7881|ctl\u001b[2Jx=" ] && [ "$("$cli" verify foreign.pkg foreign --json --codepage utf-8 | decoded)" = "caf\ufffd=636166e9|\ufffd=ff|x\ufffd=7881|ctl\u001b[2Jx=" ]'
"$cli" plan foreign.pkg foreign --codepage 1250 --json >/dev/null 2>&1; rc=$?
check "an unknown code page is a usage error" '[ $rc -eq 2 ]'
# On a terminal a name's control bytes are shown, not obeyed; into a file they stay as they are.
check "check shows control bytes as <XX> on a terminal" 'script -qec "\"$cli\" check foreign.pkg" /dev/null | grep -q "ctl<1B>\[2Jx"'
check "and writes them as they are elsewhere" '"$cli" check foreign.pkg | grep -q "$(printf "ctl\033\\[2Jx")"'
# pack: an impossible date, and names Windows would merge.
"$cli" pack tree feb31.pkg --mtime 2026-02-31 2>/dev/null; rc=$?
check "pack --mtime refuses a date the calendar lacks (exit 2, nothing written)" '[ $rc -eq 2 ] && [ ! -e feb31.pkg ]'
mkdir -p cased/Docs && : > cased/Readme && : > cased/README && : > cased/Docs/notes.
"$cli" pack cased cased.pkg >cased.txt; rc=$?
check "pack writes names Windows would merge, with findings (exit 1)" '[ $rc -eq 1 ] && grep -q "\"README\" and \"Readme\" differ only in letter case" cased.txt && grep -q "\"notes.\" ends in a dot or a space" cased.txt'

echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
