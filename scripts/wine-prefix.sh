#!/usr/bin/env bash
# Prepares the project's own Wine prefix once: 64-bit, as every Windows machine the DLL
# meets today, booted by the 64-bit loader (wineboot, services, the set-up of wine.inf
# and explorer run natively on every host); the 32-bit DLL and its 32-bit programs run in
# it under WoW64. With a virtual desktop, so that dialogs and message boxes open and
# close at once under Xvfb (without a window manager Wine waits two seconds for every
# window it hides), and without the crash dialog, so that a crash fails a test instead
# of hanging it.
#
# Every wait is bounded (QM_WINE_BOOT_LIMIT seconds, default 600): a boot that has not
# settled by then is ended, and the prefix is used when its registry is complete, or
# reported as a failure that names the step.
set -uo pipefail
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
wine64=/usr/lib/wine/wine64
limit="${QM_WINE_BOOT_LIMIT:-600}"
stamp="$WINEPREFIX/.quillmar-ready-3"

fail() { echo "wine-prefix: $*" >&2; exit 1; }
# settle STEP: waits, within the limit, for the prefix's processes to end.
settle() {
  timeout -k 10 "$limit" wineserver -w && return 0
  echo "wine-prefix: $1 had not settled after ${limit} s: ended (wineserver -k)" >&2
  timeout -k 5 60 wineserver -k 2>/dev/null || true
  return 1
}
# A prefix is usable when both registry views are written and both system folders hold
# their loader's kernel32.
complete() {
  [ -s "$WINEPREFIX/system.reg" ] && [ -s "$WINEPREFIX/user.reg" ] && [ -s "$WINEPREFIX/userdef.reg" ] &&
    grep -q '^#arch=win64' "$WINEPREFIX/system.reg" &&
    grep -q 'Wow6432Node' "$WINEPREFIX/system.reg" &&
    [ -f "$WINEPREFIX/drive_c/windows/system32/kernel32.dll" ] &&
    [ -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]
}
reg_add() { timeout -k 10 "$limit" "$wine64" reg add "$@" /f >/dev/null 2>&1 || fail "reg add $1 $3 failed or hung"; }

if [ ! -f "$stamp" ]; then
  if [ -e "$WINEPREFIX" ]; then
    # An older prefix of ours (32-bit) cannot become a 64-bit one: it is made anew.
    timeout -k 5 60 wineserver -k 2>/dev/null || true
    echo "wine-prefix: $WINEPREFIX is not a finished 64-bit prefix of this version: made anew"
    rm -rf "$WINEPREFIX"
  fi
  echo "wine-prefix: creating $WINEPREFIX (64-bit; boot limit ${limit} s)"
  start=$(date +%s)
  timeout -k 10 "$limit" "$wine64" wineboot -i >/dev/null 2>&1
  status=$?
  [ $status -eq 124 ] || [ $status -eq 137 ] && echo "wine-prefix: wineboot -i ran past ${limit} s: ended" >&2
  settle "the boot"
  complete || fail "the boot left an incomplete prefix (wineboot exit $status); remove $WINEPREFIX and try again"
  reg_add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default
  reg_add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768
  # A crashing test program ends with its backtrace instead of waiting on a crash dialog.
  reg_add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
  # Without a display Wine can make no window at all, and an installer whose wizard is
  # made even when hidden (Inno Setup's, run with /VERYSILENT) fails before its script
  # runs; on Windows a service's invisible station has windows. The null driver, tried
  # when X cannot be opened, gives them here too.
  reg_add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null
  settle "the registry's set-up" || complete || fail "the registry's set-up left an incomplete prefix"
  touch "$stamp"
  echo "wine-prefix: ready in $(( $(date +%s) - start )) s"
fi
