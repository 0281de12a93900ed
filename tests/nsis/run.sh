#!/usr/bin/env bash
# Builds tests/nsis/install.nsi with makensis against the built quillmar.dll and the
# quillmar.nsh the build made from the export table, runs it silently under Wine, and
# checks what it recorded.
#   run.sh attended|unattended BUILD_DIR SOURCE_DIR
# attended: under the caller's display (Xvfb), QUILLMAR_LOG set, the mode off at the start
# (the script turns it on before the steps that would ask the user). unattended: no
# display at all, QUILLMAR_UNATTENDED=1 and no QUILLMAR_LOG, as a deployment tool runs it:
# the log is the temporary folder's quillmar.log.
set -u
mode="$1" build="$(cd "$2" && pwd)" src="$(cd "$3" && pwd)"
passes=0 fails=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else fails=$((fails + 1)); echo "FAILED: $1${3:+: $3}"; fi
}
finish() { echo "$passes passed, $fails failed"; [ "$fails" -eq 0 ]; exit $?; }

command -v makensis >/dev/null || { echo "makensis is missing (scripts/setup.sh installs nsis)"; fails=1; finish; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pkgs" "$work/out" "$work/tree"
winpath() { echo "Z:${1//\//\\}"; }

# The packages: the sample, one with a member the reader refuses (a link), the core
# package that the list never offers, and two more to choose from.
bash "$src/scripts/make-sample.sh" "$work/pkgs/router.pkg" >/dev/null
echo a > "$work/tree/a.txt" && ln -s a.txt "$work/tree/link"
tar --format=ustar -C "$work/tree" -cf "$work/pkgs/refused.pkg" a.txt link
for p in switch.pkg hub.pkg kynms.pkg; do cp "$work/pkgs/router.pkg" "$work/pkgs/$p"; done

makensis -V2 -DQM_DLL="$build/quillmar.dll" -DQM_INCLUDE="$build/generated/include" \
  -DQM_OUTFILE="$work/install.exe" "$src/tests/nsis/install.nsi" > "$work/makensis.txt" 2>&1
check "makensis builds the installer" $? "$(tail -5 "$work/makensis.txt")"
[ -f "$work/install.exe" ] || finish

export QM_OUT="$(winpath "$work/out")" QM_PACKAGES_DIR="$(winpath "$work/pkgs")"
unset QUILLMAR_UNATTENDED QUILLMAR_LOG QUILLMAR_SELECT QUILLMAR_PACKAGES
if [ "$mode" = attended ]; then
  export QUILLMAR_LOG="$(winpath "$work/out/quillmar.log")"
  timeout 900 "$src/scripts/wine-run" "$work/install.exe" /S
else
  export QUILLMAR_UNATTENDED=1
  timeout 900 env -u DISPLAY -u WAYLAND_DISPLAY "$src/scripts/wine-run" "$work/install.exe" /S
fi
check "the installer ran to its end" $? "exit status $?"

results="$(tr -d '\r' < "$work/out/results.txt" 2>/dev/null)"
expected="expand 0 0
expand-missing 0 2
reinstall 1 0
first router.pkg 0"
[ "$mode" = attended ] && expected="$expected
set-mode 1 0"
expected="$expected
select 1 0
select-first router.pkg 0
select-next switch.pkg 0
select-end  18
expand-refused 0 13
pick 0 1223"
[ "$results" = "$expected" ]
check "results and last errors" $? "$(printf 'got:\n%s\nexpected:\n%s' "$results" "$expected")"

[ -f "$work/out/target/etc/dorva/devices/router.mfs" ] && [ -f "$work/out/target/a.txt" ]
check "the packages were expanded" $?

if [ "$mode" = attended ]; then log="$work/out/quillmar.log"; else log="$work/out/temp-log.txt"; fi
text="$(tr -d '\r' < "$log" 2>/dev/null)"
grep -q 'ExpandPackage: expanded ".*router.pkg": 9 written, 0 kept (newer on disk), 0 refused or failed; ended at the end-of-archive block' <<<"$text"
check "the log has the expansion's summary" $? "$text"
grep -q 'ExpandPackage: package ".*optional.pkg" not loaded, nothing installed' <<<"$text"
check "the log names the missing package" $?
grep -q 'ExpandPackage: not shown (unattended) "Error" box: WARNING:".*refused.pkg" has invalid file type' <<<"$text"
check "the box went to the log" $?
grep -q 'list dialog answered OK by QUILLMAR_SELECT: 2 of 4 item(s): router.pkg;switch.pkg' <<<"$text" &&
  grep -q 'QUILLMAR_SELECT names 1 item(s) the list dialog does not offer, ignored: "none.pkg"' <<<"$text"
check "the scripted answer is in the log" $?
if [ "$mode" = attended ]; then
  grep -q 'ExpandPackage(".*router.pkg", ".*target") = 0, last error 0$' <<<"$text"
  check "the calls before the script turned the mode on were attended" $?
else
  [ "$(grep -c ' = .*, last error [0-9]*$' <<<"$text")" -eq 0 ]
  check "every call ran unattended" $?
fi
finish
