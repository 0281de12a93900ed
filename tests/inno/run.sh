#!/usr/bin/env bash
# Compiles tests/inno/install.iss with Inno Setup's ISCC under Wine, beside the built
# quillmar.dll and the quillmar.iss the build made from the export table as an installer
# author has them, runs it under Wine and checks what it recorded
# (tests/common/installer_test.sh), then its uninstaller: attended /SILENT under the
# display (the progress window shows), unattended /VERYSILENT /SUPPRESSMSGBOXES with
# none. Both with /LOG. The uninstaller removes the sample package the script expanded.
#   run.sh attended|unattended BUILD_DIR SOURCE_DIR
# Exit 77 (skipped) where the compiler is not installed.
set -u
mode="$1" build="$(cd "$2" && pwd)" src="$(cd "$3" && pwd)"
. "$src/tests/common/installer_test.sh"
iscc="${QM_ISCC:-/opt/quillmar/innosetup-6.4.1/node_modules/innosetup/bin/ISCC.exe}"

[ -f "$iscc" ] || { echo "SKIPPED: no Inno Setup compiler at $iscc (scripts/setup.sh installs it with npm)"; exit 77; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
make_packages "$work"
mkdir "$work/script"
cp "$src/tests/inno/install.iss" "$build/generated/include/quillmar.iss" "$build/quillmar.dll" "$work/script/"
# Compiled once for both modes (the installer reads where it installs from the environment):
# a second run takes the first one's installer, or, under the emulator, its failure.
key="$(cat "$work/script/"* | sha256sum | cut -c1-16)"
compiled_dir="$build/inno-compiled/$key"
emulated=0
bash "$src/scripts/wine-emulated.sh" && emulated=1
if [ -f "$compiled_dir/install.exe" ]; then
  cp "$compiled_dir/install.exe" "$work/script/" && compiled=0
  echo "compiled by an earlier run: $compiled_dir" > "$work/iscc.txt"
elif [ -f "$compiled_dir/failed.txt" ]; then
  cp "$compiled_dir/failed.txt" "$work/iscc.txt"
  compiled=1
else
  timeout -k 10 300 "$src/scripts/wine-run" "$iscc" /Q "$(winpath "$work/script/install.iss")" > "$work/iscc.txt" 2>&1
  compiled=$?
  # ISCC (a threaded 32-bit program, in seconds natively) has never compiled under qemu's
  # emulator here: it crashes, at times silently, or hangs. Ended by a signal or by the
  # bound there, it was the emulator's end (a compile error exits with 1 or 2, and says so).
  if [ $emulated = 1 ] && [ $compiled -ge 124 ]; then
    echo "EMULATOR: ISCC ended under qemu's emulator (exit $compiled: a signal, or past 300 s)" >> "$work/iscc.txt"
  fi
  mkdir -p "$compiled_dir"
  if [ $compiled -eq 0 ] && [ -f "$work/script/install.exe" ]; then
    cp "$work/script/install.exe" "$compiled_dir/"
  elif [ $emulated = 1 ]; then
    tail -5 "$work/iscc.txt" > "$compiled_dir/failed.txt"
  fi
fi
check "ISCC compiles the installer" $compiled "$(tail -5 "$work/iscc.txt")"
# A compiler that did not end well may have left an installer cut short: never run it.
[ $compiled -eq 0 ] && [ -f "$work/script/install.exe" ] || finish

switches=(/SILENT)
[ "$mode" = unattended ] && switches=(/VERYSILENT /SUPPRESSMSGBOXES)
export QM_APP="$(winpath "$work/app")"
run_installer "$work" "$work/script/install.exe" "${switches[@]}" "/LOG=$(winpath "$work/out/setup.log")"
check_run "$work"
grep -q "quillmar test: pick 0 1223" "$work/out/setup.log" 2>/dev/null
check "Setup's log has the script's lines" $? "$(tail -5 "$work/out/setup.log" 2>/dev/null)"

# The uninstaller calls the DLL Setup installed, unloads it and removes it with the rest.
run_installer "$work" "$work/app/unins000.exe" "${switches[@]}" "/LOG=$(winpath "$work/out/uninstall.log")"
[ "$(tail -2 "$work/out/results.txt" | tr -d '\r')" = "uninstall-reinstall 1 0
uninstall-remove 1 0" ] && [ ! -e "$work/app/quillmar.dll" ]
check "the uninstaller read the list, removed the package and removed the DLL" $? \
  "$(tail -2 "$work/out/results.txt"; ls "$work/app" 2>&1)"
check_removed "$work"
finish
