#!/usr/bin/env python3
"""Turns the install benchmark's measurements into markdown tables: sizes,
install times (median and min-max of the timed rounds), peak memory, and how
they stand against the goals.

Usage: report.py WORK_DIR STUB COMMAND
  WORK_DIR  the benchmark's folder: the skins, the installers, runs.txt (the
            timing driver's output) and loadavg-before.txt
  STUB      the installer without a skin
  COMMAND   the command that reproduces the measurement, printed with it
"""
import datetime
import os
import platform
import statistics
import subprocess
import sys

SIZES = ["1MiB", "64MiB"]
SKIN = "Bench-{size}.ovs"
OURS = "setup [Bench-{size}.ovs].exe"
NSIS = {"nsis-store": "nsis-store-{size}.exe", "nsis-zlib": "nsis-zlib-{size}.exe"}

ROWS = [
    ("ours", "our installer (skinpack)"),
    ("nsis-store", "NSIS, `SetCompress off`"),
    ("nsis-zlib", "NSIS, default compression (zlib)"),
    ("copy", "`cmd /c copy` of the skin file"),
    ("noop", "do-nothing PE (process start)"),
    ("noop-skin", "do-nothing PE carrying the skin as a resource"),
    ("write", "write sequence in-process, no flush"),
    ("flush", "write sequence in-process, with FlushFileBuffers"),
]
BOXED = ["ours", "nsis-store", "nsis-zlib"]


