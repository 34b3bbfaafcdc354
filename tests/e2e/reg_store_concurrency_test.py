#!/usr/bin/env python3
"""Fix runs started at once on one .reg store lose no write.

Shared work: RUNS interactive fix runs start together on a store of ADAPTERS adapters whose
port GUIDs are all unrecognized, so each run prompts once for every adapter. Each run answers
with its own mask for its share of the adapters (adapter i belongs to run i modulo RUNS) and
with "x", which writes nothing, for the others. Every write a run reports ("Added GUID mask
0x.. to the registry.") must be in the store afterwards with that run's mask, and the store
must be byte for byte the original with exactly those values added: every write of every run
is there, and nothing else changed.

Same work: RUNS silent fix runs with different -d masks start together on the same kind of
store and each write every adapter. Afterwards each adapter holds the mask of one of the runs,
and the store is byte for byte the original with those values added.

In both, every run ends with 0 and the store loads. Each setting is repeated ROUNDS times.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import big_store  # noqa: E402
from big_store import UNRECOGNIZED  # noqa: E402

ADAPTERS = 36
ORDINARY_KEYS = 3000
RUNS = 6
ROUNDS = 3
MASKS = [0x3F, 0xE7, 0xFC, 0x7E, 0xCF, 0xF3]
REPORT = re.compile(r"An unrecognized port GUID has been found: 0x([0-9a-f]{16})\.\n"
                    r"(?:.*\n)*?(Added GUID mask 0x([0-9a-f]{2}) to the registry\.|"
                    r"The reply is not a hexadecimal number\. Nothing has been written\.|"
                    r"Failed to add GUID mask 0x[0-9a-f]{2} to the registry\.)\n")


def guid_number(index):
    """The port GUID as the report prints it."""
    digits = big_store.port_guid_digits(index, UNRECOGNIZED)
    return "".join(digits[at:at + 2] for at in range(14, -2, -2)).lower()


def start_runs(program, store, argument_lists, inputs):
    """Starts every run, then gives each its input; returns (stdout, stderr, status) of each."""
    environment = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store, LANG="C")
    outputs = [(tempfile.TemporaryFile(), tempfile.TemporaryFile()) for _ in argument_lists]
    processes = [subprocess.Popen([program] + arguments, env=environment, stdin=subprocess.PIPE,
                                  stdout=out, stderr=err)
                 for arguments, (out, err) in zip(argument_lists, outputs)]
    for process, data in zip(processes, inputs):
        process.stdin.write(data)
        process.stdin.close()
    results = []
    for process, (out, err) in zip(processes, outputs):
        status = process.wait(timeout=600)
        out.seek(0)
        err.seek(0)
        results.append((out.read(), err.read(), status))
        out.close()
        err.close()
    return results


def check_store(program, store, model, masks, label, failures):
    with open(store, "rb") as handle:
        data = handle.read()
    if data != model.store_bytes(masks):
        failures.append("%s: the store is not the original with exactly the written masks "
                        "(it holds %s)" % (label, big_store.masks_in(data, ADAPTERS)))
    environment = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store, LANG="C")
    completed = subprocess.run([program, "-s"], env=environment, capture_output=True,
                               stdin=subprocess.DEVNULL, timeout=600)
    if completed.returncode != 0 or completed.stderr:
        failures.append("%s: the store does not load: %r" % (label, completed.stderr[:300]))
    beside = sorted(set(os.listdir(os.path.dirname(store))) - {"store.reg"})
    if beside:
        failures.append("%s: files left beside the store: %s" % (label, beside))


def shared_work(program, store, model, label, failures):
    inputs = []
    for run in range(RUNS):
        replies = ["%x" % MASKS[run] if index % RUNS == run else "x" for index in range(ADAPTERS)]
        inputs.append(("\n".join(replies) + "\n").encode())
    results = start_runs(program, store, [["-f"]] * RUNS, inputs)
    reported = [None] * ADAPTERS
    index_of = {guid_number(index): index for index in range(ADAPTERS)}
    for run, (out, err, status) in enumerate(results):
        if status != 0 or err:
            failures.append("%s: run %d ended with %d: %r" % (label, run, status, err[:300]))
        for match in REPORT.finditer(out.decode()):
            if match.group(3) is not None:
                index = index_of[match.group(1)]
                if reported[index] is not None:
                    failures.append("%s: adapter %d written twice" % (label, index))
                reported[index] = int(match.group(3), 16)
    wanted = [MASKS[index % RUNS] for index in range(ADAPTERS)]
    if reported != wanted:
        failures.append("%s: the runs reported %s, not every write of its share" % (label, reported))
    check_store(program, store, model, reported, label, failures)


def same_work(program, store, model, label, failures):
    arguments = [["-f", "-s", "-d", "%x" % mask] for mask in MASKS[:RUNS]]
    results = start_runs(program, store, arguments, [b""] * RUNS)
    for run, (out, err, status) in enumerate(results):
        if status != 0 or err or out != b"\n" * ADAPTERS:
            failures.append("%s: run %d ended with %d: %r" % (label, run, status, err[:300]))
    with open(store, "rb") as handle:
        held = big_store.masks_in(handle.read(), ADAPTERS)
    if any(mask not in MASKS[:RUNS] for mask in held):
        failures.append("%s: an adapter holds no run's mask: %s" % (label, held))
    check_store(program, store, model, held, label, failures)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    arguments = parser.parse_args()
    program = os.path.abspath(arguments.program)
    model = big_store.StoreModel([UNRECOGNIZED] * ADAPTERS, ORDINARY_KEYS)
    work = tempfile.mkdtemp(prefix="reg-store-concurrency-")
    store = os.path.join(work, "store.reg")
    failures = []
    try:
        for round_number in range(ROUNDS):
            for name, setting in (("shared work", shared_work), ("same work", same_work)):
                with open(store, "wb") as handle:
                    handle.write(model.store_bytes([None] * ADAPTERS))
                setting(program, store, model, "%s, round %d" % (name, round_number), failures)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d rounds of %d runs at once on %d adapters, shared and same work"
          % (ROUNDS, RUNS, ADAPTERS))
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
