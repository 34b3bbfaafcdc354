#!/usr/bin/env python3
"""The Windows audit's live state, under Wine, in a network namespace of its own.

The test starts itself again inside a new network namespace (`unshare -n`, or `unshare -rn`
where only a user namespace may be made), gives veth interfaces chosen addresses
(`ip link set ... address`) and the first of them neighbors (`ip neigh add ... nud permanent`),
then makes a Wine prefix whose wineserver starts there: Wine answers the IP Helper API from
the wineserver's side, so a prefix started outside would report the outside's interfaces. The
interface GUIDs are read from what Wine reports (`wmic nic`), written into the prefix's registry
as the adapters' "NetCfgInstanceId" (`reg import`), and the audit's document must then show:

  0000  ib0, mask 0xe7 stored, its address          in-effect
  0001  ib1, 0x3f stored, the msb-first address     in-effect, reading msb-first (the GUID
                                                    written in lower case: compared as GUIDs)
  0002  ib2, 0xe7 stored, another address           pending-restart, restart needed
  0003  an instance Wine has no interface for       not-present
  0004  a "NetworkAddress" value                    overridden
  ib0's neighbors 192.168.50.2 and .3 with one link-layer address, and .4 with ib0's own:
  two neighbor-collision conflicts.

Where no namespace can be made, the test says why and exits with 77 (skipped).
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile

import wine

SKIPPED = 77
AUDIT_SEEN = "C:\\tools\\ipoib-guidmask-audit.exe"
INSTANCES = wine.NETWORK_INSTANCES_KEY
CLASS = wine.ADAPTER_CLASS_KEY

# name: (interface address, the port GUID as printed, the stored GUIDMask text)
INTERFACES = {
    "ib0": ("00:30:48:12:34:56", "003048ffff123456", "231"),
    "ib1": ("04:06:08:0a:0c:0e", "00020406080a0c0e", "63"),
    "ib2": ("02:00:00:00:00:02", "003048ffff778899", "231"),
}
ABSENT_INSTANCE = "{9A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}"
OVERRIDDEN_INSTANCE = "{8A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}"
NEIGHBORS = (("192.168.50.2", "00:11:22:33:44:55"), ("192.168.50.3", "00:11:22:33:44:55"),
             ("192.168.50.4", "00:30:48:12:34:56"))

# subkey: (liveState, liveReading, current address, restartNeeded)
EXPECTED_ADAPTERS = {
    "0000": ("in-effect", None, "00-30-48-12-34-56", False),
    "0001": ("in-effect", "msb-first", "04-06-08-0a-0c-0e", False),
    "0002": ("pending-restart", None, "02-00-00-00-00-02", True),
    "0003": ("not-present", None, None, False),
    "0004": ("overridden", None, None, False),
}
EXPECTED_CONFLICTS = [
    {"kind": "neighbor-collision", "address": "00-11-22-33-44-55",
     "neighbors": ["192.168.50.2", "192.168.50.3"], "subkeys": ["0000"]},
    {"kind": "neighbor-collision", "address": "00-30-48-12-34-56",
     "neighbors": ["192.168.50.4"], "subkeys": ["0000"]},
]
# Wine 8 does not implement the IPv6 neighbor table (Windows and later Wine do): the audit says
# so in its one line, and reads the rest.
IPV6_UNREAD = (b"ipoib-guidmask-audit: the live state was not read whole: the IPv6 neighbor "
               b"table (GetIpNetTable2, error 1)\r\n")


def run(command, **options):
    return subprocess.run(command, capture_output=True, timeout=wine.COMMAND_TIMEOUT, **options)


def namespace_command():
    """The unshare command that makes a network namespace here, or None and why not."""
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        return None, "unshare or ip not installed (Debian: util-linux, iproute2)"
    reasons = []
    for command in (["unshare", "-n"], ["unshare", "-rn"]):
        completed = run(command + ["ip", "link", "add", "probe0", "type", "veth", "peer",
                                   "name", "probe1"])
        if completed.returncode == 0:
            return command, None
        reasons.append(f"{' '.join(command)}: {completed.stderr.decode(errors='replace').strip()}")
    return None, "no network namespace with veth interfaces can be made: " + "; ".join(reasons)


def set_up_network():
    commands = [["ip", "link", "set", "lo", "up"]]
    for name, (address, _, _) in INTERFACES.items():
        commands += [["ip", "link", "add", name, "type", "veth", "peer", "name", "peer-" + name],
                     ["ip", "link", "set", name, "address", address],
                     ["ip", "link", "set", name, "up"], ["ip", "link", "set", "peer-" + name, "up"]]
    commands.append(["ip", "addr", "add", "192.168.50.1/24", "dev", "ib0"])
    for address, link in NEIGHBORS:
        commands.append(["ip", "neigh", "add", address, "lladdr", link, "dev", "ib0", "nud",
                         "permanent"])
    for command in commands:
        completed = run(command)
        if completed.returncode != 0:
            return f"{' '.join(command)}: {completed.stderr.decode(errors='replace').strip()}"
    return None


def wine_interface_guids(env):
    """{interface name: GUID text} as Wine reports its interfaces."""
    completed = wine.run_in_wine(env, ["wmic", "nic", "get", "GUID,Name"])
    text = completed.stdout.decode("utf-16" if completed.stdout[:2] == b"\xff\xfe" else "utf-8")
    guids = {}
    for line in text.splitlines()[1:]:
        fields = line.split()
        if len(fields) == 2 and fields[0].startswith("{"):
            guids[fields[1]] = fields[0]
    return guids


def registry_file(guids):
    """The adapters as a .reg file, each instance named by its interface's GUID."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    adapters = [(guids[name] if name != "ib1" else guids[name].lower(), name, guid, mask)
                for name, (_, guid, mask) in INTERFACES.items()]
    adapters += [(ABSENT_INSTANCE, "absent", "003048000abcdef0", "231"),
                 (OVERRIDDEN_INSTANCE, "overridden", "0030480000000001", "231")]
    for index, (instance, name, guid, mask) in enumerate(adapters):
        digits = "".join(reversed([guid[at:at + 2] for at in range(0, 16, 2)])).upper()
        lines += [f"[{INSTANCES}\\{instance}\\Connection]", f'"Name"="{name}"',
                  f'"PnpInstanceID"="IBA\\\\IPOIB\\\\{digits}"', "",
                  f"[{CLASS}\\{index:04d}]", '"ComponentId"="iba\\\\ipoib"',
                  f'"NetCfgInstanceId"="{instance}"', f'"GUIDMask"="{mask}"']
        if instance == OVERRIDDEN_INSTANCE:
            lines.append('"NetworkAddress"="02AABBCCDDEE"')
        lines.append("")
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def document_differences(document):
    failures = []
    adapters = {adapter["subkey"]: adapter for adapter in document["adapters"]}
    for subkey, expected in EXPECTED_ADAPTERS.items():
        adapter = adapters.get(subkey)
        if adapter is None:
            failures.append(f"adapter {subkey} missing")
            continue
        interface = adapter["interface"] or {}
        actual = (adapter["liveState"], adapter["liveReading"], interface.get("currentAddress"),
                  adapter["restartNeeded"])
        if actual != expected:
            failures.append(f"adapter {subkey}: {actual}, expected {expected}")
    conflicts = [{"kind": finding["kind"], "address": finding["address"],
                  "neighbors": finding["neighbors"],
                  "subkeys": [adapter["subkey"] for adapter in finding["adapters"]]}
                 for finding in document["conflicts"]]
    if conflicts != EXPECTED_CONFLICTS:
        failures.append(f"conflicts {conflicts}, expected {EXPECTED_CONFLICTS}")
    if document["summary"].get("pendingRestart") != 1:
        failures.append(f"summary {document['summary']}, expected pendingRestart 1")
    return failures


