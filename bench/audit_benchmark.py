#!/usr/bin/env python3
"""The audit of a fleet beside its yardsticks, in one run.

Generates (once, under --work) STORES UTF-16LE .reg exports of a few IPoIB adapters each among
a few hundred ordinary keys (about 100 to 400 KB each; every host's port GUIDs its own),
then times one audit of all of them against a check run of the first program on each of the
same stores, one after the other, and sets the audit's peak memory beside that of one check
run on the largest store: the audit holds one store at a time, so a fleet must not cost more.

Then the fleet as engines collect it: each host's own document (audit --json on its export,
written once under --work), merged by one audit of the 1,000 documents, set beside the audit
of the 1,000 exports they came from, in time and peak memory.
"""
import argparse
import os
import random
import re
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "support"))
sys.path.insert(0, HERE)
from big_store import NEEDS_E7, NOTHING, UNRECOGNIZED, StoreModel  # noqa: E402

STORES = 1000
GUID_HEAD = re.compile(r"(IBA\\\\IPOIB\\\\)[0-9A-F]{4}")


def host_store(host, rng):
    """One host's export: 2 to 5 adapters of every kind, its GUIDs numbered by host."""
    kinds = [rng.choice((NEEDS_E7, NOTHING, UNRECOGNIZED)) for _ in range(rng.randrange(2, 6))]
    model = StoreModel(kinds, rng.randrange(200, 800))
    text = model.store_bytes([None] * len(kinds)).decode("utf-16-le")
    numbers = iter(range(host * 8, host * 8 + 8))
    text = GUID_HEAD.sub(lambda match: match.group(1) + "%04X" % next(numbers), text)
    return text.encode("utf-16-le")


def measure(label, command, env=None):
    """Wall time and peak memory (KB) of a run. The peak is GNU time's: a child that Python
    forks counts Python's own pages in its peak until it runs the program, which would
    swamp a small program's figure."""
    with tempfile.NamedTemporaryFile("r") as report, open(os.devnull, "wb") as sink:
        start = time.monotonic()
        completed = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                   stdout=sink, env=env)
        seconds = time.monotonic() - start
        peak = int(report.read().split()[-1])
    print("%-22s %8.2f s  peak %7.1f MB  status %d"
          % (label, seconds, peak / 1024, completed.returncode))
    return seconds, peak


def generate(work):
    rng = random.Random(18)
    for host in range(STORES):
        with open(os.path.join(work, "node%04d.reg" % host), "wb") as handle:
            handle.write(host_store(host, rng))


def write_documents(audit, work, names):
    """Each host's document, as its own run of the audit writes it."""
    documents = [os.path.join(work, name[:-4] + ".json") for name in names]
    for name, document in zip(names, documents):
        if not os.path.exists(document):
            with open(document + ".part", "wb") as handle:
                subprocess.run([audit, "--json", os.path.join(work, name)], stdout=handle)
            os.replace(document + ".part", document)
    return documents


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--audit", required=True)
    parser.add_argument("--work", default="/tmp/ipoib-guidmask-bench/fleet")
    arguments = parser.parse_args()
    os.makedirs(arguments.work, exist_ok=True)
    names = ["node%04d.reg" % host for host in range(STORES)]
    if not all(os.path.exists(os.path.join(arguments.work, name)) for name in names):
        generate(arguments.work)
    paths = [os.path.join(arguments.work, name) for name in names]
    sizes = [os.path.getsize(path) for path in paths]
    largest = paths[sizes.index(max(sizes))]
    print("fleet: %d stores, %.1f MB, largest %.0f KB" % (STORES, sum(sizes) / 1e6, max(sizes) / 1e3))

    start = time.monotonic()
    with open(os.devnull, "wb") as sink:
        for path in paths:
            subprocess.run([arguments.program], stdout=sink,
                           env=dict(os.environ, IPOIB_GUIDMASK_REGISTRY=path))
    checks = time.monotonic() - start
    print("%-22s %8.2f s" % ("%d check runs" % STORES, checks))
    env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=largest)
    _, check_peak = measure("check, largest store", [arguments.program], env)
    audit, audit_peak = measure("audit of the fleet", [arguments.audit] + paths)
    json, json_peak = measure("audit --json", [arguments.audit, "--json"] + paths)
    print("audit / %d check runs: %.2f, --json %.2f (target at most 1); audit peak / check peak"
          " on the largest store: %.2f, --json %.2f (target at most 2)"
          % (STORES, audit / checks, json / checks, audit_peak / check_peak,
             json_peak / check_peak))

    documents = write_documents(arguments.audit, arguments.work, names)
    print("documents: %d, %.1f MB" % (len(documents),
                                     sum(os.path.getsize(path) for path in documents) / 1e6))
    merge, merge_peak = measure("merge of the documents", [arguments.audit] + documents)
    merge_json, merge_json_peak = measure("merge --json", [arguments.audit, "--json"] + documents)
    same = (subprocess.run([arguments.audit] + paths, capture_output=True).stdout ==
            subprocess.run([arguments.audit] + documents, capture_output=True).stdout)
    print("the merge's report is the exports' audit's, byte for byte: %s" % ("yes" if same else "NO"))
    print("merge / audit of the exports: %.2f, --json %.2f (target at most 1); merge peak / audit"
          " peak: %.2f, --json %.2f (target at most 2)"
          % (merge / audit, merge_json / json, merge_peak / audit_peak,
             merge_json_peak / json_peak))
    return 0


if __name__ == "__main__":
    sys.exit(main())
