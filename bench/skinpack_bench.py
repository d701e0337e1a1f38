#!/usr/bin/env python3
"""How long making one installer takes: skinpack against a plain copy of the
skin (the floor: the skin's bytes must be read and written once) and against
the compiler route (windres, then a link of the installer's objects).

    skinpack_bench.py SKINPACK WIN32_BUILD WORK_DIR [--rounds N]

Skins of 1 MiB and 64 MiB of incompressible bytes are made in WORK_DIR. Each
round runs every method once, in turn, so that a slow spell of the machine
hits all of them alike; each run writes a new file. Prints a markdown table
of medians with the spread (fastest to slowest run).
"""
import argparse
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import time

SIZES = [("1 MiB", 1 << 20), ("64 MiB", 64 << 20)]


def make_skin(path, size, seed):
    if os.path.exists(path) and os.path.getsize(path) == size:
        return
    generator = random.Random(seed)
    with open(path, "wb") as f:
        left = size
        while left:
            chunk = min(left, 1 << 20)
            f.write(generator.randbytes(chunk))
            left -= chunk


def timed(command, cwd=None):
    start = time.perf_counter_ns()
    subprocess.run(command, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    return (time.perf_counter_ns() - start) / 1e6


def compiler_route(build, skin, out_dir):
    """The commands the CMake build runs for one installer, without CMake."""
    objects = os.path.join(build, "installer", "CMakeFiles", "installer_code.dir")
    icon = os.path.join(build, "resources", "palette.ico")
    name = os.path.basename(skin)
    rc = os.path.join(out_dir, "skin.rc")
    with open(rc, "w") as f:
        f.write('LANGUAGE 9, 1\n"%s" SKIN "%s"\nLANGUAGE 9, 1\n102 ICON "%s"\n' % (name.upper(), skin, icon))
    res = os.path.join(out_dir, "skin.res")
    exe = os.path.join(out_dir, "setup [%s].exe" % name)
    return [
        ["i686-w64-mingw32-windres", "-O", "coff", rc, res],
        ["i686-w64-mingw32-g++", "-mwindows", "-s", "-Wl,--gc-sections", "-Wl,--no-insert-timestamp", "-nostartfiles", "-nostdlib",
         "-Wl,--entry=_StartInstaller@0", "-Wl,--major-image-version,0,--minor-image-version,0", res,
         os.path.join(objects, "start.cpp.obj"),
         os.path.join(objects, "main.cpp.obj"),
         os.path.join(objects, "__", "payload", "payload.cpp.obj"),
         os.path.join(objects, "__", "skin_name", "skin_name.cpp.obj"),
         "-o", exe, "-lkernel32", "-luser32", "-lshell32", "-ladvapi32", "-lmsvcrt", "-lgcc"],
    ], exe


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def spread(times):
    return "%.1f ms (%.1f–%.1f)" % (statistics.median(times), min(times), max(times))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("skinpack")
    parser.add_argument("win32_build")
    parser.add_argument("work")
    parser.add_argument("--rounds", type=int, default=9)
    args = parser.parse_args()
    skinpack = os.path.abspath(args.skinpack)
    build = os.path.abspath(args.win32_build)
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)

    rows = []
    for label, size in SIZES:
        skin = os.path.join(work, "Bench%d.ovs" % (size >> 20))
        make_skin(skin, size, size)
        out = os.path.join(work, "out")
        times = {"cp": [], "skinpack": [], "compiler route": []}
        for _ in range(args.rounds):
            for method in times:
                shutil.rmtree(out, ignore_errors=True)
                os.makedirs(out)
                if method == "cp":
                    times[method].append(timed(["cp", skin, os.path.join(out, "copy.ovs")]))
                elif method == "skinpack":
                    times[method].append(timed([skinpack, "-o", out, skin]))
                    made = os.path.join(out, "setup [%s].exe" % os.path.basename(skin))
                    if os.path.getsize(made) < size:
                        sys.exit("skinpack wrote %d bytes for a skin of %d" % (os.path.getsize(made), size))
                else:
                    commands, exe = compiler_route(build, skin, out)
                    times[method].append(sum(timed(c) for c in commands))
                    if os.path.getsize(exe) < size:
                        sys.exit("the compiler route wrote %d bytes for a skin of %d" % (os.path.getsize(exe), size))
        shutil.rmtree(out, ignore_errors=True)
        floor = statistics.median(times["cp"])
        ours = statistics.median(times["skinpack"])
        compiled = statistics.median(times["compiler route"])
        rows.append((label, spread(times["cp"]), spread(times["skinpack"]), "%.2fx" % (ours / floor),
                     spread(times["compiler route"]), "%.0fx" % (compiled / ours)))

    print("Making one installer: medians of %d interleaved runs (fastest–slowest), %s, %d cores, %s" %
          (args.rounds, cpu_model(), os.cpu_count(), time.strftime("%Y-%m-%d")))
    print()
    print("| skin | cp (floor) | skinpack | skinpack / cp | compiler route | compiler route / skinpack |")
    print("|---|---|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")


if __name__ == "__main__":
    main()
