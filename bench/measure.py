#!/usr/bin/env python3
"""Runs the benchmark's contenders and writes the table (bench/run.sh sets it up).

Within a group the contenders take turns run by run (the order rotates every run), each
run into a fresh empty target, synced to disk afterwards, outside the timing. Native
programs are timed with a monotonic clock around the command and their peak memory is
/usr/bin/time's "Maximum resident set size"; the Windows programs time themselves from
inside (Wine's start-up left out) and report their peak working set.

Where the targets are matters. On an ext4 without a journal the inode allocator steps
over every inode freed in the last minute, or six minutes while that inode's table block
is dirty (recently_deleted() in fs/ext4/ialloc.c), so creating 20,000 files after
removing as many costs several times as much, whoever creates them. There, targets of
many files stay until the whole benchmark is over, and the benchmark waits that time out
after it has removed many files. run.sh prefers a tmpfs, where none of this applies.
"""
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.environ["QM_ROOT"]
WORK = os.environ["QM_BENCH_DIR"]
INPUTS = os.environ["QM_BENCH_INPUTS"]
RUNS = int(os.environ["QM_BENCH_RUNS"])
WINE = os.environ.get("QM_BENCH_WINE", "1") == "1"
OUT = os.environ["QM_BENCH_OUT"]
MEMBERS = int(os.environ["QM_BENCH_MEMBERS"])
LARGE = int(os.environ["QM_BENCH_LARGE"])
COPIES = int(os.environ["QM_BENCH_COPY"])
# QM_BENCH_GROUPS=update,small: only those groups, their medians printed, no table written.
ONLY = [g for g in os.environ.get("QM_BENCH_GROUPS", "").split(",") if g]

NATIVE = os.environ.get("QM_BENCH_NATIVE_BUILD", os.path.join(ROOT, "build", "native"))
WIN32 = os.environ.get("QM_BENCH_WIN32_BUILD", os.path.join(ROOT, "build", "win32"))
QUILLMAR = os.path.join(NATIVE, "quillmar")
FLOOR = os.path.join(NATIVE, "bench", "floor_posix")
WINE_RUN = os.path.join(ROOT, "scripts", "wine-run")
WINE_LIMIT = 600  # seconds for one Wine run of the driver
DRIVER = os.path.join(WIN32, "bench_driver.exe")
WFLOOR = os.path.join(WIN32, "floor_win32.exe")

SMALL = os.path.join(INPUTS, "small.pkg")
SMALL_OLD = os.path.join(INPUTS, "small-old.pkg")
LARGE_PKG = os.path.join(INPUTS, "large.pkg")
COPY_SRC = os.path.join(INPUTS, "copy-src")
TARGETS = os.path.join(WORK, "targets")

WINE_ENV = dict(os.environ, WINEDEBUG="-all")


def win(path):
    return "Z:" + path.replace("/", "\\")


class Contender:
    def __init__(self, name, argv, inside=False, threads=None, whole=False):
        self.name = name
        self.argv = argv  # function of the target directory
        self.inside = inside
        self.threads = threads  # QUILLMAR_THREADS for this contender; None: the library's choice
        self.whole = whole  # QUILLMAR_WHOLE_PACKAGE=1 for this contender
        self.times = []
        self.peaks = []  # bytes


def count_files(top):
    files = size = 0
    for d, _, names in os.walk(top):
        for n in names:
            files += 1
            size += os.lstat(os.path.join(d, n)).st_size
    return files, size