def read_runs(path):
    """{label: [(total ms, box ms, flush ms, peak working set, peak pagefile)]} of the timed rounds."""
    runs = {}
    with open(path, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            fields = line.split()
            if len(fields) != 8 or fields[0] != "run" or fields[2] == "0":
                continue
            runs.setdefault(fields[1], []).append(
                (float(fields[3]), float(fields[4]), float(fields[5]), int(fields[6]), int(fields[7])))
    return runs


def label(case, size):
    return case if case == "noop" else f"{case}@{size}"


def median(values):
    return statistics.median(values)


def spread(values, digits=0):
    return f"{median(values):,.{digits}f} ({min(values):,.{digits}f}–{max(values):,.{digits}f})"


def first_line(command):
    try:
        out = subprocess.run(command, capture_output=True, text=True, check=False)
        return (out.stdout or out.stderr).strip().splitlines()[0]
    except (OSError, IndexError):
        return "unknown"


def machine():
    model = "unknown CPU"
    with open("/proc/cpuinfo", encoding="utf-8") as info:
        for line in info:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    return model, os.cpu_count()


def main():
    if len(sys.argv) != 4:
        sys.exit("usage: report.py WORK_DIR STUB COMMAND")
    work, stub, command = sys.argv[1:]
    runs = read_runs(os.path.join(work, "runs.txt"))
    missing = [label(case, size) for case, _ in ROWS for size in SIZES if label(case, size) not in runs]
    if missing:
        sys.exit(f"report: no timed runs of {', '.join(missing)} in {work}/runs.txt")
    rounds = min(len(values) for values in runs.values())

    def size_of(name, size):
        return os.path.getsize(os.path.join(work, name.format(size=size)))

    def total(case, size):
        return median([run[0] for run in runs[label(case, size)]])

    model, cores = machine()
    with open(os.path.join(work, "loadavg-before.txt"), encoding="utf-8") as before:
        load_before = " ".join(before.read().split()[:3])
    with open("/proc/loadavg", encoding="utf-8") as after:
        load_after = " ".join(after.read().split()[:3])
    emulated = os.path.exists("/proc/sys/fs/binfmt_misc/qemu-i386")

    print("#### Size (bytes; overhead = executable − skin)\n")
    print("| installer | no skin | 1 MiB skin | 64 MiB skin | overhead, 1 MiB | overhead, 64 MiB |")
    print("|---|---:|---:|---:|---:|---:|")
    skin = {size: size_of(SKIN, size) for size in SIZES}
    exes = {"ours": OURS}
    exes.update(NSIS)
    for case, name in ROWS[:3]:
        sizes = [size_of(exes[case], size) for size in SIZES]
        empty = f"{os.path.getsize(stub):,}" if case == "ours" else "–"
        print(f"| {name} | {empty} | {sizes[0]:,} | {sizes[1]:,} | "
              f"{sizes[0] - skin['1MiB']:,} | {sizes[1] - skin['64MiB']:,} |")

    print(f"\n#### Install time under Wine (ms: median (min–max) of {rounds} interleaved rounds)\n")
    print("| what | 1 MiB | 64 MiB | 64 MiB, until the box shows |")
    print("|---|---:|---:|---:|")
    for case, name in ROWS:
        cells = [spread([run[0] for run in runs[label(case, size)]]) for size in SIZES]
        until_box = spread([run[1] for run in runs[label(case, "64MiB")]]) if case in BOXED else "–"
        print(f"| {name} | {cells[0]} | {cells[1]} | {until_box} |")

    print("\n#### Peak memory of the installer process (MiB: median (min–max), read while its box is up)\n")
    print("| installer | working set, 1 MiB | working set, 64 MiB | pagefile, 1 MiB | pagefile, 64 MiB |")
    print("|---|---:|---:|---:|---:|")
    mib = 1 << 20
    for case, name in ROWS[:3]:
        working = [spread([run[3] / mib for run in runs[label(case, size)]], 1) for size in SIZES]
        pagefile = [spread([run[4] / mib for run in runs[label(case, size)]], 1) for size in SIZES]
        print(f"| {name} | {working[0]} | {working[1]} | {pagefile[0]} | {pagefile[1]} |")

    overhead = size_of(OURS, "64MiB") - skin["64MiB"]
    nsis_best = {size: min(total("nsis-store", size), total("nsis-zlib", size)) for size in SIZES}
    floor = total("noop", "64MiB") + total("copy", "64MiB")
    ratio = total("ours", "64MiB") / floor
    flush_call = {size: [run[2] for run in runs[label("flush", size)]] for size in SIZES}
    print("\n#### Goals\n")
    print(f"- Overhead ≤ 16 KiB (16,384 bytes): {overhead:,} bytes — "
          f"{'met' if overhead <= 16384 else 'not met'}.")
    for size in SIZES:
        ours = total("ours", size)
        print(f"- No slower than NSIS at {size[:-3]} MiB: ours {ours:,.0f} ms, faster NSIS build {nsis_best[size]:,.0f} ms — "
              f"{'met' if ours <= nsis_best[size] else 'not met'}.")
    print(f"- Within 1.2× of do-nothing PE + copy at 64 MiB: {total('ours', '64MiB'):,.0f} ms against "
          f"{total('noop', '64MiB'):,.0f} + {total('copy', '64MiB'):,.0f} = {floor:,.0f} ms, {ratio:.2f}× — "
          f"{'met' if ratio <= 1.2 else 'not met'}.")
    flush = median(flush_call["64MiB"])
    print(f"- The flush before the move: the FlushFileBuffers call takes {spread(flush_call['64MiB'])} ms at "
          f"64 MiB, {spread(flush_call['1MiB'], 1)} ms at 1 MiB; without it our installer would take about "
          f"{total('ours', '64MiB') - flush:,.0f} ms at 64 MiB, "
          f"{(total('ours', '64MiB') - flush) / floor:.2f}× the floor above.")
    print("\n#### Machine\n")
    print(f"- {model}, {cores} cores; load average {load_before} before, {load_after} after")
    print(f"- {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}; {platform.system()} {platform.release()}; "
          f"{first_line(['wine', '--version'])}; makensis {first_line(['makensis', '-VERSION'])}")
    if emulated:
        print("- 32-bit code runs under qemu-user (i386 emulation): process starts cost far more than on real "
              "hardware")
    print(f"- Reproduce: `{command}`")


if __name__ == "__main__":
    main()
