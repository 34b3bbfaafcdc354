"""Wine's own registry for the end-to-end cases' Wine leg (run_case.py --leg wine).

One Wine prefix serves every case of a ctest run: `wine.py start PREFIX PROGRAM` makes it
(a wineserver kept alive between cases, the prefix's first boot, the two programs copied to
C:\\tools\\ipoib-guidmask.exe and C:\\tools\\ipoib-guidmask-audit.exe) and `wine.py stop PREFIX` ends its wineserver and removes it.
For each case, prepare_registry deletes the two registry areas the program reads and imports
the case's store.reg with `reg import` (see store_for_wine for the conversions and why), and
export_areas reads them back with `reg export`.
"""
import os
import re
import shutil
import subprocess
import sys

import reg_file

PROGRAM_PATH_SEEN = "C:\\tools\\ipoib-guidmask.exe"
AUDIT_PATH_SEEN = "C:\\tools\\ipoib-guidmask-audit.exe"
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


def run_in_wine(env, arguments, stdin=b"", cwd=None):
    """cwd, a folder of the prefix's drive C:, is the Windows program's working folder."""
    return subprocess.run(["wine"] + arguments, env=env, input=stdin, capture_output=True,
                          timeout=COMMAND_TIMEOUT, cwd=cwd)


def start_prefix(env):
    """A persistent wineserver first, so that every command of the run reuses it, then the
    prefix's first boot."""
    # Neither keeps the output of the test that starts the prefix: ctest waits for its end.
    subprocess.run(["wineserver", "-p"], env=env, check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=COMMAND_TIMEOUT)
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
                raise RuntimeError(f"reg export {area} failed with status {completed.returncode}: "
                                   f"{completed.stdout!r} {completed.stderr!r}")
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


def start(prefix, program, audit):
    os.makedirs(prefix)
    env = wine_environment(prefix)
    start_prefix(env)
    os.makedirs(host_path(env, "C:\\tools"))
    os.makedirs(host_path(env, CASE_FOLDER_SEEN))
    shutil.copyfile(program, host_path(env, PROGRAM_PATH_SEEN))
    shutil.copyfile(audit, host_path(env, AUDIT_PATH_SEEN))


def stop(prefix):
    if os.path.isdir(prefix):
        stop_prefix(wine_environment(prefix))
        shutil.rmtree(prefix, ignore_errors=True)


def main():
    if sys.argv[1:2] == ["start"] and len(sys.argv) == 5:
        stop(sys.argv[2])
        start(os.path.abspath(sys.argv[2]), sys.argv[3], sys.argv[4])
    elif sys.argv[1:2] == ["stop"] and len(sys.argv) == 3:
        stop(os.path.abspath(sys.argv[2]))
    else:
        sys.exit("usage: wine.py start PREFIX PROGRAM AUDIT | wine.py stop PREFIX")


if __name__ == "__main__":
    main()
