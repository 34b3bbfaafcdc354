#!/usr/bin/env python3
"""SIGKILL at many points during silent fix runs on a large store, .reg or hive (--leg).

The store is generated (big_store.py in tests/support) and restored before each run; each run
is killed after a delay spread evenly over an uninterrupted run's time. After each kill no file
may be left beside the store, and every fifth killed store is then fixed to the end by a second
run, which must leave exactly what an uninterrupted run leaves.

reg: about 4.5 MB of UTF-16LE, 150 IPoIB adapters among 9,000 ordinary keys; a silent fix run
  makes 100 writes, each of which replaces the whole file. After a kill the store must be byte
  for byte one of the states a run passes through (the old file, or the complete file after
  some number of writes) and must load (a check run on it ends with 0 and says nothing on
  standard error); the kills must fall on at least 3 states.
hive: built with hive_tool from a store of 64 adapters among 3,000 ordinary keys; a silent fix
  makes 43 writes. After a kill the hive must open with hivex and hold, for every value, either
  what it held before the run or what an uninterrupted run leaves, with the same keys.

A kill can land between naming the new file and renaming it over the store (two system calls);
that leaves the complete next state under the temporary name, which the next write removes.
Such a kill is told with a line and must leave exactly that, and the second run then made must
remove it.
"""
import argparse
import hashlib
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

KILLS = 40


def start(program, store, arguments):
    env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store, LANG="C")
    return subprocess.Popen([run_case.PROGRAM_PATH_SEEN] + arguments, executable=program,
                            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


class RegLeg:
    """The states are the store's exact bytes, numbered by the writes done."""

    MASK = 0x3F
    FIX = ["-f", "-s", "-d", "%x" % MASK]

    def __init__(self, program, work):
        self.program = program
        self.folder = work
        self.store = os.path.join(work, "store.reg")
        self.temporary = big_store.TEMPORARY
        kinds = [[NEEDS_E7, UNRECOGNIZED, NOTHING][index % 3] for index in range(150)]
        model = big_store.StoreModel(kinds, 9000)
        self.states = [model.store_bytes(masks) for masks in model.silent_fix_states(self.MASK)]
        self.state_of = {hashlib.sha256(data).digest(): n for n, data in enumerate(self.states)}
        self.seen = set()

    def restore(self):
        with open(self.store, "wb") as handle:
            handle.write(self.states[0])

    def read(self, path):
        with open(path, "rb") as handle:
            return handle.read()

    def check_uninterrupted(self, status):
        if status != 0 or self.read(self.store) != self.states[-1]:
            return f"an uninterrupted fix run does not leave the model's store (status {status})"
        print(f"store {len(self.states[0]) / 1e6:.1f} MB, {len(self.states) - 1} writes")
        return None

    def check_killed(self):
        """Problems with the killed store, and the number of its state (None when it has none,
        which leaves nothing to check further)."""
        number = self.state_of.get(hashlib.sha256(self.read(self.store)).digest())
        if number is None:
            return ["the store is none of the run's states"], None
        self.seen.add(number)
        env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=self.store, LANG="C")
        completed = subprocess.run([self.program, "-s"], env=env, capture_output=True,
                                   stdin=subprocess.DEVNULL, timeout=600)
        if completed.returncode != 0 or completed.stderr:
            return [f"the store does not load: status {completed.returncode}, "
                    f"{completed.stderr[:300]!r}"], number
        return [], number

    def left_is_next(self, path, number):
        return number + 1 < len(self.states) and self.read(path) == self.states[number + 1]

    def is_complete(self):
        return self.read(self.store) == self.states[-1]

    def summary(self):
        print(f"states seen (writes done): {sorted(self.seen)}")
        if len(self.seen) < 3:
            return ["the kills fell on fewer than 3 states: the delays missed the run"]
        return []


