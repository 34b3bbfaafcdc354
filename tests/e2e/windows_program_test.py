#!/usr/bin/env python3
"""The Windows programs' own checks, on the Wine leg's prefix (wine.py start): they import
system DLLs only and take their registry operations from advapi32, text written to a real
console arrives whole, a reply file that Windows PowerShell wrote (UTF-16LE) works through
cmd's `<`, a fix on a key it may not write fails as it must, and the audit's import file,
given to reg import, sets exactly the values it names.
"""
import argparse
import fcntl
import os
import pty
import re
import select
import struct
import subprocess
import sys
import termios
import time

import reg_file
import run_case
import wine
from wine import COMMAND_TIMEOUT, PROGRAM_PATH_SEEN, wine_environment

CASES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "cases")


def check_console_text(env):
    """Text written to a real console arrives whole. Started on a terminal, the program writes
    through WriteConsoleW, and Wine's console shows it on the Unix terminal. The argument keeps
    to the Basic Multilingual Plane: Wine's terminal console turns each half of a surrogate pair
    into U+FFFD on its own, where a Windows console shows the character."""
    argument = "z\u00e9\u20ac"
    expected = f"Could not convert argument {argument}. GUID mask is a 2-digit hexadecimal number."
    leader, follower = pty.openpty()
    fcntl.ioctl(follower, termios.TIOCSWINSZ, struct.pack("HHHH", 50, 200, 0, 0))
    process = subprocess.Popen(["wine", PROGRAM_PATH_SEEN, "-d", argument], env=env,
                               stdin=follower, stdout=follower, stderr=follower)
    os.close(follower)
    output = b""
    deadline = time.monotonic() + COMMAND_TIMEOUT
    while time.monotonic() < deadline:
        ready, _, _ = select.select([leader], [], [], deadline - time.monotonic())
        if not ready:
            break
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal is gone with the last process that had it open
            break
        if not chunk:
            break
        output += chunk
    status = process.wait(timeout=COMMAND_TIMEOUT)
    os.close(leader)
    text = output.decode("utf-8", "replace")
    text = re.sub(r"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07", "", text).replace("\r", "")
    lines = [line for line in text.split("\n") if line]
    failures = []
    if lines != [expected]:
        failures.append(f"console shows {lines!r}, expected {[expected]!r}")
    if status != 255:
        failures.append(f"exit status {status}, expected 255")
    return failures


def check_reply_file(prefix):
    """cmd /c "ipoib-guidmask.exe -f < reply.txt" with a UTF-16LE reply file: the replies are
    taken as they would be in ASCII."""
    return run_case.run_wine_case(prefix, os.path.join(CASES, "prompt-replies-in-utf16"),
                                  input_file=True)


HELPER_PATH_SEEN = "C:\\tools\\set_key_security.exe"
# Everyone: setting values denied, everything else allowed.
DENY_SET_VALUE = "D:(D;;0x2;;;WD)(A;;KA;;;WD)"
DENIED_ADAPTER = "0002"
DENIED_LINE = (b'ipoib-guidmask: "GUIDMask" could not be written: access denied: run the fix from '
               b'an elevated prompt (a console started with "Run as administrator")\r\n')


def build_helper(env):
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "set_key_security.cpp")
    completed = subprocess.run(["x86_64-w64-mingw32-g++", "-municode", "-static", "-O2", "-o",
                                wine.host_path(env, HELPER_PATH_SEEN), source, "-ladvapi32"],
                               capture_output=True, timeout=COMMAND_TIMEOUT)
    return completed.stderr.decode("utf-8", "replace") if completed.returncode != 0 else None


def check_write_denied(env):
    """A fix where one adapter's key denies setting values, in both modes: that adapter's
    write fails with its row's message (interactive), standard error says why in the Windows
    table's access-denied line, the run ends with -1, and the other adapters are written as
    in the case run-fix-interactive, whose store and answers it uses."""
    problem = build_helper(env)
    if problem is not None:
        return [f"the helper was not built: {problem}"]
    case = os.path.join(CASES, "run-fix-interactive")
    store = run_case.case_file(case, "store.reg")
    denied_key = f"{wine.ADAPTER_CLASS_KEY}\\{DENIED_ADAPTER}".lower()
    after = reg_file.within(reg_file.parse_reg_bytes(run_case.case_file(case, "store-after.reg")),
                            wine.AREAS)
    del after[denied_key]["guidmask"]
    interactive = run_case.case_file(case, "expected-stdout").replace(
        b"A predefined GUID mask 0xe7 has been added to the registry.",
        b"A predefined GUID mask 0xe7 is available, but adding it to the registry has failed.")
    failures = []
    for arguments, expected_out in ((["-f"], interactive), (["-f", "-s"], b"\n\n\n")):
        label = " ".join(arguments)
        failure = wine.prepare_registry(env, store, [])
        if failure is not None:
            return [failure]
        key_path = denied_key[len("hkey_local_machine\\"):]
        denied = wine.run_in_wine(env, [HELPER_PATH_SEEN, key_path, DENY_SET_VALUE])
        if denied.returncode != 0:
            return [f"the helper failed: {denied.stderr.decode('utf-8', 'replace').strip()}"]
        before = wine.export_areas(env, "before")
        completed = wine.run_in_wine(env, [PROGRAM_PATH_SEEN] + arguments,
                                     run_case.case_file(case, "input"))
        if completed.stdout != wine.windows_stdout(expected_out):
            failures.append(f"{label}: " + run_case.difference(
                "stdout", wine.windows_stdout(expected_out), completed.stdout))
        if completed.stderr != DENIED_LINE:
            failures.append(f"{label}: " + run_case.difference("stderr", DENIED_LINE,
                                                              completed.stderr))
        if completed.returncode != 255:
            failures.append(f"{label}: exit status {completed.returncode}, expected 255")
        store_state = reg_file.within(reg_file.parse_reg_bytes(store), wine.AREAS)
        expected = reg_file.apply_changes(before, store_state, after)
        failures += [f"{label}: registry afterwards: {line}" for line in
                     reg_file.state_differences(expected, wine.export_areas(env, "after"))]
    return failures


