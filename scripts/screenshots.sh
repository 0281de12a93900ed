#!/usr/bin/env bash
# Pictures of the library's dialogs as the user sees them, taken under Xvfb with the
# Windows build and Wine: the package selection list in both modes and the file-open
# dialog, each over a sample directory, cropped to the dialog.
# Writes docs/list-dialog.png, docs/uninstall-dialog.png and docs/file-open-dialog.png.
# Needs xvfb-run and ImageMagick (import, convert).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"

if [ "${1:-}" != "--inside-display" ]; then
  bash "$root/scripts/build.sh" win32 >/dev/null
  bash "$root/scripts/wine-prefix.sh"
  exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" --inside-display
fi

export WINEPREFIX="${QM_WINEPREFIX:-$HOME/.quillmar-wine}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export QM_WINEPREFIX="$WINEPREFIX"
bin="$root/build/win32"
# A fixed place, so that the pictures (which show it) only change when the dialogs do.
work="${TMPDIR:-/tmp}/quillmar-screenshots"
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
winpath() { local p="${1//\//\\}"; printf 'Z:%s' "$p"; }

sample="$work/packages"
mkdir -p "$sample/firmware"
for f in atm.pkg router.pkg switch-24.pkg hub.pkg kynms.pkg token-ring.pkg readme.txt; do
  echo sample >"$sample/$f"
done
mkdir -p "$root/docs"

# shot MODE OUTPUT: shows one dialog, waits until it is up, takes the picture, closes it.
shot() {
  local mode="$1" out="$2" ready="$work/ready-$1" close="$work/close-$1"
  (cd "$bin" && exec timeout -k 5 120 "$root/scripts/wine-run" show_dialogs.exe "$mode" "$(winpath "$sample")" "$(winpath "$ready")" \
     "$(winpath "$close")") &
  local pid=$!
  for _ in $(seq 1 300); do
    [ -s "$ready" ] && break
    sleep 0.1
  done
  if [ ! -s "$ready" ]; then
    echo "screenshots: the $mode dialog did not come up" >&2
    kill "$pid" 2>/dev/null || true
    return 1
  fi
  local x y w h
  read -r x y w h <"$ready"
  import -window root "$work/screen.png"
  convert "$work/screen.png" -crop "${w}x${h}+${x}+${y}" +repage -strip "$root/docs/$out"
  touch "$close"
  wait "$pid" || true
  echo "screenshots: docs/$out (${w}x${h})"
}

shot list list-dialog.png
shot uninstall uninstall-dialog.png
shot open file-open-dialog.png
