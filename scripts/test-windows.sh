#!/usr/bin/env bash
# The Windows part of the tests (scripts/test-all.sh runs it under one display): the
# 64-bit twin quillmar64.dll and the 32-bit quillmar.dll, both built, under Wine in the
# project's 64-bit prefix (scripts/wine-prefix.sh), with one wineserver for the whole part
# so that the prefix boots once. Every step is bounded.
#
# The twin's every test runs natively on every host. The 32-bit DLL's run natively where
# the host starts 32-bit programs; where it cannot (they go through qemu's emulator,
# scripts/setup.sh), what fits the emulated budget runs: the ABI checks and both real
# installers (labels abi and installer), and scripts/wine-test reports a crash of the
# emulator itself as such. Exit status: 0 when nothing failed.
set -uo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}" QM_WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
export WINEDEBUG=-all
status=0
elapsed() { echo $(( $(date +%s) - $1 )); }

# A server of an earlier run goes; this part's stays until the end (wineserver -p), and
# the prefix's services start once, with nothing of a test's attached to them.
timeout -k 5 60 wineserver -k >/dev/null 2>&1
timeout -k 5 60 wineserver -p </dev/null >/dev/null 2>&1 || { echo "test-windows: wineserver did not start" >&2; exit 1; }
trap 'timeout -k 5 60 wineserver -k >/dev/null 2>&1' EXIT
start=$(date +%s)
if ! timeout -k 10 300 /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1; then
  echo "test-windows: the prefix's boot did not end within 300 s (ended)" >&2
  exit 1
fi
echo "(the prefix booted in $(elapsed "$start") s; one server for the whole Windows part)"

echo "== quillmar64.dll, the 64-bit twin: every Windows test, natively under the 64-bit Wine"
start=$(date +%s)
ctest --test-dir build/win64 --output-on-failure || status=1
echo "(the twin's tests took $(elapsed "$start") s)"

if bash scripts/wine-emulated.sh; then
  set=(-L 'abi|installer')
  echo "== quillmar.dll, 32-bit under WoW64: this host cannot start 32-bit programs, so qemu's"
  echo "   emulator runs them, a minute or more a process. The set that runs here: the ABI checks"
  echo "   (dll_abi.wine: names, ordinals, stack cleanup, version; sdk_client.wine: the header and"
  echo "   the import library's Name@N) and both real installers (nsis.*, inno.*); every other"
  echo "   check of the DLL ran against the twin above and runs on hosts that start 32-bit programs."
  # Multi-threaded 32-bit programs are what this emulator cannot always run (docs/design.md):
  # a probe of nothing but Wine's own threads tells, and then the DLL writes on one thread.
  if ! probe="$(timeout -k 5 600 scripts/wine-run build/win32/thread_probe.exe 4 2000 2>&1)"; then
    export QUILLMAR_THREADS=1
    echo "   The thread probe (4 threads handing a token round, nothing of the library's) did not"
    echo "   finish under this emulator (${probe:-no output}): the 32-bit set runs with QUILLMAR_THREADS=1."
  else
    echo "   The thread probe ran under this emulator ($probe): the DLL's own threads run as everywhere."
  fi
else
  set=()
  echo "== quillmar.dll, 32-bit under WoW64: every Windows test"
fi
start=$(date +%s)
ctest --test-dir build/win32 --output-on-failure "${set[@]}" || status=1
echo "(the 32-bit DLL's tests took $(elapsed "$start") s)"
exit $status
