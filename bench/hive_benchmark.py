#!/usr/bin/env python3
"""Check runs on the real SYSTEM hives of tests/data/hives, beside their yardsticks.

- a check run on the clean SYSTEM (12 MB) against `hivexget SYSTEM Select Current`, which
  opens the same hive and reads one value (target: within 2x);
- a check run on the dirty SYSTEM_B with its logs against a check run on the same hive
  replayed in advance (target: within 2x), and against one on that replayed hive held in
  memory (tmpfs), as the run holds its replay: on a machine where mapping a page costs much,
  a file in memory is slower to read than one just written to disk, and that share of the
  time is the reader's, not the replay's;
- each run's peak memory against the hive's size (target: within 2x).
Each figure is the best of several runs.
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data", "hives")
RUNS = 7


def unpack(name, target):
    with open(target, "wb") as out:
        subprocess.run(["xz", "-dc", os.path.join(DATA, name + ".xz")], stdout=out, check=True)


def measure(command, env=None):
    """Best wall time (s) and peak resident memory (bytes) of a command."""
    best_time, best_memory = None, None
    for _ in range(RUNS):
        start = time.perf_counter()
        child = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
        if status != 0:
            sys.exit("failed: %s" % " ".join(command))
        memory = usage.ru_maxrss * 1024
        best_time = elapsed if best_time is None else min(best_time, elapsed)
        best_memory = memory if best_memory is None else min(best_memory, memory)
    return best_time, best_memory


def check(program, hive):
    return measure([program], dict(os.environ, IPOIB_GUIDMASK_REGISTRY=hive))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--hive-tool", required=True)
    args = parser.parse_args()
    if shutil.which("hivexget") is None:
        sys.exit("hivexget (libhivex-bin) is needed")
    work = tempfile.mkdtemp()
    try:
        for name in ("SYSTEM", "SYSTEM_B", "SYSTEM_B.LOG1", "SYSTEM_B.LOG2"):
            unpack(name, os.path.join(work, name))
        replayed_dir = os.path.join(work, "replayed")
        os.mkdir(replayed_dir)
        replayed = os.path.join(replayed_dir, "SYSTEM_B")
        subprocess.run([args.hive_tool, "replay", os.path.join(work, "SYSTEM_B"), replayed,
                        os.path.join(work, "SYSTEM_B.LOG1"), os.path.join(work, "SYSTEM_B.LOG2")],
                       check=True)
        system = os.path.join(work, "SYSTEM")
        dirty = os.path.join(work, "SYSTEM_B")
        rows = [
            ("hivexget SYSTEM Select Current", measure(["hivexget", system, "Select", "Current"]),
             system),
            ("check run, SYSTEM (clean)", check(args.program, system), system),
            ("check run, SYSTEM_B replayed in advance", check(args.program, replayed), replayed),
            ("check run, SYSTEM_B with its logs", check(args.program, dirty), dirty),
        ]
        if os.path.isdir("/dev/shm"):
            memory_dir = tempfile.mkdtemp(dir="/dev/shm")
            try:
                held = os.path.join(memory_dir, "SYSTEM_B")
                shutil.copyfile(replayed, held)
                rows.append(("check run, SYSTEM_B replayed, in memory", check(args.program, held),
                             replayed))
            finally:
                shutil.rmtree(memory_dir)
        print("%-42s %10s %12s %14s" % ("run", "wall (s)", "peak (MB)", "peak / hive"))
        for name, (seconds, memory), hive in rows:
            print("%-42s %10.4f %12.1f %13.2fx" % (name, seconds, memory / 1e6,
                                                   memory / os.path.getsize(hive)))
        wall = [row[1][0] for row in rows]
        print("clean check / hivexget:            %.2fx (target 2x)" % (wall[1] / wall[0]))
        print("check with logs / replayed check:  %.2fx (target 2x)" % (wall[3] / wall[2]))
        if len(wall) > 4:
            print("check with logs / replayed check in memory: %.2fx" % (wall[3] / wall[4]))
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
