#!/usr/bin/env bash
# Prepares the project's own Wine prefix once: 32-bit, booted, with a virtual desktop,
# so that dialogs and message boxes open and close at once under Xvfb (without a window
# manager Wine waits two seconds for every window it hides), and without the crash
# dialog, so that a crash fails a test instead of hanging it.
set -euo pipefail
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32  # with wine64 installed beside wine32, a new prefix would be 64-bit
stamp="$WINEPREFIX/.quillmar-ready-2"
if [ ! -f "$stamp" ]; then
  echo "wine-prefix: creating $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  # A crashing test program ends with its backtrace instead of waiting on a crash dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  # A boot that did not complete would leave every test to set the prefix up again.
  [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: $WINEPREFIX was not created" >&2; exit 1; }
  touch "$stamp"
fi
# Without a display Wine can make no window at all, and an installer whose wizard is
# made even when hidden (Inno Setup's, run with /VERYSILENT) fails before its script
# runs; on Windows a service's invisible station has windows. The null driver, tried
# when X cannot be opened, gives them here too.
if [ ! -f "$WINEPREFIX/.quillmar-null-driver" ]; then
  wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11,null /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.quillmar-null-driver"
fi
