"""Registry states of SYSTEM hive files, for the hive leg's checks.

A state is what tests/e2e/reg_file.py makes of a .reg file: a dict of lower-cased key path ->
{lower-cased value name: (type, data bytes)}. Here the paths are those within the hive, below
its root key ("" is the root itself), as the program sees them below HKEY_LOCAL_MACHINE\\SYSTEM.
"""
import json
import subprocess

import reg_file

SYSTEM = "hkey_local_machine\\system"
SELECT_CURRENT = (reg_file.REG_DWORD, (1).to_bytes(4, "little"))


def hive_state_of_reg(state):
    """The hive that hive_tool builds from a .reg store's state: the keys below
    HKEY_LOCAL_MACHINE\\SYSTEM, CurrentControlSet stored as ControlSet001 (there even when
    empty), and Select\\Current = 1 added."""
    hive = {"": {}, "controlset001": {}}
    for key, values in state.items():
        if key == SYSTEM:
            path = ""
        elif key.startswith(SYSTEM + "\\"):
            path = key[len(SYSTEM) + 1:]
            first, _, rest = path.partition("\\")
            if first == "currentcontrolset":
                path = "controlset001" + ("\\" + rest if rest else "")
        else:
            continue
        hive.setdefault(path, {}).update(values)
    hive.setdefault("select", {})["current"] = SELECT_CURRENT
    return hive


def parse_dump(text):
    """The state of hive_tool dump's output (its format is in tests/support/hive_builder.h)."""
    decoder = json.JSONDecoder()
    state = {}
    for line in text.splitlines():
        kind, _, rest = line.partition(" ")
        path, end = decoder.raw_decode(rest)
        path = path[1:].lower() if path.startswith("\\") else path.lower()
        if kind == "key":
            state.setdefault(path, {})
            continue
        if kind != "value":
            raise ValueError(f"not a dump line: {line!r}")
        name, end2 = decoder.raw_decode(rest, end + 1)
        value_type, data = rest[end2 + 1:].split(" ")
        state.setdefault(path, {})[name.lower()] = (int(value_type), bytes.fromhex(data))
    return state


def dump_hive(hive_tool, path):
    """(state, None) of the hive read back with hivex, or (None, why) when hivex cannot read it."""
    completed = subprocess.run([hive_tool, "dump", path], capture_output=True, timeout=120)
    if completed.returncode != 0:
        return None, completed.stderr.decode("utf-8", "replace").strip()
    return parse_dump(completed.stdout.decode("utf-8")), None


def build_hive(hive_tool, reg_path, hive_path, *options):
    subprocess.run([hive_tool, "build", reg_path, hive_path, *options], check=True, timeout=300)