class HiveLeg:
    """The states are what hive_tool dumps: every value before the run (old) or after it (new)."""

    FIX = ["-f", "-s"]

    def __init__(self, program, work, hive_tool):
        self.hive_tool = hive_tool
        self.folder = os.path.join(work, "run")
        self.store = os.path.join(self.folder, "SYSTEM")
        self.temporary = ".SYSTEM.ipoib-guidmask-new"
        self.original = os.path.join(work, "original.hive")
        os.mkdir(self.folder)
        kinds = [[NEEDS_E7, NOTHING, UNRECOGNIZED][index % 3] for index in range(64)]
        model = big_store.StoreModel(kinds, 3000)
        reg = os.path.join(work, "store.reg")
        with open(reg, "wb") as handle:
            handle.write(model.store_bytes([None] * len(kinds)))
        hive_state.build_hive(hive_tool, reg, self.original)
        self.old, problem = hive_state.dump_hive(hive_tool, self.original)
        assert self.old is not None, problem
        self.new = None
        self.progress = []  # values written when each run was killed

    def restore(self):
        shutil.copy(self.original, self.store)

    def check_uninterrupted(self, status):
        self.new, problem = hive_state.dump_hive(self.hive_tool, self.store)
        if status != 0 or self.new is None:
            return f"an uninterrupted fix run failed: status {status}, {problem}"
        written = len(values_of(self.new)) - len(values_of(self.old))
        print(f"{os.path.getsize(self.original)} bytes of hive, {written} values written")
        return None if written == 43 else f"expected 43 values written, found {written}"

    def check_killed(self):
        state, problem = hive_state.dump_hive(self.hive_tool, self.store)
        if state is None:
            return [f"hivex cannot read the hive: {problem}"], 0
        self.progress.append(len(between(state, self.old, self.old)))
        return between(state, self.old, self.new), 0

    def left_is_next(self, path, _number):
        state, _ = hive_state.dump_hive(self.hive_tool, path)
        return state is not None and not between(state, self.old, self.new)

    def is_complete(self):
        return hive_state.dump_hive(self.hive_tool, self.store)[0] == self.new

    def summary(self):
        print(f"values written when killed: {self.progress}")
        return []


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


def kill_once(program, leg, delay):
    """Problems after one run killed after delay seconds, whether it left the new file, and
    whether the store is in a state to check further."""
    leg.restore()
    process = start(program, leg.store, leg.FIX)
    time.sleep(delay)
    process.send_signal(signal.SIGKILL)
    process.wait()
    problems, number = leg.check_killed()
    if number is None:
        return problems, False, False
    left = sorted(set(os.listdir(leg.folder)) - {os.path.basename(leg.store)})
    in_window = left == [leg.temporary]
    if in_window:
        print(f"killed after {delay:.3f} s between naming the new file and renaming it")
        if not leg.left_is_next(os.path.join(leg.folder, leg.temporary), number):
            problems.append("the file left under the temporary name is not the next state")
    elif left:
        problems.append(f"files left beside the store: {left}")
    return problems, in_window, True


def finish(program, leg):
    """Problems after a second fix run, which must finish the fix and remove any file left."""
    problems = []
    if start(program, leg.store, leg.FIX).wait() != 0:
        problems.append("a second run failed")
    if not leg.is_complete():
        problems.append("a second run did not finish the fix")
    if os.listdir(leg.folder) != [os.path.basename(leg.store)]:
        problems.append(f"files left after a second run: {os.listdir(leg.folder)}")
    return problems


def kill_runs(program, leg, kills):
    leg.restore()
    started = time.monotonic()
    status = start(program, leg.store, leg.FIX).wait()
    duration = time.monotonic() - started
    problem = leg.check_uninterrupted(status)
    if problem:
        print(problem)
        return 1
    print(f"uninterrupted fix run {duration:.2f} s")

    failed = in_window = 0
    for kill in range(kills):
        delay = duration * (kill + 0.5) / kills
        problems, left, known = kill_once(program, leg, delay)
        in_window += left
        if known and (left or kill % 5 == 0):
            problems += finish(program, leg)
        for line in problems:
            print(f"kill {kill} after {delay:.3f} s: {line}")
        failed += 1 if problems else 0
    problems = leg.summary()
    for line in problems:
        print(line)
    print(f"{kills} kills, {in_window} inside the rename window, {failed} failed")
    return 1 if failed or problems else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--leg", choices=["reg", "hive"], required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--hive-tool", help="the hive leg's hive_tool")
    parser.add_argument("--kills", type=int, default=KILLS)
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.program)
    if arguments.leg == "hive" and not arguments.hive_tool:
        parser.error("the hive leg needs --hive-tool")
    work = tempfile.mkdtemp(prefix=f"ipoib-guidmask-{arguments.leg}-kill-")
    try:
        if arguments.leg == "reg":
            leg = RegLeg(program, work)
        else:
            leg = HiveLeg(program, work, arguments.hive_tool)
        return kill_runs(program, leg, arguments.kills)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
