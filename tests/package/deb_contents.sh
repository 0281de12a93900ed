#!/usr/bin/env bash
# The Debian package holds the tool, the library, the header, the documentation and the
# manual page, with its dependencies computed; unpacked anywhere, its tool runs and knows
# its version, and its manual page describes what its --help describes.
#   deb_contents.sh BUILD_DIR VERSION
set -u
build="$1" version="$2"
cd "$build" || exit 1
passes=0 fails=0
check() {  # check NAME CONDITION-STATUS [detail]
  if [ "$2" -eq 0 ]; then passes=$((passes + 1)); else fails=$((fails + 1)); echo "FAILED: $1${3:+: $3}"; fi
}
finish() { echo "$passes passed, $fails failed"; [ "$fails" -eq 0 ]; exit $?; }

rm -f quillmar_*.deb
cpack -G DEB > cpack-deb.txt 2>&1
check "cpack builds the package" $? "$(tail -5 cpack-deb.txt)"
deb="quillmar_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { check "the package is named $deb" 1 "$(ls ./*.deb 2>/dev/null)"; finish; }

expected="./usr/bin/quillmar
./usr/include/quillmar.h
./usr/lib/libquillmar.so
./usr/share/doc/quillmar/README.md
./usr/share/doc/quillmar/changelog.gz
./usr/share/doc/quillmar/copyright
./usr/share/doc/quillmar/deployment.md
./usr/share/man/man1/quillmar.1.gz"
actual="$(dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort)"
[ "$actual" = "$expected" ]
check "dpkg-deb --contents lists the expected files" $? "$actual"
depends="$(dpkg-deb -f "$deb" Depends)"
[[ "$depends" == *"libc6 (>="* ]]
check "the dependencies were computed" $? "Depends: $depends"

root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
cli="$root/usr/bin/quillmar"
out="$(LD_LIBRARY_PATH="$root/usr/lib" "$cli" --version 2>&1)"
[ "$out" = "quillmar $version" ]
check "the unpacked quillmar --version prints the project's version" $? "$out"

# Each command and option the help lists, and the exit status, as the page renders them
# (markup taken off, blanks run together).
help="$("$cli" --help | sed -n 's/^  //p; s/^Exit status: //p' | tr -s ' ')"
page="$(zcat "$root/usr/share/man/man1/quillmar.1.gz" | awk '
  /^\.SH/ { section = $0; next }
  section ~ /COMMANDS|OPTIONS/ && /^\.TP/ { getline tag; getline text; print tag " " text }
  section ~ /EXIT STATUS/ { print }' | sed 's/\\f[BIR]//g; s/\\-/-/g; s/\\e/\\/g; s/^\\&//' | tr -s ' ')"
[ -n "$help" ] && [ "$page" = "$help" ]
check "the manual page matches quillmar --help" $? "$(diff <(echo "$page") <(echo "$help"))"

if ! command -v lintian >/dev/null; then
  echo "lintian is not installed: not run"
elif timeout 60 lintian "$deb" > lintian.txt 2>&1 || [ $? -ne 124 ]; then
  ! grep -q '^E:' lintian.txt
  check "lintian reports no error" $? "$(grep '^E:' lintian.txt)"
else
  echo "lintian did not finish within a minute: not counted"
fi
finish
