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
import sys
import tempfile

import hive_state
import reg_file
import run_case

SKIPPED_OPTIONS = ("windows-only", "reg-file-only")


def run_hive_case(program, hive_tool, case):
    options = run_case.option_reasons(case)
    for keyword in SKIPPED_OPTIONS:
        if keyword in options:
            print(f"skipped: {keyword} case" + (f" ({options[keyword]})" if options[keyword] else ""))
            return 0
    work = tempfile.mkdtemp(prefix="ipoib-guidmask-hive-case-")
    try:
        env = run_case.program_environment()
        store_reg = os.path.join(case, "store.reg")
        hive_path = os.path.join(work, "SYSTEM")
        has_store = os.path.exists(store_reg)
        if has_store:
            hive_state.build_hive(hive_tool, store_reg, hive_path)
            hive_before = run_case.read_optional(hive_path)
        run_case.name_store(options, hive_path, has_store, env)
        completed = run_case.run_program(program, case, env)
        failures = run_case.compare_outputs(case, completed, hive_path)
        if has_store:
            failures += check_hive_afterwards(case, hive_tool, hive_path, hive_before)
        failures += run_case.check_nothing_beside(work, "SYSTEM")
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
