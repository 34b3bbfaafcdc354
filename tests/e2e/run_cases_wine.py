#!/usr/bin/env python3
"""Runs the end-to-end cases against the Windows program under Wine, on Wine's own registry.

The case format is the one documented in run_case.py. One fresh Wine prefix serves the whole
run (one wineserver, kept alive between cases); for each case:

  1. the two registry areas the program reads are deleted with `reg delete`;
  2. the case's store.reg is imported with `reg import` (as it is wherever Wine reads it as
     Windows does; see store_for_wine for the conversions and why);
  3. the two areas are exported with `reg export`: the registry as the run finds it;
  4. the program runs as C:\\tools\\ipoib-guidmask.exe with the case's arguments and input;
     stdout and the exit status are compared with the case's expectations;
  5. the two areas are exported again, and must equal the registry before the run with the
     changes from store.reg to store-after.reg applied: the values written, and nothing else.

Cases marked posix-only, and read-only-store cases (Wine's registry takes no rights away from
the user), are skipped with a line saying so. The last line is the count of cases passed,
failed and skipped.
"""
import argparse
import fcntl
import os
import pty
import re
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reg_file  # noqa: E402
from run_case import (case_arguments, case_options, expected_status,  # noqa: E402
                      option_reasons, read_optional)

PROGRAM_PATH_SEEN = "C:\\tools\\ipoib-guidmask.exe"
CASE_FOLDER_SEEN = "C:\\e2e"

NETWORK_INSTANCES_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
                         "{4D36E972-E325-11CE-BFC1-08002BE10318}")
ADAPTER_CLASS_KEY = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                     "{4D36E972-E325-11CE-BFC1-08002bE10318}")
AREAS = (NETWORK_INSTANCES_KEY, ADAPTER_CLASS_KEY)

COMMAND_TIMEOUT = 60


def windows_stdout(expected):
    """The bytes a Windows program writes for the expected text. The C runtime's stdout is in
    text mode, as for every console program of the platform, and text mode writes each line
    feed as CR LF; this is the one place the Windows leg's expectations differ from POSIX."""
    return expected.replace(b"\n", b"\r\n")


def store_for_wine(data):
    """The store file as reg import should get it, and the reason when it had to be changed.

    A UTF-16LE file (FF FE) goes as it is. A file in any other encoding is our store's UTF-8;
    it goes as it is when it is plain ASCII, except for one case: Wine takes the bytes of
    hex(1), hex(2) and hex(7) data in a file that is not UTF-16 as ANSI text and converts them,
    whatever the header, where Windows does so only for REGEDIT4 files (a "Version 5.00" file's
    string data are UTF-16LE, as regedit writes them). Otherwise it becomes UTF-16LE with the
    same text: Wine would read UTF-8 as its ANSI code page (1252), and a UTF-8 BOM as part of
    the header."""
    if data.startswith(reg_file.UTF16_BOM):
        return data, None
    text = reg_file.decode_reg_bytes(data)
    as_utf16 = reg_file.UTF16_BOM + text.encode("utf-16-le", "surrogatepass")
    if data.startswith(reg_file.UTF8_BOM):
        return as_utf16, "UTF-8 with a BOM, given to reg import as UTF-16LE"
    if not text.isascii():
        return as_utf16, "UTF-8 text beyond ASCII, given to reg import as UTF-16LE"
    string_hex = re.search(r"=\s*hex\((0*1|0*2|0*7)\)\s*:", text, re.IGNORECASE)
    if reg_file.header_of(text) != "REGEDIT4" and string_hex:
        return as_utf16, "string data in hex in a Version 5.00 file, given as UTF-16LE"
    return data, None


def wine_environment(prefix):
    env = {key: value for key, value in os.environ.items()
           if key not in ("DISPLAY", "WAYLAND_DISPLAY", "IPOIB_GUIDMASK_REGISTRY")
           and not key.startswith("LC_")}
    env.update({
        "WINEPREFIX": prefix,
        "WINEDEBUG": "-all",
        # Arguments and console text cross into Wine in the Unix locale's encoding.
        "LANG": "C.UTF-8",
        # No Mono or Gecko: a console program needs neither, and installing them is slow.
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
    })
    return env


def run_in_wine(env, arguments, stdin=b""):
    return subprocess.run(["wine"] + arguments, env=env, input=stdin, capture_output=True,
                          timeout=COMMAND_TIMEOUT)