def run_once(c, target):
    argv = c.argv(target)
    env = dict(WINE_ENV if c.inside else os.environ)
    env.pop("QUILLMAR_THREADS", None)
    env.pop("QUILLMAR_WHOLE_PACKAGE", None)
    if c.threads is not None:
        env["QUILLMAR_THREADS"] = str(c.threads)
    if c.whole:
        env["QUILLMAR_WHOLE_PACKAGE"] = "1"
    if c.inside:
        # Bounded as every Wine call is: a hung process fails the row, not the run.
        p = subprocess.run([WINE_RUN] + argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                           env=env, text=True, timeout=WINE_LIMIT)
        if p.returncode != 0:
            raise SystemExit("%s failed (%d): %s" % (c.name, p.returncode, p.stderr.strip()))
        seconds, peak = p.stdout.strip().splitlines()[-1].split()
        return float(seconds), int(peak)
    with tempfile.NamedTemporaryFile("r") as mem:
        t0 = time.monotonic()
        p = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", mem.name] + argv,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, env=env)
        t1 = time.monotonic()
        if p.returncode != 0:
            raise SystemExit("%s failed (%d): %s" % (c.name, p.returncode, p.stderr.strip()))
        return t1 - t0, int(mem.read().split()[-1]) * 1024


SERIAL = [0]
REMOVED = os.path.join(WORK, "last-removal")


def findmnt(path, columns):
    # The mount that path is on: the last one listed when several are stacked there.
    lines = subprocess.run(["findmnt", "-n", "-o", columns, "-T", path], stdout=subprocess.PIPE,
                           text=True).stdout.strip().splitlines()
    return lines[-1].split() if lines else []


def ext4_without_journal(path):
    fs = findmnt(path, "FSTYPE,SOURCE")
    return len(fs) == 2 and fs[0] == "ext4" and not os.path.exists(
        "/proc/fs/jbd2/%s-8" % os.path.basename(fs[1]))


# Targets of many files are kept only where removing them would cost (see above); on a
# tmpfs each is removed after its run, so that every run writes into memory that was in
# use a moment ago rather than into pages the machine has never touched.
KEEP = ext4_without_journal(WORK)
ON_TMPFS = findmnt(WORK, "FSTYPE")[:1] == ["tmpfs"]
# Seconds the allocator remembers removed inodes (see above), and some.
FORGET = 370 if KEEP else 0


def remove_many(path):
    subprocess.run(["rm", "-rf", path], check=True)
    os.sync()
    open(REMOVED, "w").close()


def wait_for_allocator():
    if os.environ.get("QM_BENCH_QUICK") != "1" and os.path.exists(REMOVED):
        left = FORGET - (time.time() - os.path.getmtime(REMOVED))
        if left > 0:
            print("bench: waiting %.0f s after removing many files (see the note on ext4)" % left,
                  flush=True)
            time.sleep(left)


def fresh_target():
    SERIAL[0] += 1
    path = os.path.join(TARGETS, "t%04d" % SERIAL[0])
    os.makedirs(path)
    return path


def settle(path, keep):
    os.sync()
    if not keep:
        subprocess.run(["rm", "-rf", path], check=True)


GROUP_KEYS = {"native, many small": "small", "native, few large": "large", "native update of many small": "update",
              "native, guarded copy": "copy", "Wine, many small": "wsmall", "Wine, guarded copy": "wcopy"}


def group(title, contenders, expect_files, expect_bytes, keep=KEEP, prepare=None):
    """prepare(target), when given, readies each run's target, untimed and synced."""
    if ONLY and GROUP_KEYS[title] not in ONLY:
        return None
    print("== %s (%d runs each, alternating)" % (title, RUNS), flush=True)

    def target_for_run():
        target = fresh_target()
        if prepare:
            prepare(target)
            os.sync()
        return target

    # One untimed run each first: warms the page cache and checks the result is whole.
    for c in contenders:
        target = target_for_run()
        run_once(c, target)
        files, size = count_files(target)
        if (files, size) != (expect_files, expect_bytes):
            raise SystemExit("%s wrote %d files / %d bytes, expected %d / %d" %
                             (c.name, files, size, expect_files, expect_bytes))
        settle(target, keep)
    for r in range(RUNS):
        k = r % len(contenders)
        for c in contenders[k:] + contenders[:k]:
            target = target_for_run()
            seconds, peak = run_once(c, target)
            settle(target, keep)
            c.times.append(seconds)
            c.peaks.append(peak)
    for c in contenders:
        print("   %-34s median %.3f s  (min %.3f, max %.3f)  peak %.1f MiB" %
              (c.name, statistics.median(c.times), min(c.times), max(c.times),
               statistics.median(c.peaks) / 2**20), flush=True)
    return {c.name: {"times": c.times, "peaks": c.peaks} for c in contenders}


