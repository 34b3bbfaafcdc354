#!/usr/bin/env python3
"""SIGKILL at many points during silent fix runs on a larger hive.

The hive (built with hive_tool from a generated store, big_store.py in tests/support: 64
IPoIB adapters among a few thousand ordinary keys, so a silent fix makes 43 writes) is
restored before each run; each run is killed after a delay spread evenly over an uninterrupted run's time. After each kill the hive
must open with hivex and hold, for every value, either what it held before the run or what an
uninterrupted run leaves, with the same keys; and no file may be left beside it. Every fifth
killed hive is then fixed to the end by a second run, which must leave what an uninterrupted
run leaves.

A kill can land between naming the new hive and renaming it over the old one (two system
calls); that leaves the complete new hive under the temporary name, which the next write
removes. Such a kill is told with a line and must leave exactly that: a complete hive under the
temporary name, which the second run then made removes.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import hive_state
import run_case

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import big_store  # noqa: E402
from big_store import NEEDS_E7, NOTHING, UNRECOGNIZED  # noqa: E402

ADAPTERS = 64
ORDINARY_KEYS = 3000
KILLS = 40
TEMPORARY = ".SYSTEM.ipoib-guidmask-new"


def generate_store(path):
    """Known with mask 0xe7, known with nothing to write and unrecognized port GUIDs in turn."""
    kinds = [[NEEDS_E7, NOTHING, UNRECOGNIZED][index % 3] for index in range(ADAPTERS)]
    model = big_store.StoreModel(kinds, ORDINARY_KEYS)
    with open(path, "wb") as handle:
        handle.write(model.store_bytes([None] * ADAPTERS))


def values_of(state):
    return {(key, name): data for key, values in state.items() for name, data in values.items()}


def between(state, old, new):
    """Lines saying how state is not old with some values as new has them."""
    problems = []
    if set(state) != set(old):
        problems.append(f"keys differ: {sorted(set(state) ^ set(old))[:5]}")
    now, before, after = values_of(state), values_of(old), values_of(new)
    for value in set(now) | set(before) | set(after):
        if now.get(value) not in (before.get(value), after.get(value)):
            problems.append(f"{value}: {now.get(value)!r} is neither {before.get(value)!r} "
                            f"nor {after.get(value)!r}")
    return problems


def run(program, hive, arguments):
    env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=hive, LANG="C")
    return subprocess.Popen([run_case.PROGRAM_PATH_SEEN] + arguments, executable=program,
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--hive-tool", required=True)
    arguments = parser.parse_args()
    work = tempfile.mkdtemp(prefix="ipoib-guidmask-hive-kill-")
    try:
        return kill_runs(arguments.program, arguments.hive_tool, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def kill_runs(program, hive_tool, work):
    store = os.path.join(work, "store.reg")
    original = os.path.join(work, "original.hive")
    folder = os.path.join(work, "run")
    hive = os.path.join(folder, "SYSTEM")
    os.mkdir(folder)
    generate_store(store)
    hive_state.build_hive(hive_tool, store, original)
    old, problem = hive_state.dump_hive(hive_tool, original)
    assert old is not None, problem

    shutil.copy(original, hive)
    started = time.monotonic()
    status = run(program, hive, ["-f", "-s"]).wait()
    duration = time.monotonic() - started
    new, problem = hive_state.dump_hive(hive_tool, hive)
    assert status == 0 and new is not None, (status, problem)
    written = len(values_of(new)) - len(values_of(old))
    print(f"{os.path.getsize(original)} bytes of hive, {written} values written in "
          f"{duration:.2f} s uninterrupted")
    if written != 43:
        print(f"expected 43 values written, found {written}")
        return 1

    passed = failed = in_window = 0
    progress = []  # values written when each run was killed
    for kill in range(KILLS):
        shutil.copy(original, hive)
        process = run(program, hive, ["-f", "-s"])
        time.sleep(duration * (kill + 0.5) / KILLS)
        process.send_signal(signal.SIGKILL)
        process.wait()
        problems = []
        state, problem = hive_state.dump_hive(hive_tool, hive)
        if state is None:
            problems.append(f"hivex cannot read the hive: {problem}")
        else:
            problems += between(state, old, new)
            progress.append(len(between(state, old, old)))
        left = sorted(set(os.listdir(folder)) - {"SYSTEM"})
        if left == [TEMPORARY]:
            in_window += 1
            left_state, problem = hive_state.dump_hive(hive_tool, os.path.join(folder, TEMPORARY))
            if left_state is None or between(left_state, old, new):
                problems.append("the file left under the temporary name is no complete hive")
            print(f"kill {kill}: landed between naming the new hive and renaming it")
        elif left:
            problems.append(f"files left beside the hive: {left}")
        if kill % 5 == 0 or left:
            if run(program, hive, ["-f", "-s"]).wait() != 0:
                problems.append("a second run failed")
            state, problem = hive_state.dump_hive(hive_tool, hive)
            if state != new:
                problems.append("a second run did not finish the fix")
            if os.listdir(folder) != ["SYSTEM"]:
                problems.append(f"files left after a second run: {os.listdir(folder)}")
        for line in problems:
            print(f"kill {kill} after {duration * (kill + 0.5) / KILLS:.3f} s: {line}")
        failed += 1 if problems else 0
        passed += 0 if problems else 1
    print(f"values written when killed: {progress}")
    print(f"kills inside the rename window: {in_window}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
