# What tests/nsis/run.sh and tests/inno/run.sh share: each builds the same install script
# in miniature with its installer's compiler and runs it under Wine, attended or
# unattended; the script records a "step result error" line per call in out/results.txt.
# Sourced; the caller sets `mode` (attended|unattended) and `src` (the source tree).

passes=0 fails=0 cut=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then
    passes=$((passes + 1))
  elif grep -q -E 'qemu: uncaught target signal|partial wakeup read|^EMULATOR:' <<<"${3:-}"; then
    # The step's own output says the emulator ended it (scripts/wine-test): no failed check.
    cut=$((cut + 1))
    echo "EMULATOR CRASH in \"$1\": ${3:-}"
  else
    fails=$((fails + 1))
    echo "FAILED: $1${3:+: $3}"
  fi
}
# A run the emulator cut short, with no failed check, is skipped (77), never a pass.
finish() {
  echo "$passes passed, $fails failed$([ "$cut" -gt 0 ] && echo ", $cut cut short by the emulator")"
  [ "$fails" -eq 0 ] || exit 1
  [ "$cut" -eq 0 ] || exit 77
  exit 0
}
winpath() { echo "Z:${1//\//\\}"; }

# make_packages WORK: WORK/pkgs holds the sample, one with a member the reader refuses
# (a link), the core package that the list never offers, and two more to choose from.
make_packages() {
  mkdir -p "$1/pkgs" "$1/out" "$1/tree"
  bash "$src/scripts/make-sample.sh" "$1/pkgs/router.pkg" >/dev/null
  echo a > "$1/tree/a.txt" && ln -s a.txt "$1/tree/link"
  tar --format=ustar -C "$1/tree" -cf "$1/pkgs/refused.pkg" a.txt link
  for p in switch.pkg hub.pkg kynms.pkg; do cp "$1/pkgs/router.pkg" "$1/pkgs/$p"; done
}

# run_installer WORK EXE ARGS...: attended, under the caller's display with QUILLMAR_LOG
# set and the mode off at the start (the script turns it on before the steps that would
# ask the user); unattended, with no display at all, QUILLMAR_UNATTENDED=1 and no
# QUILLMAR_LOG, as a deployment tool runs it: the log is the temporary folder's. Each
# run is bounded: 300 s, where it takes seconds natively and under two minutes through an
# emulator.
run_installer() {
  local work="$1" status limit=300
  shift
  export QM_OUT="$(winpath "$work/out")" QM_PACKAGES_DIR="$(winpath "$work/pkgs")"
  unset QUILLMAR_UNATTENDED QUILLMAR_LOG QUILLMAR_SELECT QUILLMAR_PACKAGES
  if [ "$mode" = attended ]; then
    QUILLMAR_LOG="$(winpath "$work/out/quillmar.log")" timeout -k 10 "$limit" "$src/scripts/wine-run" "$@"
  else
    # A Wine desktop made under a display lends its X11 driver to every process that joins
    # it, which then makes no window without one, and under the run's one server the
    # default desktop outlives the tests: the installer runs on a desktop of its own,
    # made without a display (Wine's null driver).
    local desktop="${QM_ON_DESKTOP:-$build/on_desktop.exe}"
    QUILLMAR_UNATTENDED=1 timeout -k 10 "$limit" env -u DISPLAY -u WAYLAND_DISPLAY "$src/scripts/wine-run" \
      "$desktop" QuillmarNoDisplay "$(winpath "$1")" "${@:2}"
  fi
  status=$?
  check "the installer ran to its end" $status "exit status $status"
}

# library_log WORK: the library's log of the run, its line ends as "\n".
library_log() {
  if [ "$mode" = attended ]; then tr -d '\r' < "$1/out/quillmar.log" 2>/dev/null
  else tr -d '\r' < "$1/out/temp-log.txt" 2>/dev/null; fi
}

# check_removed WORK: router.pkg removed from the target after the user changed one of
# its files: that file, its directories and the other package's a.txt stay, the rest is
# gone, and the log says why the file was kept.
check_removed() {
  local t="$1/out/target"
  [ -f "$t/a.txt" ] && grep -q "the user's own line" "$t/etc/dorva/router/router.tcl" && [ ! -e "$t/bin" ] &&
    [ ! -e "$t/etc/dorva/devices" ] && [ ! -e "$t/etc/dorva/router/router.mib" ]
  check "the removal kept the changed file and removed the rest of the package" $? "$(cd "$t" && find . | sort)"
  grep -q 'RemovePackage: kept "etc/dorva/router/router.tcl": other size' <<<"$(library_log "$1")"
  check "the log says why the file was kept" $?
}

# check_run WORK: what the script recorded, what it left on disk, what the library logged.
check_run() {
  local expected results text
  expected="expand 0 0
expand-missing 0 2
reinstall 1 0
first router.pkg 0
copy 1 0"
  [ "$mode" = attended ] && expected="$expected
set-mode 1 0"
  expected="$expected
set-select 1 0
select 1 0
select-first router.pkg 0
select-next switch.pkg 0
select-end  18
expand-refused 0 13
pick 0 1223${after_pick:+
$after_pick}"
  results="$(tr -d '\r' < "$1/out/results.txt" 2>/dev/null)"
  [ "$results" = "$expected" ]
  check "results and last errors" $? "$(printf 'got:\n%s\nexpected:\n%s' "$results" "$expected")"

  [ -f "$1/out/target/a.txt" ] && cmp -s "$src/sample/router/etc/dorva/devices/router.mfs" "$1/out/copy/router.mfs"
  check "the packages were expanded and the manifest copied" $?

  text="$(library_log "$1")"
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
}
