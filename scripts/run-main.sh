#!/usr/bin/env bash
# The main job: sets everything up on a fresh Debian machine, builds quillmar.dll, and
# expands the sample package with the real DLL under Wine, the way an install script
# would; then expands it again over a locally edited (newer) file to show that the
# newer file is kept.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh >/dev/null
echo "== building quillmar.dll (i686, mingw-w64)"
bash scripts/build.sh win32 >/dev/null
bash scripts/wine-prefix.sh
pkg="$(bash scripts/make-sample.sh)"
bin="$root/build/win32"
demo="$root/build/demo"
rm -rf "$demo" && mkdir -p "$demo/target"
export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
winpath() { WINEDEBUG=-all wine winepath -w "$1" 2>/dev/null | tr -d '\r'; }
qmscript() { (cd "$bin" && xvfb-run -a -s "-screen 0 1024x768x24" "$root/scripts/wine-run" ./qmscript.exe "$@" | tr -d '\r'); }
show() {
  (cd "$demo/target" && find . -type f -printf '  %TY-%Tm-%Td %TH:%TM  %6s  %P\n' | sort -k4)
}

wpkg="$(winpath "$pkg")"
wtarget="$(winpath "$demo/target")"
echo "== package $(basename "$pkg"): $(tar -tf "$pkg" | wc -l) members"
echo "== ExpandPackage(\"$wpkg\", \"$wtarget\") through quillmar.dll"
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
