#!/usr/bin/env python3
"""Before and after: one job timed with two builds of the library, alternating run by
run on the same inputs, so that whatever else the machine does weighs on both alike.

  python3 bench/compare.py BEFORE_BUILD AFTER_BUILD [JOB] [RUNS]

BEFORE_BUILD and AFTER_BUILD are build directories of one flavour: native ones (the
`quillmar` tool is timed from outside) or win32 ones (`bench_driver.exe` times the export
from inside the process under Wine). JOB is "small" (the benchmark's many small members,
default), "large" or "copy". Inputs come from bench/gen_inputs.py as bench/run.sh makes
them (QM_BENCH_INPUTS, or its default place). Prints each build's median and the ratio.
"""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def inputs():
    place = os.environ.get("QM_BENCH_INPUTS")
    if not place:
        work = os.environ.get("QM_BENCH_DIR") or (
            "/dev/shm/qm-bench" if os.path.isdir("/dev/shm/qm-bench") else "/tmp/qm-bench")
        place = os.path.join(work, "inputs-20000-40-5000")
    if not os.path.isdir(place):
        subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen_inputs.py"), place,
                        "20000", "40", "5000"], check=True)
    return place


def win(path):
    return "Z:" + path.replace("/", "\\")


def command(build, job, src, target):
    if os.path.exists(os.path.join(build, "bench_driver.exe")):
        driver = [os.path.join(ROOT, "scripts", "wine-run"), os.path.join(build, "bench_driver.exe")]
        if job == "copy":
            return driver + ["copy", win(src), win(target), "*.*"], True
        return driver + ["expand", win(src), win(target)], True
    tool = os.path.join(build, "quillmar")
    if job == "copy":
        return [tool, "copy", src, target, "*.*"], False
    return [tool, "expand", src, target], False


def run_once(build, job, src, scratch):
    target = tempfile.mkdtemp(dir=scratch)
    argv, inside = command(build, job, src, target)
    env = dict(os.environ, WINEDEBUG="-all")
    t0 = time.monotonic()
    p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                       timeout=600)  # a hung Wine run ends the comparison, never waits for ever
    elapsed = time.monotonic() - t0
    shutil.rmtree(target)
    if p.returncode != 0:
        raise SystemExit("%s failed (%d): %s" % (" ".join(argv), p.returncode, p.stderr.strip()))
    return float(p.stdout.split()[-2]) if inside else elapsed


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    before, after = sys.argv[1], sys.argv[2]
    job = sys.argv[3] if len(sys.argv) > 3 else "small"
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 9
    src = os.path.join(inputs(), {"small": "small.pkg", "large": "large.pkg", "copy": "copy-src"}[job])
    scratch = tempfile.mkdtemp(dir=os.path.dirname(inputs()))
    times = {before: [], after: []}
    try:
        for build in (before, after):  # one untimed run each: caches and Wine warm
            run_once(build, job, src, scratch)
        for i in range(runs):
            for build in ((before, after) if i % 2 == 0 else (after, before)):
                times[build].append(run_once(build, job, src, scratch))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    b, a = statistics.median(times[before]), statistics.median(times[after])
    print("%s, %d runs each, medians: before %.3f s, after %.3f s, after/before %.3f"
          % (job, runs, b, a, a / b))


if __name__ == "__main__":
    main()
