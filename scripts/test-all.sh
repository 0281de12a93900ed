#!/usr/bin/env bash
# Sets everything up on a fresh Debian machine and runs every test: the native suite,
# the same suite under sanitizers, and the Windows suites against the real quillmar.dll
# and its 64-bit twin quillmar64.dll under Wine and Xvfb (scripts/test-windows.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
bash scripts/setup.sh

# The native tests include package.deb: CPack builds quillmar_<version>_<arch>.deb there
# and tests/package/deb_contents.sh checks and unpacks it.
echo "== native build and tests"
bash scripts/build.sh native
ctest --test-dir build/native --output-on-failure -j 2

echo "== sanitizer build and tests (ASan + UBSan)"
bash scripts/build.sh asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j 2

# The staging threads under ThreadSanitizer: the tests that run the engine and the
# guarded copy, with four threads whatever the machine.
echo "== ThreadSanitizer build and the engine's tests with four threads"
bash scripts/build.sh tsan
QUILLMAR_THREADS=4 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" build/tsan/tests/unit_tests --gtest_brief=1 \
  --gtest_filter='EachStepAndMember/*:Expand*:Manifest*:CopyTest*:DirectoryEntries*:Extract*:Verdict*:*Interrupted*:*FailedFlush*:*WholeFileBatch*:NewFile*:ParentDirs*:ReplaceFailure*:Links*:MadeMeanwhile*:OverwriteRule*:FullDiskBesideOthers*:Pipeline*:EachStepAtFirstMiddleAndLast/*:EachKind/EarlyStops*:WholeInterrupted*:-*TwoAtOnce*:*PeakMemory*'

# Every fuzz target in turn (six at 20 s: about two minutes); docs/reliability.md has the
# figures of longer runs. The full-disk, descriptor and over-long tests are part of the
# suites above and below (the real full disk needs the right to mount a tmpfs and is
# skipped, saying so, without it).
echo "== fuzzing, briefly (scripts/fuzz.sh SECONDS runs longer)"
bash scripts/fuzz.sh "${QM_FUZZ_SECONDS:-20}"

echo "== the CLI's expansion of the sample package under valgrind memcheck"
vg_out="$(mktemp -d)"
valgrind --error-exitcode=9 --leak-check=full --errors-for-leak-kinds=definite -q \
  build/native/quillmar expand build/native/sample/router.pkg "$vg_out"
rm -rf "$vg_out"
echo "valgrind: clean"

echo "== Windows builds: quillmar.dll (i686) and its 64-bit twin quillmar64.dll (x86_64)"
bash scripts/build.sh win64
bash scripts/build.sh win32
bash scripts/wine-prefix.sh
# One display and one wineserver for the whole Windows part; bounded as a whole too.
timeout -k 30 "${QM_WINDOWS_LIMIT:-3600}" xvfb-run -a -s "-screen 0 1024x768x24" bash scripts/test-windows.sh
