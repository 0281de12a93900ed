#!/usr/bin/env bash
# The Windows zip holds exactly what an installer author needs, and its DLL is the
# one the build made.
set -u
build="$1"
cd "$build" || exit 1
rm -f quillmar-*-win32.zip
cpack -G ZIP >/dev/null || { echo "cpack failed"; echo "0 passed, 1 failed"; exit 1; }
zip=$(ls quillmar-*-win32.zip)
expected="LICENSE
README.md
include/quillmar.h
include/quillmar.iss
include/quillmar.nsh
lib/libquillmar.dll.a
quillmar.dll
quillmar.exe"
actual=$(python3 -c 'import sys,zipfile; print("\n".join(sorted(n for n in zipfile.ZipFile(sys.argv[1]).namelist() if not n.endswith("/"))))' "$zip")
passes=0; fails=0
if [ "$actual" = "$expected" ]; then passes=$((passes+1)); else fails=$((fails+1)); echo "FAILED: zip holds:"; echo "$actual"; fi
if python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); sys.exit(0 if z.read("quillmar.dll")==open("quillmar.dll","rb").read() else 1)' "$zip"; then
  passes=$((passes+1)); else fails=$((fails+1)); echo "FAILED: the zip's quillmar.dll is not the built one"; fi
echo "$passes passed, $fails failed"
[ $fails -eq 0 ]
