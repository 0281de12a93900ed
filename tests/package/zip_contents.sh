#!/usr/bin/env bash
# The Windows zip holds exactly what an installer author needs, and its DLLs are the
# ones the builds made: quillmar.dll from this (32-bit) build, quillmar64.dll from the
# 64-bit twin's build tree (TWIN_DIR).
#   zip_contents.sh BUILD_DIR TWIN_DIR
set -u
build="$1" twin="${2:-}"
cd "$build" || exit 1
if [ -z "$twin" ] || [ ! -f "$twin/quillmar64.dll" ]; then
  echo "FAILED: the 64-bit twin is not built (bash scripts/build.sh win64, then configure this build again)"
  echo "0 passed, 1 failed"
  exit 1
fi
rm -f quillmar-*-win32.zip
cpack -G ZIP >/dev/null || { echo "cpack failed"; echo "0 passed, 1 failed"; exit 1; }
zip=$(ls quillmar-*-win32.zip)
expected="LICENSE
README.md
include/quillmar.h
include/quillmar.iss
include/quillmar.nsh
lib/libquillmar.dll.a
lib/libquillmar64.dll.a
quillmar.dll
quillmar.exe
quillmar64.dll"
actual=$(python3 -c 'import sys,zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")
passes=0; fails=0
if [ "$actual" = "$expected" ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAILED: zip holds:"; echo "$actual"; fi
same() {  # same NAME-IN-ZIP BUILT-FILE
  python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); sys.exit(0 if z.read(sys.argv[2])==open(sys.argv[3],"rb").read() else 1)' "$zip" "$1" "$2"
}
for pair in "quillmar.dll:quillmar.dll" "quillmar64.dll:$twin/quillmar64.dll" "lib/libquillmar64.dll.a:$twin/libquillmar64.dll.a"; do
  if same "${pair%%:*}" "${pair#*:}"; then passes=$((passes+1))
  else fails=$((fails+1)); echo "FAILED: the zip's ${pair%%:*} is not the built one"; fi
done
echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
