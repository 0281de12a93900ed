#!/usr/bin/env bash
# cmake --install puts the library, the tool and the header in place, and a C program
# builds and runs against them.
set -u
build="$1"; src="$2"; pkg="$3"
work="$(mktemp -d)"; trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null || { echo "0 passed, 1 failed"; exit 1; }
for f in bin/quillmar include/quillmar.h; do
  [ -e "$work/prefix/$f" ] || { echo "FAILED: $f not installed"; echo "0 passed, 1 failed"; exit 1; }
done
libdir=$(dirname "$(find "$work/prefix" -name 'libquillmar.so' | head -1)")
cc -I"$work/prefix/include" -o "$work/client" "$src/tests/package/linux_client.c" -L"$libdir" -lquillmar \
  || { echo "0 passed, 1 failed"; exit 1; }
mkdir "$work/target"
LD_LIBRARY_PATH="$libdir" "$work/client" "$pkg" "$work/target"
