#!/usr/bin/env python3
"""Runs the project's Ansible playbook (examples/ansible/ipoib-guidmask.yml) with ansible-core
against four local hosts, each with a .reg store of its own: the POSIX programs stand in for
the Windows ones (inventory variables name them, IPOIB_GUIDMASK_REGISTRY the store), and a
stand-in ansible.windows collection (collections/ here) runs win_command as
ansible.builtin.command and records win_powershell's parameters in a file.

host-a needs a fix, and its adapter would then share a MAC address with host-b's: only the
last play, which audits every host's document together, can see that. host-c is clean.
host-d has two adapters that collide on the host itself and fails there in one line.

First with --check, which must change no store and restart nothing, then for real. Exits 77
(skipped) without ansible-playbook.
"""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
HOSTS = ["host-a", "host-b", "host-c", "host-d"]
SKIPPED = 77

HOST_D_MESSAGE = ("audit status 2: mac-collision 00-dd-ee-11-22-33 (0001, 0002); stores=1 "
                  "unreadable=0 adapters=2 ok=2 wouldWrite=0 wouldReplace=0 noInstance=0 "
                  "conflicts=1 warnings=0 pendingRestart=0")
FLEET_MESSAGE = (
    "fleet audit status 2: "
    "conflict: mac-collision 00-aa-bb-ee-ff-01: $WORK/host-a.reg 0001 \"Storage (rack 7's "
    "switch)\" 0x00aabbccddeeff01, $WORK/host-b.reg 0001 \"ib0\" 0x00aabb1234eeff01 | "
    "conflict: mac-collision 00-dd-ee-11-22-33: $WORK/host-d.reg 0001 \"ib0\" 0x00ddee9900112233, "
    "$WORK/host-d.reg 0002 \"ib1\" 0x00ddee9999112233 | "
    "summary: stores=4 unreadable=0 adapters=6 ok=5 would-write=1 would-replace=0 no-instance=0 "
    "conflicts=2 warnings=0 pending-restart=0")
RESTARTS = 'host-a {"InterfaceGuid": "{1A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}"}\n'


def write_inventory(work, args):
    hosts = {host: {"guidmask_environment": {
        "IPOIB_GUIDMASK_REGISTRY": os.path.join(work, host + ".reg")}} for host in HOSTS}
    inventory = {"all": {
        "children": {"ipoib_nodes": {"hosts": hosts}},
        "vars": {
            "ansible_connection": "local",
            "ansible_python_interpreter": sys.executable,
            "guidmask_audit": args.audit,
            "guidmask_fix": args.program,
            "guidmask_fleet_audit": args.audit,
            "guidmask_fleet_dir": os.path.join(work, "fleet"),
        }}}
    path = os.path.join(work, "inventory.json")
    with open(path, "w") as handle:
        json.dump(inventory, handle)
    return path


def run_play(args, work, inventory, extra):
    home = os.path.join(work, "ansible-home")
    # No ansible.cfg of the caller's: the run's working directory is the scratch folder.
    env = dict(os.environ, ANSIBLE_CONFIG="", ANSIBLE_COLLECTIONS_PATH=os.path.join(HERE, "collections"),
               ANSIBLE_HOME=home, ANSIBLE_LOCAL_TEMP=os.path.join(home, "tmp"),
               ANSIBLE_REMOTE_TEMP=os.path.join(home, "tmp"), ANSIBLE_NOCOLOR="1",
               ANSIBLE_STDOUT_CALLBACK="default", ANSIBLE_RETRY_FILES_ENABLED="0",
               ANSIBLE_LOCALHOST_WARNING="0",
               ANSIBLE_INVENTORY_UNPARSED_WARNING="0",
               IPOIB_GUIDMASK_TEST_POWERSHELL_LOG=os.path.join(work, "powershell.log"))
    completed = subprocess.run([args.ansible_playbook, "-i", inventory, args.playbook] + extra,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env,
                               cwd=work, timeout=600, check=False)
    return completed.returncode, completed.stdout.decode("utf-8", "replace")


