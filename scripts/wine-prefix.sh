#!/usr/bin/env bash
# Prepares the project's own Wine prefix once: 32-bit, booted, and with a virtual
# desktop, so that dialogs and message boxes open and close at once under Xvfb (without
# a window manager Wine waits two seconds for every window it hides).
set -euo pipefail
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
stamp="$WINEPREFIX/.quillmar-ready"
if [ ! -f "$stamp" ]; then
  echo "wine-prefix: creating $WINEPREFIX"
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
  touch "$stamp"
fi
