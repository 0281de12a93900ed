#!/usr/bin/env bash
# Installs everything the build and the tests need on a fresh Debian 12 machine.
# Safe to run again: it only installs what is missing.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

# A mirror in the middle of a sync serves an index of the wrong size, and apt-get update
# then fails the whole job. A few bounded tries a little apart ride a short sync out. A
# mirror that stays half-synced has so far been the security suite's (its i386 index, for
# days): the last try leaves that suite out, and the packages come from the release and its
# updates, which carry the same fixes a point release later.
apt_install() {
  export DEBIAN_FRONTEND=noninteractive
  local try
  for try in 1 2 3; do
    if timeout -k 10 600 apt-get update -qq &&
       timeout -k 10 1200 apt-get install -y -qq --no-install-recommends "$@" >/dev/null; then
      return 0
    fi
    echo "setup: apt-get failed (try $try of 4); trying again in $((try * 15)) s" >&2
    sleep $((try * 15))
  done
  local alt; alt=$(mktemp -d)
  [ -f /etc/apt/sources.list ] && grep -v -- '-security' /etc/apt/sources.list > "$alt/sources.list"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && awk 'BEGIN { RS = ""; ORS = "\n\n" } !/-security/' "$f" > "$alt/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && grep -v -- '-security' "$f" > "$alt/$(basename "$f")"
  done
  local o=(-o "Dir::Etc::SourceList=$alt/sources.list" -o "Dir::Etc::SourceParts=$alt")
  touch "$alt/sources.list"
  echo "setup: try 4 of 4 leaves the security suite out" >&2
  timeout -k 10 600 apt-get "${o[@]}" update -qq &&
    timeout -k 10 1200 apt-get "${o[@]}" install -y -qq --no-install-recommends "$@" >/dev/null
  local rc=$?
  rm -rf "$alt"
  return $rc
}

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  updated=0
fi

for p in cmake make g++ tar libgtest-dev googletest g++-mingw-w64-i686 binutils-mingw-w64-i686 \
         g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
         wine wine32:i386 wine64 xvfb xauth x11-apps imagemagick libarchive-tools clang libclang-rt-14-dev \
         valgrind strace python3 time nsis dpkg-dev; do
  have "$p" || need+=("$p")
done

if [ ${#need[@]} -gt 0 ]; then
  echo "setup: installing ${need[*]}"
  apt_install "${need[@]}"
fi
echo "setup: all packages present"

# The Inno Setup compiler for tests/inno: ISCC.exe from the npm package, run under Wine,
# kept out of the repository. Without npm or the registry the Inno Setup tests say so and
# are skipped. (lintian, which would check the Debian package, is not installed: a hundred
# and more packages; tests/package/deb_contents.sh runs it where it is present.)
inno=/opt/quillmar/innosetup-6.4.1
if [ ! -f "$inno/node_modules/innosetup/bin/ISCC.exe" ]; then
  if command -v npm >/dev/null && mkdir -p "$inno" && npm install --prefix "$inno" --no-audit --no-fund --silent innosetup@6.4.1; then
    echo "setup: Inno Setup 6.4.1 installed in $inno"
  else
    echo "setup: the Inno Setup compiler could not be installed (npm): its tests will be skipped" >&2
  fi
fi

# The project's prefix is 64-bit (scripts/wine-prefix.sh): wine64 boots it and runs the
# 64-bit twin's tests natively on every host. The 32-bit DLL and its 32-bit programs run
# in it under WoW64 through the host's 32-bit support. A host kernel that cannot start
# 32-bit programs at all (some sandboxes) gets them run by qemu's user-mode emulator
# instead: correct, but many times slower (docs/design.md); only those programs go
# through it, the server and the prefix's own processes stay native.
if ! timeout -k 5 120 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  have qemu-user-static || apt_install qemu-user-static
  binfmt=/proc/sys/fs/binfmt_misc
  [ -e "$binfmt/register" ] || mount -t binfmt_misc binfmt_misc "$binfmt"
  if [ ! -e "$binfmt/qemu-i386" ]; then
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > "$binfmt/register"
  fi
  timeout -k 5 120 /usr/lib/wine/wine --version >/dev/null 2>&1 || { echo "setup: this host cannot run 32-bit programs" >&2; exit 1; }
  echo "setup: 32-bit programs run through qemu-i386 on this host (slow)"
fi
