#!/usr/bin/env python3
"""SIGKILL at many points during silent fix runs on a large .reg store.

The store (big_store.py: about 4.5 MB of UTF-16LE, 150 IPoIB adapters among 9,000
ordinary keys) takes 100 writes in a silent fix run, each of which replaces the whole file.
It is restored before each run, and each run is killed after a delay spread evenly over an
uninterrupted run's time. After each kill the store must be byte for byte one of the states a
run passes through (the old file, or the complete file after some number of writes), must
load (a check run on it ends with 0 and says nothing on standard error), and no file may be
left beside it. Every fifth killed store is then fixed to the end by a second run, which must
leave exactly what an uninterrupted run leaves.

A kill can land between naming the new file and renaming it over the store (two system
calls); that leaves the complete next state under the temporary name, which the next write
removes. Such a kill is told with a line and must leave exactly that, and the second run then
made must remove it.
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

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import big_store  # noqa: E402
from big_store import NEEDS_E7, NOTHING, UNRECOGNIZED  # noqa: E402

ADAPTERS = 150
ORDINARY_KEYS = 9000
KILLS = 40
MASK = 0x3F


def run(program, store, arguments):
    environment = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store, LANG="C")
    return subprocess.run([program] + arguments, env=environment, capture_output=True,
                          stdin=subprocess.DEVNULL, timeout=600)


def check_loads(program, store, failures, label):
    completed = run(program, store, ["-s"])
    if completed.returncode != 0 or completed.stderr:
        failures.append("%s: the store does not load: status %d, %r"
                        % (label, completed.returncode, completed.stderr[:300]))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--kills", type=int, default=KILLS)
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.program)

    kinds = [[NEEDS_E7, UNRECOGNIZED, NOTHING][index % 3] for index in range(ADAPTERS)]
    model = big_store.StoreModel(kinds, ORDINARY_KEYS)
    states = [model.store_bytes(masks) for masks in model.silent_fix_states(MASK)]
    state_of = {hashlib.sha256(data).digest(): number for number, data in enumerate(states)}
    original, complete = states[0], states[-1]
    fix = ["-f", "-s", "-d", "%x" % MASK]

    work = tempfile.mkdtemp(prefix="reg-store-kill-")
    store = os.path.join(work, "store.reg")
    failures = []
    try:
        with open(store, "wb") as handle:
            handle.write(original)
        started = time.monotonic()
        completed = run(program, store, fix)
        whole_run = time.monotonic() - started
        with open(store, "rb") as handle:
            if completed.returncode != 0 or handle.read() != complete:
                print("an uninterrupted fix run does not leave the model's store "
                      "(status %d, %r)" % (completed.returncode, completed.stderr[:300]))
                return 1
        print("store %.1f MB, %d writes, uninterrupted fix run %.2f s"
              % (len(original) / 1e6, len(states) - 1, whole_run))

        seen = set()
        left_behind = 0
        environment = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store, LANG="C")
        for kill in range(arguments.kills):
            label = "kill %d" % kill
            with open(store, "wb") as handle:
                handle.write(original)
            delay = whole_run * (kill + 0.5) / arguments.kills
            process = subprocess.Popen([program] + fix, env=environment,
                                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(delay)
            process.send_signal(signal.SIGKILL)
            process.wait()
            with open(store, "rb") as handle:
                number = state_of.get(hashlib.sha256(handle.read()).digest())
            if number is None:
                failures.append("%s after %.3f s: the store is none of the run's states"
                                % (label, delay))
                continue
            seen.add(number)
            check_loads(program, store, failures, label)
            beside = sorted(set(os.listdir(work)) - {"store.reg"})
            if beside == [big_store.TEMPORARY]:
                left_behind += 1
                print("%s: killed between naming the new file and renaming it" % label)
                with open(os.path.join(work, beside[0]), "rb") as handle:
                    if number + 1 >= len(states) or handle.read() != states[number + 1]:
                        failures.append("%s: the file left behind is not the next state" % label)
            elif beside:
                failures.append("%s: files left beside the store: %s" % (label, beside))
                continue
            if beside or kill % 5 == 0:
                completed = run(program, store, fix)
                with open(store, "rb") as handle:
                    if completed.returncode != 0 or handle.read() != complete:
                        failures.append("%s: the second run did not finish the fix" % label)
                if os.listdir(work) != ["store.reg"]:
                    failures.append("%s: the second run left %s" % (label, os.listdir(work)))
        print("%d kills; states seen (writes done): %s; %d left the next state under the "
              "temporary name" % (arguments.kills, sorted(seen), left_behind))
        if len(seen) < 3:
            failures.append("the kills fell on fewer than 3 states: the delays missed the run")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
