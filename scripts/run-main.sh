#!/usr/bin/env bash
# The main job: sets everything up on a fresh Debian machine, builds quillmar.dll, and
# expands the sample package with the real DLL under Wine, the way an install script
# would; then expands it again over a locally edited (newer) file to show that the
# newer file is kept.
#
# On a host that cannot start 32-bit programs they run through qemu's emulator (slow, a
# minute or more a process): the 32-bit DLL still does the job there, on one writing
# thread where the emulator cannot run Wine's threads (the probe below tells); where the
# emulator cannot run it at all, the job falls back to the 64-bit twin quillmar64.dll and
# says so on its first line. QM_MAIN_DLL=64 asks for the twin on any host.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh >/dev/null
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}" QM_WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
emulated=0
bash scripts/wine-emulated.sh && emulated=1
flavour=win32
[ "${QM_MAIN_DLL:-}" = 64 ] && flavour=win64
demo="$root/build/demo"
rm -rf "$demo" && mkdir -p "$demo/target"
log="$demo/setup.log"
quiet() { "$@" >>"$log" 2>&1 || { echo "== FAILED: $* (its output: $log)" >&2; tail -n 20 "$log" >&2; exit 1; }; }
# What the job runs, not the test suites (build.sh FLAVOUR alone builds those too).
job_targets=(quillmar qmscript thread_probe)
quiet bash scripts/build.sh $flavour "${job_targets[@]}"
quiet bash scripts/wine-prefix.sh
pkg="$(bash scripts/make-sample.sh 2>>"$log")"

# One server for the whole job, so that the prefix boots once; ended at the end.
timeout -k 5 60 wineserver -k >/dev/null 2>&1 || true
timeout -k 5 60 wineserver -p </dev/null >/dev/null 2>&1
trap 'timeout -k 5 60 wineserver -k >/dev/null 2>&1 || true' EXIT
limit() { if [ "$flavour" = win32 ] && [ $emulated = 1 ]; then echo 900; else echo 120; fi; }
winpath() { timeout -k 5 120 /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null | tr -d '\r'; }
qmscript() {
  (cd "$root/build/$flavour" && timeout -k 10 "$(limit)" xvfb-run -a -s "-screen 0 1024x768x24" \
     "$root/scripts/wine-run" ./qmscript.exe "$@" 2>&1 < /dev/null | tr -d '\r' |
     { grep -v '^X connection to .* broken' || true; })  # the prefix's desktop, as the display ends
}
show() {
  (cd "$demo/target" && find . -type f -printf '  %TY-%Tm-%Td %TH:%TM  %6s  %P\n' | sort -k4)
}
wpkg="$(winpath "$pkg")"
wtarget="$(winpath "$demo/target")"
dll() { [ "$flavour" = win32 ] && echo quillmar.dll || echo quillmar64.dll; }

# Under the emulator the first expansion is tried before anything is printed, so that the
# first line can say which DLL the job shows: the 32-bit one, on one writing thread where
# the emulator cannot run Wine's threads (the probe, 4 threads handing a token round,
# nothing of the library's, tells), or the twin where the emulator cannot run it at all.
first=""
notes=()
if [ $flavour = win32 ] && [ $emulated = 1 ]; then
  if probe="$(timeout -k 5 600 scripts/wine-run "$root/build/win32/thread_probe.exe" 4 500 2>&1 < /dev/null)"; then
    notes+=("== the emulator ran the thread probe ($probe): the DLL's threads as everywhere")
  else
    export QUILLMAR_THREADS=1
    notes+=("== the emulator did not run the thread probe to its end ($(echo "${probe:-no output}" | head -c 200 | tr '\n' ' ')): QUILLMAR_THREADS=1")
  fi
  started=$SECONDS
  if first="$(qmscript ExpandPackage "$wpkg" "$wtarget")" && echo "$first" | grep -q 'ExpandPackage() = 0'; then
    echo "== this host cannot start 32-bit programs: quillmar.dll runs through qemu's emulator (slow: $((SECONDS - started)) s for one expansion)"
  else
    why="$(echo "$first" | grep -m 1 -E 'qemu: uncaught target signal|partial wakeup read|client error' || true)"
    echo "== FALLBACK to quillmar64.dll, the 64-bit twin: the emulator could not run quillmar.dll's expansion" \
         "(${why:-no result within $(limit) s}; after $((SECONDS - started)) s)"
    first=""
    flavour=win64
    rm -rf "$demo/target" && mkdir -p "$demo/target"
    quiet bash scripts/build.sh win64 "${job_targets[@]}"
  fi
else
  if [ $flavour = win64 ]; then echo "== quillmar64.dll, the 64-bit twin (QM_MAIN_DLL=64), under the 64-bit Wine"
  else echo "== quillmar.dll (i686, mingw-w64) under Wine, in a 64-bit prefix (WoW64)"; fi
fi
for n in "${notes[@]}"; do echo "$n"; done
echo "== package $(basename "$pkg"): $(tar -tf "$pkg" | wc -l) members"
echo "== ExpandPackage(\"$wpkg\", \"$wtarget\") through $(dll)"
if [ -n "$first" ]; then echo "$first"; else qmscript ExpandPackage "$wpkg" "$wtarget"; fi
echo "== files written:"
show

echo "== editing etc/dorva/router/router.tcl locally (its time becomes now, newer than the package)"
echo "# local change" >> "$demo/target/etc/dorva/router/router.tcl"
echo "== ExpandPackage again"
qmscript ExpandPackage "$wpkg" "$wtarget"
show
if grep -q "# local change" "$demo/target/etc/dorva/router/router.tcl"; then
  echo "== the newer router.tcl on disk was kept; the other files were written again"
else
  echo "== UNEXPECTED: the newer file was replaced" >&2
  exit 1
fi
