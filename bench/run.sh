#!/usr/bin/env bash
# The performance benchmark: package expansion and the guarded copy against GNU tar,
# bsdtar, cp -p and floor programs of our own, natively and under Wine. Writes the table
# of medians and ratios into docs/performance.md and prints the ratios.
#
#   bash bench/run.sh            the full run (inputs of about 62 MB and 252 MB; ~10 min)
#   QM_BENCH_QUICK=1 bash bench/run.sh   tiny inputs, 3 runs, table left in $QM_BENCH_DIR
#
# Knobs (environment): QM_BENCH_DIR (work space, default /dev/shm/qm-bench when that is
# a tmpfs with 6 GB free, else /tmp/qm-bench), QM_BENCH_RUNS,
# QM_BENCH_MEMBERS, QM_BENCH_LARGE, QM_BENCH_COPY, QM_BENCH_WINE=0 (native only),
# QM_BENCH_OUT (the markdown file to write), QM_BENCH_GROUPS=update,small (only those groups,
# medians printed, no table written), QM_BENCH_BUILD=0 (use the builds as they are),
# QM_BENCH_NATIVE_BUILD and QM_BENCH_WIN32_BUILD (build directories, default build/native
# and build/win32).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
export QM_ROOT="$root"
# A tmpfs keeps the disk's write-back and the file system's allocator out of the figures
# (see bench/measure.py); /tmp when there is no room in one.
if [ -z "${QM_BENCH_DIR:-}" ]; then
  QM_BENCH_DIR=/tmp/qm-bench
  if [ "$(stat -f -c %T /dev/shm 2>/dev/null)" = tmpfs ] &&
     [ "$(df -k --output=avail /dev/shm | tail -1)" -gt $((6 * 1024 * 1024)) ]; then
    QM_BENCH_DIR=/dev/shm/qm-bench
  fi
fi
export QM_BENCH_DIR
if [ "${QM_BENCH_QUICK:-0}" = 1 ]; then
  : "${QM_BENCH_MEMBERS:=1000}" "${QM_BENCH_LARGE:=2}" "${QM_BENCH_COPY:=200}" "${QM_BENCH_RUNS:=3}"
  : "${QM_BENCH_OUT:=$QM_BENCH_DIR/performance.md}"
fi
export QM_BENCH_MEMBERS="${QM_BENCH_MEMBERS:-20000}" QM_BENCH_LARGE="${QM_BENCH_LARGE:-40}"
export QM_BENCH_COPY="${QM_BENCH_COPY:-5000}" QM_BENCH_RUNS="${QM_BENCH_RUNS:-5}"
export QM_BENCH_OUT="${QM_BENCH_OUT:-$root/docs/performance.md}"
export QM_BENCH_WINE="${QM_BENCH_WINE:-1}"
export QM_BENCH_INPUTS="$QM_BENCH_DIR/inputs-$QM_BENCH_MEMBERS-$QM_BENCH_LARGE-$QM_BENCH_COPY"

for tool in tar bsdtar cp python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (bash scripts/setup.sh)" >&2; exit 2; }
done

if [ "${QM_BENCH_BUILD:-1}" = 1 ]; then
  bash "$root/scripts/build.sh" native >/dev/null
  if [ "$QM_BENCH_WINE" = 1 ]; then
    bash "$root/scripts/build.sh" win32 >/dev/null
    bash "$root/scripts/wine-prefix.sh"
  fi
fi

echo "bench: inputs in $QM_BENCH_INPUTS"
mkdir -p "$QM_BENCH_DIR"
python3 "$root/bench/gen_inputs.py" "$QM_BENCH_INPUTS" "$QM_BENCH_MEMBERS" "$QM_BENCH_LARGE" "$QM_BENCH_COPY"

if [ "$QM_BENCH_WINE" = 1 ] && [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24" python3 "$root/bench/measure.py"
fi
exec python3 "$root/bench/measure.py"