# What a bare Windows host has: the program must need no DLL beyond these.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
# The audit reads the interfaces' live state through the IP Helper API, a system DLL too.
AUDIT_SYSTEM_DLLS = SYSTEM_DLLS | {"iphlpapi.dll"}
# The registry operations the program calls, all of them advapi32's own.
REGISTRY_FUNCTIONS = {"RegOpenKeyExW", "RegQueryInfoKeyW", "RegEnumKeyExW", "RegQueryValueExW",
                      "RegSetValueExW", "RegCloseKey"}


def imported_functions(objdump_text):
    """{lower-cased DLL name: set of function names} from objdump -p's import tables."""
    imports = {}
    current = None
    for line in objdump_text.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            current = imports.setdefault(match.group(1).lower(), set())
            continue
        entry = re.match(r"\s*[0-9a-fA-F]+\s+\d+\s+(\w+)\s*$", line)
        if current is not None and entry:
            current.add(entry.group(1))
        elif not line.strip():
            current = None
    return imports


def check_import_file(env, store):
    """The audit's --reg file of a registry, imported with reg import, gives every adapter
    that needs one the mask a silent fix would write and changes nothing else; the audit
    then finds nothing to fix."""
    with open(store, "rb") as handle:
        store_data = handle.read()
    failure = wine.prepare_registry(env, store_data, [])
    if failure is not None:
        return [failure]
    before = wine.export_areas(env, "import-before")
    made = wine.run_in_wine(env, [wine.AUDIT_PATH_SEEN, "--reg"])
    if made.returncode != 1 or not made.stdout.startswith(reg_file.UTF16_BOM):
        return [f"audit --reg: status {made.returncode}, output {made.stdout[:80]!r}"]
    with open(wine.host_path(env, f"{wine.CASE_FOLDER_SEEN}\\masks.reg"), "wb") as handle:
        handle.write(made.stdout)
    imported = wine.run_in_wine(env, ["reg", "import", f"{wine.CASE_FOLDER_SEEN}\\masks.reg"])
    if imported.returncode != 0:
        return [f"reg import of the audit's file failed: {imported.stderr[:300]!r}"]
    # The parser gives the keys above each section too; they hold no values.
    written = {key: values for key, values in reg_file.parse_reg_bytes(made.stdout).items()
               if values}
    expected = reg_file.apply_changes(before, {key: {} for key in written}, written)
    failures = ["registry after import: " + line for line in
                reg_file.state_differences(expected, wine.export_areas(env, "import-after"))]
    if not written or any([name.lower() for name in values] != ["guidmask"]
                          for values in written.values()):
        failures.append(f"the file holds more or less than GUIDMask values: {written!r}")
    again = wine.run_in_wine(env, [wine.AUDIT_PATH_SEEN])
    if again.returncode != 1 or b" would-write=0 would-replace=0 no-instance=1 " not in again.stdout:
        failures.append(f"audit after the import: status {again.returncode}\n"
                        + again.stdout.decode("utf-8", "replace"))
    return failures


def check_imports(program, system_dlls=SYSTEM_DLLS):
    """The program is linked statically, so it imports system DLLs only, and its registry
    operations are advapi32's (none of our POSIX store's is linked in)."""
    completed = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", program],
                               capture_output=True, timeout=COMMAND_TIMEOUT)
    if completed.returncode != 0:
        return [f"objdump failed: {completed.stderr.decode('utf-8', 'replace').strip()}"]
    imports = imported_functions(completed.stdout.decode("utf-8", "replace"))
    failures = []
    if not imports:
        failures.append("no imported DLL found: objdump's output was not understood")
    if set(imports) - system_dlls:
        failures.append(f"imports DLLs a bare Windows host lacks: "
                        f"{sorted(set(imports) - system_dlls)}")
    missing = REGISTRY_FUNCTIONS - imports.get("advapi32.dll", set())
    if missing:
        failures.append(f"registry operations not taken from advapi32: {sorted(missing)}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the built ipoib-guidmask.exe")
    parser.add_argument("--audit", required=True, help="the built ipoib-guidmask-audit.exe")
    parser.add_argument("--store", required=True, help="a .reg store for the import check")
    parser.add_argument("--wine-prefix", required=True, help="the prefix wine.py started")
    arguments = parser.parse_args()
    env = wine_environment(os.path.abspath(arguments.wine_prefix))
    failed = False
    for name, failures in (("imports system DLLs and the registry API",
                            check_imports(arguments.program)),
                           ("the audit imports system DLLs and the registry API",
                            check_imports(arguments.audit, AUDIT_SYSTEM_DLLS)),
                           ("console text", check_console_text(env)),
                           ("UTF-16LE reply file through cmd", check_reply_file(
                               os.path.abspath(arguments.wine_prefix))),
                           ("fix without the right to write", check_write_denied(env)),
                           ("the audit's import file", check_import_file(env, arguments.store))):
        print(f"{'ok' if not failures else 'FAIL'} {name}")
        for line in failures:
            print("  " + line)
        failed = failed or bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
