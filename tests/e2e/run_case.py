#!/usr/bin/env python3
"""Runs one end-to-end case against the built program.

A case is a folder:
  args             one argument per line (UTF-8); absent means no arguments
  input            what is typed on standard input; absent means none
  store.reg        the registry store the run gets; absent means no store is named
  store-after.reg  the store expected afterwards, byte for byte; absent means unchanged
  expected-stdout  standard output, byte for byte
  expected-stderr  standard error, byte for byte, with $STORE standing for the store's path;
                   absent means nothing is written there
  expected-status  the exit status (-1 is read as 255)
  options          keywords, one a line, each may be followed by ": " and the reason:
                   read-only-store (the store file has no write bit),
                   posix-only / windows-only (the case runs on that platform alone),
                   reg-file-only (the case is about the .reg file itself, so it is not run
                   again on a hive built from it: run_case_hive.py)

The program is started with argv[0] = C:\\tools\\ipoib-guidmask.exe so that the usage text
names it the same way on every platform. An args line is taken byte for byte (bytes that are
not UTF-8 included).

Two more options name a store that is no .reg file, for a case without store.reg:
absent-store (the named file does not exist) and directory-store (it is a directory).
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile

PROGRAM_PATH_SEEN = "C:\\tools\\ipoib-guidmask.exe"


def read_optional(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, "rb") as handle:
        return handle.read()


def case_arguments(case):
    data = read_optional(os.path.join(case, "args"))
    if data is None:
        return []
    text = data.decode("utf-8", "surrogateescape")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n")


def option_reasons(case):
    """{keyword: reason} from the case's options file ("keyword" or "keyword: reason")."""
    data = read_optional(os.path.join(case, "options"), b"").decode("utf-8")
    reasons = {}
    for line in data.splitlines():
        if line.strip() and not line.startswith("#"):
            keyword, _, reason = line.partition(":")
            reasons[keyword.strip()] = reason.strip()
    return reasons


def case_options(case):
    return set(option_reasons(case))


def expected_status(case):
    status = int(read_optional(os.path.join(case, "expected-status"), b"0").decode().strip())
    return status & 0xFF


def show_difference(label, expected, actual):
    sys.stdout.write(f"{label} differs\n--- expected\n{expected!r}\n--- actual\n{actual!r}\n")


def program_environment():
    """The environment of a run, before a store is named."""
    env = {key: value for key, value in os.environ.items() if key != "IPOIB_GUIDMASK_REGISTRY"}
    env["LANG"] = "C"
    return env


def name_store(options, store_path, store_present, env):
    """Names the store in env as the case's options ask, once the store (if any) is in place."""
    if "directory-store" in options:
        os.mkdir(store_path)
    if store_present and "read-only-store" in options:
        os.chmod(store_path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
    if store_present or "absent-store" in options or "directory-store" in options:
        env["IPOIB_GUIDMASK_REGISTRY"] = store_path


def run_program(program, case, env):
    return subprocess.run(
        [PROGRAM_PATH_SEEN] + case_arguments(case), executable=program, env=env,
        input=read_optional(os.path.join(case, "input"), b""), capture_output=True, timeout=60)


def compare_outputs(case, completed, store_path):
    """Standard output, standard error and exit status against the case; the failures' count."""
    failures = 0
    expected_out = read_optional(os.path.join(case, "expected-stdout"), b"")
    if completed.stdout != expected_out:
        show_difference("stdout", expected_out, completed.stdout)
        failures += 1
    expected_err = read_optional(os.path.join(case, "expected-stderr"), b"")
    expected_err = expected_err.replace(b"$STORE", os.fsencode(store_path))
    if completed.stderr != expected_err:
        show_difference("stderr", expected_err, completed.stderr)
        failures += 1
    if completed.returncode != expected_status(case):
        print(f"exit status {completed.returncode}, expected {expected_status(case)}")
        failures += 1
    return failures


def check_nothing_beside(work, store_name):
    """The store's directory holds the store alone (or nothing): no file a write left behind."""
    names = sorted(os.listdir(work))
    if names != ([store_name] if store_name in names else []):
        print(f"files left beside the store: {names}")
        return 1
    return 0


def run_case(program, case):
    options = case_options(case)
    if "windows-only" in options:
        print("skipped: windows-only case")
        return 0
    work = tempfile.mkdtemp(prefix="ipoib-guidmask-case-")
    try:
        env = program_environment()
        store_in = read_optional(os.path.join(case, "store.reg"))
        store_path = os.path.join(work, "store.reg")
        if store_in is not None:
            with open(store_path, "wb") as handle:
                handle.write(store_in)
        name_store(options, store_path, store_in is not None, env)
        completed = run_program(program, case, env)
        failures = compare_outputs(case, completed, store_path)
        if store_in is not None:
            expected_store = read_optional(os.path.join(case, "store-after.reg"), store_in)
            actual_store = read_optional(store_path, b"")
            if actual_store != expected_store:
                show_difference("store afterwards", expected_store, actual_store)
                failures += 1
        failures += check_nothing_beside(work, "store.reg")
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("case")
    arguments = parser.parse_args()
    return run_case(os.path.abspath(arguments.program), arguments.case)


if __name__ == "__main__":
    sys.exit(main())