def recap(output):
    """{host: {"ok": n, "changed": n, "failed": n, ...}} from the PLAY RECAP lines."""
    counts = {}
    for line in output.split("PLAY RECAP", 1)[-1].splitlines():
        match = re.match(r"^(\S+)\s+:\s+(.*)$", line)
        if match:
            counts[match.group(1)] = {key: int(value) for key, value in
                                      re.findall(r"(\w+)=(\d+)", match.group(2))}
    return counts


def failure_message(output, host):
    """The message of the host's one failure, from "fatal: [host]: FAILED! => {...}"."""
    lines = [line for line in output.splitlines() if line.startswith("fatal: [%s]: " % host)]
    if len(lines) != 1:
        return None
    return json.loads(lines[0].split(" => ", 1)[1])["msg"]


def read(path):
    with open(path, "rb") as handle:
        return handle.read()


def check_run(name, output, status, work, stores_before, want_fixed):
    problems = []
    counts = recap(output)
    if status != 2:
        problems.append("ansible-playbook exited with %d, not 2 (hosts failed)" % status)
    want = {"host-a": (1, 0), "host-b": (0, 0), "host-c": (0, 0), "host-d": (0, 1),
            "localhost": (None, 1)}
    for host, (changed, failed) in want.items():
        got = counts.get(host, {})
        if changed is not None and (got.get("changed", 0) > 0) != (changed > 0) or \
                got.get("failed") != failed:
            problems.append("%s: recap %s, want changed %s and failed=%d"
                            % (host, got, "> 0" if changed else "= 0 or any", failed))
    if failure_message(output, "host-d") != HOST_D_MESSAGE:
        problems.append("host-d's message: %r" % failure_message(output, "host-d"))
    fleet = failure_message(output, "localhost")
    if fleet is None or fleet.replace(work, "$WORK") != FLEET_MESSAGE:
        problems.append("the fleet's message: %r" % fleet)
    for host in HOSTS:
        changed = read(os.path.join(work, host + ".reg")) != stores_before[host]
        if changed != (want_fixed and host == "host-a"):
            problems.append("%s's store %s" % (host, "changed" if changed else "unchanged"))
    log = os.path.join(work, "powershell.log")
    restarts = read(log).decode() if os.path.exists(log) else ""
    if restarts != (RESTARTS if want_fixed else ""):
        problems.append("restarts: %r" % restarts)
    return ["%s: %s" % (name, problem) for problem in problems]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--ansible-playbook", default=shutil.which("ansible-playbook"))
    parser.add_argument("--playbook", required=True)
    parser.add_argument("--audit", required=True)
    parser.add_argument("--program", required=True)
    args = parser.parse_args()
    if not args.ansible_playbook:
        print("Ansible play test skipped: ansible-playbook not installed (Debian: ansible-core)")
        return SKIPPED
    work = tempfile.mkdtemp(prefix="ansible-play-")
    try:
        for host in HOSTS:
            shutil.copy(os.path.join(HERE, "stores", host + ".reg"), work)
        before = {host: read(os.path.join(work, host + ".reg")) for host in HOSTS}
        inventory = write_inventory(work, args)
        problems = []
        status, output = run_play(args, work, inventory, ["--check"])
        problems += check_run("--check", output, status, work, before, False)
        if not problems:
            status, output = run_play(args, work, inventory, [])
            problems += check_run("run", output, status, work, before, True)
        if not problems:
            after = subprocess.run([args.audit], env=dict(
                os.environ, IPOIB_GUIDMASK_REGISTRY=os.path.join(work, "host-a.reg")),
                stdout=subprocess.DEVNULL, check=False)
            if after.returncode != 0:
                problems.append("host-a audited after the fix: status %d" % after.returncode)
        if problems:
            print(output)
            print("\n".join(problems))
            return 1
        print("the play: --check changed nothing; the run fixed host-a and restarted its "
              "adapter by GUID; host-d and the fleet failed in one line each")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
