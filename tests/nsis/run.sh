#!/usr/bin/env bash
# Builds tests/nsis/install.nsi with makensis against the built quillmar.dll and the
# quillmar.nsh the build made from the export table, runs it silently (/S) under Wine,
# and checks what it recorded (tests/common/installer_test.sh).
#   run.sh attended|unattended BUILD_DIR SOURCE_DIR
set -u
mode="$1" build="$(cd "$2" && pwd)" src="$(cd "$3" && pwd)"
. "$src/tests/common/installer_test.sh"

command -v makensis >/dev/null || { echo "makensis is missing (scripts/setup.sh installs nsis)"; fails=1; finish; }
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
make_packages "$work"

timeout -k 10 300 makensis -V2 -DQM_DLL="$build/quillmar.dll" -DQM_INCLUDE="$build/generated/include" \
  -DQM_OUTFILE="$work/install.exe" "$src/tests/nsis/install.nsi" > "$work/makensis.txt" 2>&1
check "makensis builds the installer" $? "$(tail -5 "$work/makensis.txt")"
[ -f "$work/install.exe" ] || finish

run_installer "$work" "$work/install.exe" /S
after_pick="remove 1 0"
check_run "$work"
check_removed "$work"
finish