def start_prefix(env):
    """A persistent wineserver first, so that every command of the run reuses it, then the
    prefix's first boot."""
    subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   timeout=COMMAND_TIMEOUT)
    # The prefix's services outlive wineboot and hold on to its output: none is kept.
    subprocess.run(["wineboot", "-i"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=300)


def stop_prefix(env):
    subprocess.run(["wineserver", "-k"], env=env, stdin=subprocess.DEVNULL,
                   timeout=COMMAND_TIMEOUT)


def host_path(env, windows_path):
    assert windows_path.startswith("C:\\")
    return os.path.join(env["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def export_areas(env, label):
    """The two areas as Wine's registry holds them now, read back through reg export."""
    state = {}
    for index, area in enumerate(AREAS):
        target = f"{CASE_FOLDER_SEEN}\\{label}-{index}.reg"
        host_target = host_path(env, target)
        if os.path.exists(host_target):
            os.remove(host_target)
        completed = run_in_wine(env, ["reg", "export", area, target, "/y"])
        if completed.returncode != 0:
            if b"Unable to find" not in completed.stderr + completed.stdout:
                raise RuntimeError(f"reg export {area} failed: {completed.stderr!r}")
            continue
        with open(host_target, "rb") as handle:
            state.update(reg_file.parse_reg_bytes(handle.read(), wine_escapes=True))
    return reg_file.within(state, AREAS)


def prepare_registry(env, store, notes):
    """Empties the two areas and imports the store; returns a failure line or None."""
    for area in AREAS:
        run_in_wine(env, ["reg", "delete", area, "/f"])
    if store is None:
        return None
    data, conversion = store_for_wine(store)
    if conversion is not None:
        notes.append(f"note: store {conversion}")
    with open(host_path(env, f"{CASE_FOLDER_SEEN}\\store.reg"), "wb") as handle:
        handle.write(data)
    completed = run_in_wine(env, ["reg", "import", f"{CASE_FOLDER_SEEN}\\store.reg"])
    if completed.returncode != 0:
        message = (completed.stderr + completed.stdout).decode("utf-8", "replace").strip()
        return f"reg import refused the store (status {completed.returncode}): {message[:300]}"
    return None


def run_case(env, case, notes):
    """A list of failure lines; empty when the case passed."""
    store = read_optional(os.path.join(case, "store.reg"))
    failure = prepare_registry(env, store, notes)
    if failure is not None:
        return [failure]
    before = export_areas(env, "before")
    completed = run_in_wine(env, [PROGRAM_PATH_SEEN] + case_arguments(case),
                         read_optional(os.path.join(case, "input"), b""))
    failures = []
    expected_out = windows_stdout(read_optional(os.path.join(case, "expected-stdout"), b""))
    if completed.stdout != expected_out:
        failures.append(f"stdout differs\n--- expected\n{expected_out!r}\n"
                        f"--- actual\n{completed.stdout!r}")
    if completed.returncode != expected_status(case):
        failures.append(f"exit status {completed.returncode}, expected {expected_status(case)}")
    after = export_areas(env, "after")
    if store is not None:
        store_state = reg_file.within(reg_file.parse_reg_bytes(store), AREAS)
        after_data = read_optional(os.path.join(case, "store-after.reg"), store)
        store_after_state = reg_file.within(reg_file.parse_reg_bytes(after_data), AREAS)
        expected_registry = reg_file.apply_changes(before, store_state, store_after_state)
    else:
        expected_registry = before
    differences = reg_file.state_differences(expected_registry, after)
    if differences:
        failures.append("registry afterwards differs:\n  " + "\n  ".join(differences))
    if failures and completed.stderr:
        failures.append("stderr:\n" + completed.stderr.decode("utf-8", "replace"))
    return failures


def skip_reason(case):
    options = case_options(case)
    if "posix-only" in options:
        reason = option_reasons(case).get("posix-only")
        return f"posix-only case ({reason})" if reason else "posix-only case"
    if "read-only-store" in options:
        return ("read-only-store case: Wine's registry takes no rights away from the user, "
                "so there is no read-only registry to run it on")
    return None


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


# What a bare Windows host has: the program must need no DLL beyond these.
SYSTEM_DLLS = {"kernel32.dll", "advapi32.dll", "msvcrt.dll"}
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


def check_imports(program):
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
    if set(imports) - SYSTEM_DLLS:
        failures.append(f"imports DLLs a bare Windows host lacks: "
                        f"{sorted(set(imports) - SYSTEM_DLLS)}")
    missing = REGISTRY_FUNCTIONS - imports.get("advapi32.dll", set())
    if missing:
        failures.append(f"registry operations not taken from advapi32: {sorted(missing)}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the built ipoib-guidmask.exe")
    parser.add_argument("--cases", default=os.path.join(os.path.dirname(
        os.path.abspath(__file__)), "cases"), help="the folder of case folders")
    parser.add_argument("names", nargs="*", help="run only these cases")
    arguments = parser.parse_args()

    cases = sorted(name for name in os.listdir(arguments.cases)
                   if os.path.isdir(os.path.join(arguments.cases, name)))
    if arguments.names:
        cases = [name for name in cases if name in arguments.names]
    started = time.monotonic()
    prefix = tempfile.mkdtemp(prefix="ipoib-guidmask-wine-")
    env = wine_environment(prefix)
    passed = failed = skipped = 0
    try:
        start_prefix(env)
        os.makedirs(host_path(env, "C:\\tools"))
        os.makedirs(host_path(env, CASE_FOLDER_SEEN))
        shutil.copyfile(arguments.program, host_path(env, PROGRAM_PATH_SEEN))
        print(f"wine prefix ready in {time.monotonic() - started:.1f} s", flush=True)

        program_checks = (("imports system DLLs and the registry API",
                           check_imports(arguments.program)),
                          ("console text", check_console_text(env)))
        for name, failures in program_checks:
            print(f"{'ok' if not failures else 'FAIL'} {name}", flush=True)
            for line in failures:
                print("  " + line)
            passed, failed = (passed + 1, failed) if not failures else (passed, failed + 1)

        for name in cases:
            case = os.path.join(arguments.cases, name)
            reason = skip_reason(case)
            if reason is not None:
                print(f"skipped {name}: {reason}", flush=True)
                skipped += 1
                continue
            notes = []
            try:
                failures = run_case(env, case, notes)
            except reg_file.RegFileError as error:
                failures = [f"the case's store files cannot be read: {error}"]
            print(f"{'ok' if not failures else 'FAIL'} {name}", flush=True)
            for line in notes + failures:
                print("  " + line.replace("\n", "\n  "))
            if failures:
                failed += 1
            else:
                passed += 1
    finally:
        stop_prefix(env)
        shutil.rmtree(prefix, ignore_errors=True)
    print(f"Windows leg under Wine took {time.monotonic() - started:.1f} s")
    print(f"wine: {passed} passed, {failed} failed, {skipped} skipped")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