def audit_in_prefix(audit, prefix):
    """Inside the namespace: the prefix, the registry, one run of the audit; failure lines."""
    env = wine.wine_environment(prefix)
    wine.start_prefix(env)
    try:
        os.makedirs(wine.host_path(env, "C:\\tools"))
        os.makedirs(wine.host_path(env, wine.CASE_FOLDER_SEEN))
        shutil.copyfile(audit, wine.host_path(env, AUDIT_SEEN))
        guids = wine_interface_guids(env)
        if sorted(name for name in guids if name in INTERFACES) != sorted(INTERFACES):
            return [f"Wine reports the interfaces {guids}, not {sorted(INTERFACES)}"]
        failure = wine.prepare_registry(env, registry_file(guids), [])
        if failure is not None:
            return [failure]
        completed = wine.run_in_wine(env, [AUDIT_SEEN, "--json", "-d", "3f"])
        try:
            document = json.loads(completed.stdout.decode("utf-8"))
        except ValueError as error:
            return [f"no JSON document ({error}): {completed.stdout[:300]!r} "
                    f"{completed.stderr[:300]!r}"]
        failures = document_differences(document)
        if completed.stderr not in (b"", IPV6_UNREAD):
            failures.append(f"stderr {completed.stderr!r}")
        if completed.returncode != 2:
            failures.append(f"exit status {completed.returncode}, expected 2 (conflicts)")
        return failures
    finally:
        wine.stop_prefix(env)


def inside(audit):
    problem = set_up_network()
    if problem is not None:
        print(f"FAIL the namespace's interfaces: {problem}")
        return 1
    prefix = tempfile.mkdtemp(prefix="ipoib-guidmask-live-")
    try:
        failures = audit_in_prefix(audit, prefix)
    finally:
        shutil.rmtree(prefix, ignore_errors=True)
    print("ok live state under Wine" if not failures else "FAIL live state under Wine")
    for line in failures:
        print("  " + line)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--audit", required=True, help="the built ipoib-guidmask-audit.exe")
    parser.add_argument("--inside", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    audit = os.path.abspath(arguments.audit)
    if arguments.inside:
        return inside(audit)
    command, reason = namespace_command()
    if command is None:
        print(f"live state under Wine skipped: {reason}")
        return SKIPPED
    return subprocess.run(command + [sys.executable, os.path.abspath(__file__), "--inside",
                                     "--audit", audit], timeout=600).returncode


if __name__ == "__main__":
    sys.exit(main())