def median(results, g, name):
    return statistics.median(results[g][name]["times"])


def peak(results, g, name):
    return statistics.median(results[g][name]["peaks"])


def machine():
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    fs = findmnt(TARGETS, "FSTYPE,SOURCE,OPTIONS")
    if len(fs) == 3 and fs[0] == "ext4":
        journal = os.path.exists("/proc/fs/jbd2/%s-8" % os.path.basename(fs[1]))
        fs = "ext4, %s, %s" % ("journal" if journal else "no journal", fs[2])
    elif len(fs) == 3:
        fs = "%s, %s" % (fs[0], fs[2])
    else:
        fs = " ".join(fs)
    mem = os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES") / 2**30
    return [("CPUs (nproc)", str(os.cpu_count())), ("CPU", cpu), ("Memory", "%.0f GiB" % mem),
            ("Kernel", platform.release()), ("Target file system", "%s (%s)" % (fs, TARGETS)),
            ("Date", time.strftime("%Y-%m-%d %H:%M %Z"))]


def version(argv):
    try:
        return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              text=True).stdout.splitlines()[0].strip()
    except OSError:
        return "?"


def main():
    if os.path.exists(TARGETS):  # what an interrupted run left
        remove_many(TARGETS)
    wait_for_allocator()
    os.makedirs(TARGETS)
    small_files = MEMBERS
    # What a whole extraction holds, from the packages themselves.
    listing = subprocess.run(["tar", "-tvf", SMALL], stdout=subprocess.PIPE, text=True).stdout
    small_bytes = sum(int(l.split()[2]) for l in listing.splitlines() if l.startswith("-"))
    listing = subprocess.run(["tar", "-tvf", LARGE_PKG], stdout=subprocess.PIPE, text=True).stdout
    large_bytes = sum(int(l.split()[2]) for l in listing.splitlines() if l.startswith("-"))
    copy_files, copy_bytes = count_files(COPY_SRC)
    copy_list = sorted(os.path.join(COPY_SRC, n) for n in os.listdir(COPY_SRC))

    def natives(pkg):
        return [
            Contender("quillmar expand", lambda t: [QUILLMAR, "expand", pkg, t]),
            Contender("quillmar expand, 1 thread", lambda t: [QUILLMAR, "expand", pkg, t], threads=1),
            Contender("quillmar expand --whole", lambda t: [QUILLMAR, "expand", pkg, t, "--whole"]),
            Contender("GNU tar -xf", lambda t: ["tar", "-xf", pkg, "-C", t]),
            Contender("bsdtar -xf", lambda t: ["bsdtar", "-xf", pkg, "-C", t]),
            Contender("floor (native)", lambda t: [FLOOR, pkg, t]),
        ]

    results = {}
    results["small"] = group("native, many small", natives(SMALL), small_files, small_bytes)
    # A few large files: removing them costs the allocator nothing.
    results["large"] = group("native, few large", natives(LARGE_PKG), LARGE, large_bytes, keep=False)
    # An update: each target first holds the version before, extracted by GNU tar.
    results["update"] = group("native update of many small", [
        Contender("quillmar expand", lambda t: [QUILLMAR, "expand", SMALL, t]),
        Contender("quillmar expand, 1 thread", lambda t: [QUILLMAR, "expand", SMALL, t], threads=1),
        Contender("quillmar expand --whole", lambda t: [QUILLMAR, "expand", SMALL, t, "--whole"]),
        Contender("GNU tar -xf", lambda t: ["tar", "-xf", SMALL, "-C", t]),
    ], small_files, small_bytes, prepare=lambda t: subprocess.run(["tar", "-xf", SMALL_OLD, "-C", t], check=True))
    results["copy"] = group("native, guarded copy", [
        Contender("quillmar copy (MyCopyFiles)", lambda t: [QUILLMAR, "copy", COPY_SRC, t, "*.*"]),
        Contender("quillmar copy, 1 thread", lambda t: [QUILLMAR, "copy", COPY_SRC, t, "*.*"], threads=1),
        Contender("cp -p", lambda t: ["cp", "-p"] + copy_list + [t]),
    ], copy_files, copy_bytes)
    if WINE:
        results["wsmall"] = group("Wine, many small", [
            Contender("ExpandPackage (quillmar.dll)",
                      lambda t: [DRIVER, "expand", win(SMALL), win(t)], inside=True),
            Contender("ExpandPackage, 1 thread",
                      lambda t: [DRIVER, "expand", win(SMALL), win(t)], inside=True, threads=1),
            Contender("ExpandPackage, QUILLMAR_WHOLE_PACKAGE=1",
                      lambda t: [DRIVER, "expand", win(SMALL), win(t)], inside=True, whole=True),
            Contender("floor (Win32)", lambda t: [WFLOOR, "expand", win(SMALL), win(t)], inside=True),
        ], small_files, small_bytes)
        results["wcopy"] = group("Wine, guarded copy", [
            Contender("MyCopyFiles (quillmar.dll)",
                      lambda t: [DRIVER, "copy", win(COPY_SRC), win(t), "*.*"], inside=True),
            Contender("MyCopyFiles, 1 thread",
                      lambda t: [DRIVER, "copy", win(COPY_SRC), win(t), "*.*"], inside=True, threads=1),
            Contender("floor (Win32)", lambda t: [WFLOOR, "copy", win(COPY_SRC), win(t)], inside=True),
        ], copy_files, copy_bytes)

    with open(os.path.join(WORK, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    if ONLY:
        remove_many(TARGETS)
        return

    pkg_small, pkg_large = os.path.getsize(SMALL), os.path.getsize(LARGE_PKG)
    lines = ["<!-- bench:begin (written by bench/run.sh; edits here are overwritten) -->", ""]
    lines += ["| Machine | |", "|---|---|"] + ["| %s | %s |" % kv for kv in machine()]
    lines += ["| Tools | %s; %s; %s |" % (version(["tar", "--version"]), version(["bsdtar", "--version"]),
                                          version(["wine", "--version"]) if WINE else "Wine not run")]
    lines += ["", "Inputs: \"many small\" %d members in 50 directories, package %.1f MB; \"few large\" "
              "%d members of 4 and 8 MiB, package %.1f MB; guarded copy of %d files (%.1f MB). "
              "%d timed runs per contender, alternating, after one untimed check run; medians."
              % (MEMBERS, pkg_small / 1e6, LARGE, pkg_large / 1e6, copy_files, copy_bytes / 1e6, RUNS), ""]

    def table(g, title, ref):
        out = ["**%s**" % title, "", "| Contender | median s | min s | max s | peak memory MiB | ratio to %s |" % ref,
               "|---|---:|---:|---:|---:|---:|"]
        base = median(results, g, ref)
        for name, r in results[g].items():
            out.append("| %s | %.3f | %.3f | %.3f | %.1f | %.2fx |" % (
                name, statistics.median(r["times"]), min(r["times"]), max(r["times"]),
                statistics.median(r["peaks"]) / 2**20, statistics.median(r["times"]) / base))
        return out + [""]

    lines += table("small", "Native, many small", "GNU tar -xf")
    lines += table("large", "Native, few large", "bsdtar -xf")
    lines += table("update", "Native update of many small over the version before", "GNU tar -xf")
    lines += table("copy", "Native, guarded copy", "cp -p")
    if WINE:
        lines += table("wsmall", "Wine, many small (timed inside the process)", "floor (Win32)")
        lines += table("wcopy", "Wine, guarded copy (timed inside the process)", "floor (Win32)")

    targets = [
        ("Native many small: quillmar / GNU tar", median(results, "small", "quillmar expand") /
         median(results, "small", "GNU tar -xf"), 0.75, "x"),
        ("Native many small: quillmar / floor", median(results, "small", "quillmar expand") /
         median(results, "small", "floor (native)"), 1.15, "x"),
        ("Native few large: quillmar / bsdtar", median(results, "large", "quillmar expand") /
         median(results, "large", "bsdtar -xf"), 1.2, "x"),
        ("Native few large: peak memory - package (MiB)",
         (peak(results, "large", "quillmar expand") - pkg_large) / 2**20, 64.0, " MiB"),
        ("Native copy: MyCopyFiles / cp -p", median(results, "copy", "quillmar copy (MyCopyFiles)") /
         median(results, "copy", "cp -p"), 0.75, "x"),
        ("Native many small: --whole / default", median(results, "small", "quillmar expand --whole") /
         median(results, "small", "quillmar expand"), 1.10, "x"),
        # An update flushes what it replaces; a tmpfs has no disk to wait for.
        ("Native update: quillmar / GNU tar", median(results, "update", "quillmar expand") /
         median(results, "update", "GNU tar -xf"), 1.2 if ON_TMPFS else 1.5, "x"),
        ("Native update, 1 thread: quillmar / GNU tar", median(results, "update", "quillmar expand, 1 thread") /
         median(results, "update", "GNU tar -xf"), 1.2 if ON_TMPFS else 1.5, "x"),
        ("Native update: --whole / default", median(results, "update", "quillmar expand --whole") /
         median(results, "update", "quillmar expand"), 1.10, "x"),
        ("Native --whole: peak memory - package (MiB)",
         max(peak(results, g, "quillmar expand --whole") - size
             for g, size in (("small", pkg_small), ("update", pkg_small), ("large", pkg_large))) / 2**20,
         64.0, " MiB"),
    ]
    if WINE:
        targets += [
            ("Wine many small: ExpandPackage / floor", median(results, "wsmall", "ExpandPackage (quillmar.dll)") /
             median(results, "wsmall", "floor (Win32)"), 0.8, "x"),
            ("Wine copy: MyCopyFiles / floor", median(results, "wcopy", "MyCopyFiles (quillmar.dll)") /
             median(results, "wcopy", "floor (Win32)"), 0.8, "x"),
            ("Wine many small: whole / default", median(results, "wsmall", "ExpandPackage, QUILLMAR_WHOLE_PACKAGE=1") /
             median(results, "wsmall", "ExpandPackage (quillmar.dll)"), 1.10, "x"),
        ]
    lines += ["**Targets**", "", "| Measure | this run | target | met |", "|---|---:|---:|---|"]
    print("== ratios against the targets")
    for what, value, limit, unit in targets:
        ok = "yes" if value <= limit else "NO"
        fmt = "%.2f%s" if unit == "x" else "%.1f%s"
        lines.append("| %s | %s | <= %s | %s |" % (what, fmt % (value, unit), fmt % (limit, unit), ok))
        print("   %-48s %10s  (target <= %s)  %s" % (what, fmt % (value, unit), fmt % (limit, unit), ok))
    lines += ["", "<!-- bench:end -->"]
    block = "\n".join(lines) + "\n"

    text = ""
    if os.path.exists(OUT):
        text = open(OUT).read()
    begin, end = text.find("<!-- bench:begin"), text.find("<!-- bench:end -->")
    if begin >= 0 and end > begin:
        text = text[:begin] + block + text[end + len("<!-- bench:end -->\n"):]
    else:
        text = "# Performance\n\n" + block + text
    with open(OUT, "w") as f:
        f.write(text)
    print("table written to %s" % OUT)
    remove_many(TARGETS)


if __name__ == "__main__":
    main()
