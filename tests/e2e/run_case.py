#!/usr/bin/env python3
"""Runs one end-to-end case (a folder of cases/, described in cases/README.md) on one leg:

  reg   the POSIX program on the case's store.reg, compared byte for byte afterwards;
  hive  the POSIX program on a SYSTEM hive that hive_tool (tests/support) builds from
        store.reg, read back with hivex afterwards (hive_state.py);
  wine  the Windows program under Wine on Wine's own registry, in the prefix wine.py started,
        read back with reg export afterwards.

Every leg checks standard output, the exit status and the store afterwards the same way, and
standard error where the leg has the case's path for $STORE (not under Wine). A case with a
mark in its leg's skip table is skipped with a line saying why and exit status 77, which
ctest reports as skipped; a case that passes says so in one line.
"""
import json
import argparse
import os
import shutil
import stat
import subprocess
import sys
import tempfile

import hive_state
import reg_file
import wine

PROGRAM_PATH_SEEN = wine.PROGRAM_PATH_SEEN
AUDIT = "ipoib-guidmask-audit"

SKIPS = {
    "reg": {"windows-only": ""},
    "hive": {"windows-only": "", "reg-file-only": ""},
    "wine": {"posix-only": "",
             "read-only-store": "Wine's registry takes no rights away from the user, so there "
                                "is no read-only registry to run it on"},
}
STORE_NAMES = {"reg": "store.reg", "hive": "SYSTEM"}
# The options each leg needs.
LEG_OPTIONS = {"reg": ["program"], "hive": ["program", "hive_tool"], "wine": ["wine_prefix"]}
SKIPPED = 77


def read_optional(path, default=None):
    if not os.path.exists(path):
        return default
    with open(path, "rb") as handle:
        return handle.read()


def case_file(case, name, default=None):
    return read_optional(os.path.join(case, name), default)


def case_program(case):
    """ipoib-guidmask, or the audit when the case's program file names it."""
    return case_file(case, "program", b"ipoib-guidmask").decode().strip()


def seen_path(case):
    return wine.AUDIT_PATH_SEEN if case_program(case) == AUDIT else PROGRAM_PATH_SEEN


def case_stores(case):
    """The stores/ folder's files by the name each gets beside the others: a .reg file's stem
    (built into a hive of that name on the hive leg), any other file's whole name, as it is."""
    folder = os.path.join(case, "stores")
    if not os.path.isdir(folder):
        return []
    return [(name[:-4] if name.endswith(".reg") else name, os.path.join(folder, name))
            for name in sorted(os.listdir(folder))]


def case_arguments(case):
    data = case_file(case, "args")
    if data is None:
        return []
    text = data.decode("utf-8", "surrogateescape")
    if text.endswith("\n"):
        text = text[:-1]
    return text.split("\n")


def option_reasons(case):
    """{keyword: reason} from the case's options file ("keyword" or "keyword: reason")."""
    reasons = {}
    if any(not name.endswith(".json") for name, _ in case_stores(case)):
        reasons["posix-only"] = ("its stores include registry files, which the POSIX audit "
                                 "alone reads")
    for line in case_file(case, "options", b"").decode("utf-8").splitlines():
        if line.strip() and not line.startswith("#"):
            keyword, _, reason = line.partition(":")
            reasons[keyword.strip()] = reason.strip()
    return reasons


def expected_status(case):
    return int(case_file(case, "expected-status", b"0").decode().strip()) & 0xFF


def skip_reason(leg, options):
    for keyword, why in SKIPS[leg].items():
        if keyword in options:
            reason = why or options[keyword]
            return f"{keyword} case" + (f" ({reason})" if reason else "")
    return None


def difference(label, expected, actual):
    return f"{label} differs\n--- expected\n{expected!r}\n--- actual\n{actual!r}"


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


def json_differences(case, stdout, windows):
    """The audit's document, parsed, against expected-json (expected-json-wine on the Wine leg,
    where the case has one); the label of a case's one store (a path, or the Windows computer's
    name) reads "$STORE"."""
    try:
        document = json.loads(stdout.decode("utf-8"))
    except ValueError as error:
        return [f"stdout is no JSON document: {error}: {stdout[:300]!r}"]
    labels = [store["label"] for store in document.get("stores", [])]
    text = json.dumps(document)
    if len(labels) == 1 and not case_stores(case):
        text = text.replace(json.dumps(labels[0]), json.dumps("$STORE"))
    wine_json = case_file(case, "expected-json-wine") if windows else None
    expected = json.loads(wine_json if wine_json is not None else case_file(case, "expected-json"))
    actual = json.loads(text)
    return [] if actual == expected else [difference("JSON document", expected, actual)]


