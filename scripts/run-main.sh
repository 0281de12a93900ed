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
if [ $flavour = win32 ] && [ $emulated = 1 ]; then
  echo "== this host cannot start 32-bit programs: quillmar.dll runs through qemu's emulator (slow)"
fi
echo "== building $( [ $flavour = win32 ] && echo "quillmar.dll (i686" || echo "quillmar64.dll (x86_64" ), mingw-w64)"
bash scripts/build.sh $flavour >/dev/null
bash scripts/wine-prefix.sh
pkg="$(bash scripts/make-sample.sh)"
bin="$root/build/$flavour"
demo="$root/build/demo"
rm -rf "$demo" && mkdir -p "$demo/target"

# One server for the whole job, so that the prefix boots once; ended at the end.
timeout -k 5 60 wineserver -k >/dev/null 2>&1 || true
timeout -k 5 60 wineserver -p </dev/null >/dev/null 2>&1
trap 'timeout -k 5 60 wineserver -k >/dev/null 2>&1 || true' EXIT
limit=120
if [ $flavour = win32 ] && [ $emulated = 1 ]; then limit=900; fi
winpath() { timeout -k 5 120 /usr/lib/wine/wine64 winepath -w "$1" 2>/dev/null | tr -d '\r'; }
qmscript() {
  (cd "$bin" && timeout -k 10 "$limit" xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/wine-run" ./qmscript.exe "$@" | tr -d '\r')
}
show() {
  (cd "$demo/target" && find . -type f -printf '  %TY-%Tm-%Td %TH:%TM  %6s  %P\n' | sort -k4)
}

if [ $flavour = win32 ] && [ $emulated = 1 ]; then
  # Whether this emulator runs Wine's own threads (4 threads handing a token round, nothing
  # of the library's): where it does not, the DLL writes on the calling thread alone.
  if probe="$(timeout -k 5 600 scripts/wine-run "$bin/thread_probe.exe" 4 500 2>&1)"; then
    echo "== the emulator ran the thread probe ($probe): the DLL's threads as everywhere"
  else
    export QUILLMAR_THREADS=1
    echo "== the emulator did not run the thread probe to its end (${probe:-no output}): QUILLMAR_THREADS=1"
  fi
fi

wpkg="$(winpath "$pkg")"
wtarget="$(winpath "$demo/target")"
echo "== package $(basename "$pkg"): $(tar -tf "$pkg" | wc -l) members"
echo "== ExpandPackage(\"$wpkg\", \"$wtarget\") through $( [ $flavour = win32 ] && echo quillmar.dll || echo quillmar64.dll )"
qmscript ExpandPackage "$wpkg" "$wtarget"
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
