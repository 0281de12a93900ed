#!/usr/bin/env bash
# The Debian packages, as Debian packages a public library: quillmar (the tool, its
# documentation and manual page), libquillmar1 (the library under its SONAME, in the
# multiarch directory) and libquillmar-dev (the header and the link to build with). Their
# dependencies are computed; unpacked anywhere, the tool runs and knows its version, its
# manual page describes what its --help describes, and a C program builds against the
# two library packages and records the SONAME. lintian, where installed, finds no error
# and no warning.
#   deb_contents.sh BUILD_DIR VERSION SOURCE_DIR
set -u
build="$(cd "$1" && pwd)" version="$2" src="$3"
cd "$build" || exit 1
passes=0 fails=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else fails=$((fails + 1)); echo "FAILED: $1${3:+: $3}"; fi
}
finish() { echo "$passes passed, $fails failed"; [ "$fails" -eq 0 ]; exit $?; }

rm -f quillmar_*.deb libquillmar*.deb
cpack -G DEB > cpack-deb.txt 2>&1
check "cpack builds the packages" $? "$(tail -5 cpack-deb.txt)"
arch="$(dpkg --print-architecture)" multiarch="$(dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || gcc -print-multiarch)"
tool="quillmar_${version}_$arch.deb" lib="libquillmar1_${version}_$arch.deb" dev="libquillmar-dev_${version}_$arch.deb"
for deb in "$tool" "$lib" "$dev"; do
  [ -f "$deb" ] || { check "the package $deb is made" 1 "$(ls ./*.deb 2>/dev/null)"; finish; }
done

# Every file and link of a package (a link with what it points to), sorted.
contents() { dpkg-deb --contents "$1" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort; }
expected="./usr/bin/quillmar
./usr/share/doc/quillmar/README.md
./usr/share/doc/quillmar/changelog.gz
./usr/share/doc/quillmar/copyright
./usr/share/doc/quillmar/deployment.md
./usr/share/man/man1/quillmar.1.gz"
actual="$(contents "$tool")"
[ "$actual" = "$expected" ]
check "the tool's package holds the tool, its documents and its manual page" $? "$actual"
expected="./usr/lib/$multiarch/libquillmar.so.1 -> libquillmar.so.$version
./usr/lib/$multiarch/libquillmar.so.$version
./usr/share/doc/libquillmar1/changelog.gz
./usr/share/doc/libquillmar1/copyright"
actual="$(contents "$lib")"
[ "$actual" = "$expected" ]
check "the library's package holds it under its SONAME in the multiarch directory" $? "$actual"
expected="./usr/include/quillmar.h
./usr/lib/$multiarch/libquillmar.so -> libquillmar.so.1
./usr/share/doc/libquillmar-dev/changelog.gz
./usr/share/doc/libquillmar-dev/copyright"
actual="$(contents "$dev")"
[ "$actual" = "$expected" ]
check "the development package holds the header and the link to build with" $? "$actual"

depends="$(dpkg-deb -f "$tool" Depends)"
[[ "$depends" == *"libc6 (>="* ]] && [[ "$depends" != *libquillmar* ]]
check "the tool's dependencies were computed, and it needs no library package" $? "Depends: $depends"
depends="$(dpkg-deb -f "$dev" Depends)"
[ "$depends" = "libquillmar1 (= $version)" ]
check "the development package needs the library of its own version" $? "Depends: $depends"
shlibs="$(dpkg-deb -I "$lib" shlibs 2>&1)" triggers="$(dpkg-deb -I "$lib" triggers 2>&1)"
[ "$shlibs" = "libquillmar 1 libquillmar1 (>= $version)" ] && [ "$triggers" = "activate-noawait ldconfig" ]
check "the library's package names its SONAME's package and activates the ldconfig trigger" $? "$shlibs / $triggers"
scripts="$(for deb in "$tool" "$lib" "$dev"; do dpkg-deb --ctrl-tarfile "$deb" | tar -t; done | grep -E 'post|pre' | tr '\n' ' ')"
[ -z "$scripts" ]
check "no package has a maintainer script" $? "$scripts"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
for deb in "$tool" "$lib" "$dev"; do dpkg -x "$deb" "$root"; done
cli="$root/usr/bin/quillmar"
out="$("$cli" --version 2>&1)"
[ "$out" = "quillmar $version" ]
check "the unpacked quillmar --version prints the project's version" $? "$out"

# Each command, option and variable the help lists, and the exit status, as the page
# renders them (markup taken off, blanks run together).
help="$("$cli" --help | sed -n 's/^  //p; s/^Exit status: //p' | tr -s ' ')"
page="$(zcat "$root/usr/share/man/man1/quillmar.1.gz" | awk '
  /^\.SH/ { section = $0; next }
  section ~ /COMMANDS|OPTIONS|ENVIRONMENT/ && /^\.TP/ { getline tag; getline text; print tag " " text }
  section ~ /EXIT STATUS/ { print }' | sed 's/\\f[BIR]//g; s/\\-/-/g; s/\\e/\\/g; s/^\\&//' | tr -s ' ')"
[ -n "$help" ] && [ "$page" = "$help" ]
check "the manual page matches quillmar --help" $? "$(diff <(echo "$page") <(echo "$help"))"

# A C program built against the two library packages records the SONAME, and runs.
libdir="$root/usr/lib/$multiarch"
cc -I"$root/usr/include" -o "$root/client" "$src/tests/package/linux_client.c" -L"$libdir" -lquillmar
check "a C program builds against the library packages" $?
needed="$(readelf -d "$root/client" 2>/dev/null | sed -n 's/.*Shared library: \[\(libquillmar[^]]*\)\]/\1/p')"
[ "$needed" = "libquillmar.so.1" ]
check "it records libquillmar.so.1" $? "$needed"
mkdir "$root/target"
LD_LIBRARY_PATH="$libdir" "$root/client" "$build/sample/router.pkg" "$root/target" > "$root/client.txt" 2>&1
check "it runs against them" $? "$(cat "$root/client.txt")"

if ! command -v lintian >/dev/null; then
  echo "lintian is not installed: not run"
elif timeout 120 lintian "$tool" "$lib" "$dev" > lintian.txt 2>&1 || [ $? -ne 124 ]; then
  ! grep -q '^[EW]:' lintian.txt
  check "lintian reports no error and no warning" $? "$(grep '^[EW]:' lintian.txt)"
else
  echo "lintian did not finish within two minutes: not counted"
fi
finish