def compare_outputs(case, completed, store_path, windows):
    """Standard output, standard error (with a store path) and exit status: failure lines."""
    failures = []
    expected_out = case_file(case, "expected-stdout", b"")
    # Text mode's CR LF is no part of a file the program writes as bytes (UTF-16LE).
    if windows and not expected_out.startswith(reg_file.UTF16_BOM):
        expected_out = wine.windows_stdout(expected_out)
    if case_file(case, "expected-json") is not None:
        failures += json_differences(case, completed.stdout, windows)
    elif completed.stdout != expected_out:
        failures.append(difference("stdout", expected_out, completed.stdout))
    if store_path is not None:
        expected_err = case_file(case, "expected-stderr", b"")
        expected_err = expected_err.replace(b"$STORE", os.fsencode(store_path))
        if completed.stderr != expected_err:
            failures.append(difference("stderr", expected_err, completed.stderr))
    if completed.returncode != expected_status(case):
        failures.append(f"exit status {completed.returncode}, expected {expected_status(case)}")
    return failures


def files_written(case, work):
    """The files the case expects the program to write beside the stores (expected-files/),
    byte for byte: failure lines, and their names."""
    folder = os.path.join(case, "expected-files")
    names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    return [f"file {name} written differs or is missing" for name in names
            if read_optional(os.path.join(work, name)) != case_file(folder, name)], names


def nothing_beside(work, store_names):
    """The store's directory holds the stores alone (or nothing): no file a write left behind."""
    names = sorted(os.listdir(work))
    if names != sorted(name for name in store_names if name in names):
        return [f"files left beside the store: {names}"]
    return []


def file_afterwards(case, store_path, before):
    """A .reg store is byte for byte store-after.reg, or as it was without one."""
    expected = case_file(case, "store-after.reg", before)
    actual = read_optional(store_path, b"")
    return [] if actual == expected else [difference("store afterwards", expected, actual)]


def hive_afterwards(case, hive_tool, hive_path, before):
    """A hive holds exactly what store-after.reg holds below HKEY_LOCAL_MACHINE\\SYSTEM, or
    is byte for byte as it was without one."""
    after_reg = case_file(case, "store-after.reg")
    if after_reg is None:
        if read_optional(hive_path) != before:
            return ["the hive file changed, but the case expects no write"]
        return []
    expected = hive_state.hive_state_of_reg(reg_file.parse_reg_bytes(after_reg))
    actual, problem = hive_state.dump_hive(hive_tool, hive_path)
    if actual is None:
        return [f"hivex cannot read the hive afterwards: {problem}"]
    return ["hive afterwards: " + line for line in reg_file.state_differences(expected, actual)]


def place_stores(leg, hive_tool, case, work):
    """The stores/ files in work, each as its leg reads it; their bytes there before the run."""
    before = {}
    for name, source in case_stores(case):
        target = os.path.join(work, name)
        if leg == "hive" and source.endswith(".reg"):
            hive_state.build_hive(hive_tool, source, target)
        else:
            shutil.copyfile(source, target)
        before[name] = read_optional(target)
    return before


def run_posix_case(leg, programs, hive_tool, case, options):
    program = programs[case_program(case)]
    work = tempfile.mkdtemp(prefix=f"ipoib-guidmask-{leg}-case-")
    try:
        stores_before = place_stores(leg, hive_tool, case, work)
        env = program_environment()
        store_path = os.path.join(work, STORE_NAMES[leg])
        store_in = case_file(case, "store.reg")
        if store_in is not None and leg == "hive":
            hive_state.build_hive(hive_tool, os.path.join(case, "store.reg"), store_path)
        elif store_in is not None:
            with open(store_path, "wb") as handle:
                handle.write(store_in)
        before = read_optional(store_path)
        name_store(options, store_path, store_in is not None, env)
        completed = subprocess.run(
            [seen_path(case)] + case_arguments(case) + sorted(stores_before),
            executable=program, env=env, cwd=work, input=case_file(case, "input", b""),
            capture_output=True, timeout=60)
        failures = compare_outputs(case, completed, store_path, windows=False)
        if store_in is not None and leg == "hive":
            failures += hive_afterwards(case, hive_tool, store_path, before)
        elif store_in is not None:
            failures += file_afterwards(case, store_path, before)
        failures += [f"store {name} changed" for name, data in stores_before.items()
                     if read_optional(os.path.join(work, name)) != data]
        written, names = files_written(case, work)
        return failures + written + nothing_beside(work, [STORE_NAMES[leg]] +
                                                   list(stores_before) + names)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def place_wine_files(env, case):
    """The case's wine-files/ tree under C:\\e2e, where its arguments name it; the names
    placed, to be removed after the run."""
    folder = os.path.join(case, "wine-files")
    if not os.path.isdir(folder):
        return []
    names = sorted(os.listdir(folder))
    for name in names:
        target = wine.host_path(env, f"{wine.CASE_FOLDER_SEEN}\\{name}")
        if os.path.isdir(os.path.join(folder, name)):
            shutil.copytree(os.path.join(folder, name), target)
        else:
            shutil.copyfile(os.path.join(folder, name), target)
    return names


