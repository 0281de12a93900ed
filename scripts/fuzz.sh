#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan + UBSan) and runs each for SECONDS (default
# 30). Seeds: tests/fuzz/seeds/<target>, the regressions of tests/fuzz/regressions, and
# for the archive target the peer corpus and the sample package. Working corpora are
# kept in build/fuzz/corpus. Prints executions and findings per target; exits non-zero
# when a target finds a crash.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-30}"
cd "$root"
cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQM_FUZZ=ON -DQM_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/fuzz -j "$(nproc)" >/dev/null
sample="$(bash scripts/make-sample.sh "$root/build/fuzz/sample/router.pkg")"
corpus="$(realpath -m "$root/../shared/corpus")"
status=0
for bin in build/fuzz/tests/fuzz/fuzz_*; do
  name="$(basename "$bin")"; short="${name#fuzz_}"
  work="$root/build/fuzz/corpus/$short"; mkdir -p "$work" "$root/build/fuzz/artifacts"
  seeds=()
  [ -d "$root/tests/fuzz/seeds/$short" ] && seeds+=("$root/tests/fuzz/seeds/$short")
  if [ "$short" = tar_expand ]; then
    mkdir -p "$root/build/fuzz/seeds-tar" && cp "$sample" "$root/build/fuzz/seeds-tar/"
    seeds+=("$root/build/fuzz/seeds-tar")
    if [ -d "$corpus" ]; then
      for d in "$corpus"/*/; do seeds+=("$(realpath "$d")"); done
    else
      echo "fuzz: peer corpus not found at $corpus; seeding from the sample package only"
    fi
  fi
  # Regressions first: each must run clean.
  for r in "$root"/tests/fuzz/regressions/"${short%%_*}"*; do
    [ -f "$r" ] || continue
    "$bin" "$r" >/dev/null 2>&1 || { echo "fuzz: $name fails regression $r"; status=1; }
  done
  log="$root/build/fuzz/$short.log"
  if "$bin" "$work" "${seeds[@]}" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
       -rss_limit_mb=2048 -artifact_prefix="$root/build/fuzz/artifacts/$short-" >"$log" 2>&1; then
    result="no findings"
  else
    result="FINDING (see $log and build/fuzz/artifacts)"; status=1
  fi
  runs="$(grep -Eo '^Done [0-9]+ runs' "$log" | grep -Eo '[0-9]+' || echo '?')"
  cov="$(grep -Eo 'cov: [0-9]+' "$log" | tail -1 || true)"
  echo "fuzz: $name: $runs executions in ${seconds}s, $cov, corpus $(ls "$work" | wc -l) inputs: $result"
done
exit $status
