#!/usr/bin/env python3
"""Runs one end-to-end case on a SYSTEM hive file instead of the case's .reg store.

The hive is built at test time by hive_tool (tests/hive) from the case's store.reg: an empty
hive of our own making, filled with hivex with the keys and values below
HKEY_LOCAL_MACHINE\\SYSTEM, CurrentControlSet stored as ControlSet001, and Select\\Current = 1.
Standard output, standard error ($STORE standing for the hive's path) and the exit status are
compared byte for byte, as run_case.py compares them.
Afterwards the hive is read back with hivex (hive_tool dump) and must hold exactly what
store-after.reg (or, without it, store.reg) holds below HKEY_LOCAL_MACHINE\\SYSTEM; a case
without store-after.reg must leave the hive file byte for byte as it was; and no other file
may be left beside it.

Cases marked windows-only or reg-file-only (see run_case.py) are skipped with a line; a case
without store.reg is run with no store named, or with an absent-store or directory-store
option, as run_case.py runs it.
"""
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import hive_state
import reg_file
import run_case

SKIPPED_OPTIONS = ("windows-only", "reg-file-only")


def option_reasons(case):
    """{keyword: reason} of the case's options file."""
    data = run_case.read_optional(os.path.join(case, "options"), b"").decode("utf-8")
    reasons = {}
    for line in data.splitlines():
        if line.strip() and not line.startswith("#"):
            keyword, _, reason = line.partition(":")
            reasons[keyword.strip()] = reason.strip()
    return reasons


def run_hive_case(program, hive_tool, case):
    options = option_reasons(case)
    for keyword in SKIPPED_OPTIONS:
        if keyword in options:
            print(f"skipped: {keyword} case" + (f" ({options[keyword]})" if options[keyword] else ""))
            return 0
    work = tempfile.mkdtemp(prefix="ipoib-guidmask-hive-case-")
    try:
        env = {key: value for key, value in os.environ.items()
               if key != "IPOIB_GUIDMASK_REGISTRY"}
        env["LANG"] = "C"
        store_reg = os.path.join(case, "store.reg")
        hive_path = os.path.join(work, "SYSTEM")
        has_store = os.path.exists(store_reg)
        if "absent-store" in options or "directory-store" in options:
            if "directory-store" in options:
                os.mkdir(hive_path)
            env["IPOIB_GUIDMASK_REGISTRY"] = hive_path
        if has_store:
            hive_state.build_hive(hive_tool, store_reg, hive_path)
            if "read-only-store" in options:
                os.chmod(hive_path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)
            env["IPOIB_GUIDMASK_REGISTRY"] = hive_path
            hive_before = run_case.read_optional(hive_path)
        completed = subprocess.run(
            [run_case.PROGRAM_PATH_SEEN] + run_case.case_arguments(case), executable=program,
            env=env, input=run_case.read_optional(os.path.join(case, "input"), b""),
            capture_output=True, timeout=60)
        failures = 0
        expected_out = run_case.read_optional(os.path.join(case, "expected-stdout"), b"")
        if completed.stdout != expected_out:
            run_case.show_difference("stdout", expected_out, completed.stdout)
            failures += 1
        expected_err = run_case.read_optional(os.path.join(case, "expected-stderr"), b"")
        expected_err = expected_err.replace(b"$STORE", os.fsencode(hive_path))
        if completed.stderr != expected_err:
            run_case.show_difference("stderr", expected_err, completed.stderr)
            failures += 1
        if completed.returncode != run_case.expected_status(case):
            print(f"exit status {completed.returncode}, expected {run_case.expected_status(case)}")
            failures += 1
        if has_store:
            failures += check_hive_afterwards(case, hive_tool, hive_path, hive_before)
            leftovers = sorted(set(os.listdir(work)) - {"SYSTEM"})
            if leftovers:
                print(f"files left beside the hive: {leftovers}")
                failures += 1
        if failures and completed.stderr and completed.stderr != expected_err:
            sys.stdout.write("stderr:\n" + completed.stderr.decode("utf-8", "replace"))
        return 1 if failures else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


def check_hive_afterwards(case, hive_tool, hive_path, hive_before):
    after_reg = run_case.read_optional(os.path.join(case, "store-after.reg"))
    if after_reg is None:
        if run_case.read_optional(hive_path) != hive_before:
            print("the hive file changed, but the case expects no write")
            return 1
        return 0
    expected = hive_state.hive_state_of_reg(reg_file.parse_reg_bytes(after_reg))
    actual, problem = hive_state.dump_hive(hive_tool, hive_path)
    if actual is None:
        print(f"hivex cannot read the hive afterwards: {problem}")
        return 1
    differences = reg_file.state_differences(expected, actual)
    for line in differences:
        print("hive afterwards: " + line)
    return 1 if differences else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--hive-tool", required=True)
    parser.add_argument("case")
    arguments = parser.parse_args()
    return run_hive_case(os.path.abspath(arguments.program), os.path.abspath(arguments.hive_tool),
                         arguments.case)


if __name__ == "__main__":
    sys.exit(main())