def remove_wine_files(env, names):
    for name in names:
        target = wine.host_path(env, f"{wine.CASE_FOLDER_SEEN}\\{name}")
        if os.path.isdir(target):
            shutil.rmtree(target)
        else:
            os.remove(target)


def run_wine_case(prefix, case, input_file=False):
    """The registry afterwards must be the registry before the run with the changes from
    store.reg to store-after.reg applied: the values written, and nothing else. With
    input_file, cmd starts the program with the case's input in a file, as a script's
    `ipoib-guidmask -f < reply.txt` does, where it is otherwise a pipe."""
    env = wine.wine_environment(prefix)
    placed = place_wine_files(env, case)
    try:
        return run_wine_program(env, case, input_file)
    finally:
        remove_wine_files(env, placed)


# Where a case's stores/ (the audit's documents) are placed for the Windows program, which
# runs there and is given them by name, as on the POSIX legs.
STORES_SEEN = f"{wine.CASE_FOLDER_SEEN}\\stores"


def run_wine_program(env, case, input_file):
    store = case_file(case, "store.reg")
    notes = []
    failure = wine.prepare_registry(env, store, notes)
    for note in notes:
        print(note)
    if failure is not None:
        return [failure]
    before = wine.export_areas(env, "before")
    work = wine.host_path(env, STORES_SEEN)
    os.makedirs(work)
    try:
        stores_before = place_stores("wine", None, case, work)
        failures = run_wine_command(env, case, input_file, work, sorted(stores_before))
        failures += [f"store {name} changed" for name, data in stores_before.items()
                     if read_optional(os.path.join(work, name)) != data]
        written, names = files_written(case, work)
        failures += written + nothing_beside(work, list(stores_before) + names)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    after = wine.export_areas(env, "after")
    expected_registry = before
    if store is not None:
        store_state = reg_file.within(reg_file.parse_reg_bytes(store), wine.AREAS)
        after_data = case_file(case, "store-after.reg", store)
        store_after_state = reg_file.within(reg_file.parse_reg_bytes(after_data), wine.AREAS)
        expected_registry = reg_file.apply_changes(before, store_state, store_after_state)
    differences = reg_file.state_differences(expected_registry, after)
    if differences:
        failures.append("registry afterwards differs:\n  " + "\n  ".join(differences))
    return failures


def run_wine_command(env, case, input_file, work, store_names):
    """The program's run in the stores' folder: output and status failure lines."""
    command = [seen_path(case)] + case_arguments(case) + store_names
    stdin = case_file(case, "input", b"")
    if input_file:
        reply_file = f"{wine.CASE_FOLDER_SEEN}\\input.txt"
        with open(wine.host_path(env, reply_file), "wb") as handle:
            handle.write(stdin)
        command, stdin = ["cmd", "/c", " ".join(command) + " < " + reply_file], b""
    completed = wine.run_in_wine(env, command, stdin, cwd=work)
    failures = compare_outputs(case, completed, None, windows=True)
    if failures and completed.stderr:
        failures.append("stderr:\n" + completed.stderr.decode("utf-8", "replace"))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--leg", choices=sorted(SKIPS), required=True)
    parser.add_argument("--program", help="the POSIX program (the reg and hive legs)")
    parser.add_argument("--audit-program", help="the POSIX audit (the reg and hive legs)")
    parser.add_argument("--hive-tool", help="the hive leg's hive_tool")
    parser.add_argument("--wine-prefix", help="the Wine leg's prefix, made by wine.py start")
    parser.add_argument("case")
    arguments = parser.parse_args()
    for needed in LEG_OPTIONS[arguments.leg]:
        if getattr(arguments, needed) is None:
            parser.error(f"the {arguments.leg} leg needs --{needed.replace('_', '-')}")
    options = option_reasons(arguments.case)
    reason = skip_reason(arguments.leg, options)
    if reason is not None:
        print(f"skipped: {reason}")
        return SKIPPED
    try:
        if arguments.leg == "wine":
            failures = run_wine_case(os.path.abspath(arguments.wine_prefix), arguments.case)
        else:
            programs = {"ipoib-guidmask": os.path.abspath(arguments.program),
                        AUDIT: arguments.audit_program and os.path.abspath(arguments.audit_program)}
            failures = run_posix_case(arguments.leg, programs,
                                      arguments.hive_tool and os.path.abspath(arguments.hive_tool),
                                      arguments.case, options)
    except reg_file.RegFileError as error:
        failures = [f"the case's store files cannot be read: {error}"]
    for line in failures:
        print(line)
    if not failures:
        print(f"passed: {os.path.basename(os.path.normpath(arguments.case))} on the "
              f"{arguments.leg} leg")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
