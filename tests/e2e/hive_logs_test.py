#!/usr/bin/env python3
"""A dirty hive and its transaction logs, end to end, on the real SYSTEM_B (regipy's test data,
tests/data/hives). An IPoIB adapter is put where only the logs hold it: the hive is replayed,
the adapter added with hivexsh, and the entry that brings one to the other appended to LOG2
behind its last entry. The logs' names are spelt in other cases, as they may be on NTFS.
"""
import argparse
import hashlib
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "data", "hives")
NETWORK = "ControlSet001\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}"
CLASS = "ControlSet001\\Control\\Class\\{4D36E972-E325-11CE-BFC1-08002BE10318}"
INSTANCE = "{3A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}"
ADD_ADAPTER = "\n".join([
    "cd " + NETWORK, "add " + INSTANCE, "cd " + INSTANCE, "add Connection", "cd Connection",
    "setval 3", "Name", "string:Ethernet 9", "PnpInstanceID",
    "string:IBA\\IPOIB\\563412FFFF483000", "MediaSubType", "dword:0x1", "cd \\", "cd " + CLASS,
    "add 0099", "cd 0099", "setval 3", "DriverDesc", "string:IPoIB Adapter",
    "ComponentId", "string:iba\\ipoib", "NetCfgInstanceId", "string:" + INSTANCE, ""])
# "231" as REG_SZ, on the class key of the adapter, however the hive spells its path.
GUIDMASK_VALUE = '\\\\0099" "GUIDMask" 1 3200330031000000'
LOGS = ("system_b.log1", "SYSTEM_B.Log2")


def unpack(name, target):
    with open(target, "wb") as out:
        subprocess.run(["xz", "-dc", os.path.join(DATA, name + ".xz")], stdout=out, check=True)


def digest(path):
    with open(path, "rb") as file:
        return hashlib.sha256(file.read()).hexdigest()


def sequence_numbers(path):
    with open(path, "rb") as file:
        block = file.read(12)
    return int.from_bytes(block[4:8], "little"), int.from_bytes(block[8:12], "little")


class HiveLogsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.source = os.path.join(cls.work, "source")
        os.mkdir(cls.source)
        unpack("SYSTEM_B", os.path.join(cls.source, "SYSTEM_B"))
        unpack("SYSTEM_B.LOG1", os.path.join(cls.source, LOGS[0]))
        unpack("SYSTEM_B.LOG2", os.path.join(cls.source, LOGS[1]))
        logs = [os.path.join(cls.source, name) for name in LOGS]
        replayed = os.path.join(cls.work, "replayed")
        cls.expected = os.path.join(cls.work, "expected")
        subprocess.run([ARGS.hive_tool, "replay", os.path.join(cls.source, "SYSTEM_B"),
                        replayed] + logs, check=True)
        subprocess.run(["hivexsh", "-w"], input="load %s\n%scommit %s\n" % (
            replayed, ADD_ADAPTER, cls.expected), text=True, check=True)
        # Logs of their own whose last entry also breaks the header of the second bin.
        cls.damaged = os.path.join(cls.work, "damaged")
        os.mkdir(cls.damaged)
        for name in ("SYSTEM_B",) + LOGS:
            shutil.copy(os.path.join(cls.source, name), cls.damaged)
        with open(cls.expected, "rb") as file:
            broken = bytearray(file.read())
        second = 0x1000 + int.from_bytes(broken[0x1008:0x100C], "little")
        broken[second:second + 4] = b"hbiN"
        with open(os.path.join(cls.work, "broken"), "wb") as file:
            file.write(broken)
        subprocess.run([ARGS.hive_tool, "log-entry", replayed, os.path.join(cls.work, "broken"),
                        os.path.join(cls.damaged, LOGS[1])], check=True)
        subprocess.run([ARGS.hive_tool, "log-entry", replayed, cls.expected, logs[1]], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work)

    def copy(self, with_logs=True, source=None):
        directory = tempfile.mkdtemp(dir=self.work)
        for name in ("SYSTEM_B",) + (LOGS if with_logs else ()):
            shutil.copy(os.path.join(source or self.source, name), directory)
        return directory

    def run_program(self, directory, *args):
        env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=os.path.join(directory, "SYSTEM_B"))
        return subprocess.run([ARGS.program] + list(args), env=env, capture_output=True,
                              text=True, timeout=60)

    def dump(self, path):
        return subprocess.run([ARGS.hive_tool, "dump", path], capture_output=True, text=True,
                              check=True).stdout.splitlines()

    def test_check_reports_what_only_the_logs_hold_and_writes_nothing(self):
        directory = self.copy()
        before = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        result = self.run_program(directory)
        self.assertEqual(0, result.returncode)
        self.assertEqual("", result.stderr)
        self.assertIn("has been found: 0x003048ffff123456.", result.stdout)
        after = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        self.assertEqual(before, after)

    def test_audit_reads_the_hive_with_its_logs_as_a_check_does_and_writes_nothing(self):
        directory = self.copy()
        before = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        hive = os.path.join(directory, "SYSTEM_B")
        audit = subprocess.run([ARGS.audit, "--wide", hive], capture_output=True, text=True,
                               timeout=60)
        self.assertEqual((1, ""), (audit.returncode, audit.stderr))
        row = [line for line in audit.stdout.splitlines() if line.startswith(hive + " ")]
        self.assertEqual(1, len(row), audit.stdout)
        self.assertEqual(["0099", "would-write", "0x003048ffff123456", "known:0xe7"],
                         row[0].split()[1:5])
        after = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        self.assertEqual(before, after)
        bare = os.path.join(self.copy(with_logs=False), "SYSTEM_B")
        audit = subprocess.run([ARGS.audit, bare], capture_output=True, text=True, timeout=60)
        self.assertEqual(0, audit.returncode)
        self.assertIn("ipoib-guidmask-audit: " + bare + ": warning: the hive was not shut down "
                      "cleanly", audit.stderr)
        self.assertTrue(audit.stdout.endswith(" adapters=0 ok=0 would-write=0 would-replace=0 "
                                              "no-instance=0 conflicts=0 warnings=0 "
                                              "pending-restart=0\n"))
        warned = subprocess.run([ARGS.audit, "--json", bare], capture_output=True, timeout=60)
        self.assertIn("may be incomplete", json.loads(warned.stdout)["stores"][0]["warning"])

    def test_check_without_logs_warns_and_reports_the_hive_as_it_is(self):
        result = self.run_program(self.copy(with_logs=False))
        self.assertEqual(0, result.returncode)
        self.assertEqual(1, len(result.stderr.splitlines()))
        self.assertIn("not shut down cleanly and may be incomplete", result.stderr)
        self.assertIn("No IPoIB devices have been found", result.stdout)

    def test_fix_without_logs_is_refused(self):
        directory = self.copy(with_logs=False)
        before = digest(os.path.join(directory, "SYSTEM_B"))
        result = self.run_program(directory, "-f", "-s")
        self.assertEqual(255, result.returncode)
        self.assertEqual("", result.stdout)
        self.assertEqual(1, len(result.stderr.splitlines()))
        self.assertIn("start the image once and shut it down cleanly", result.stderr)
        self.assertEqual(before, digest(os.path.join(directory, "SYSTEM_B")))
        self.assertEqual(["SYSTEM_B"], os.listdir(directory))

    def test_a_bin_the_logs_break_is_refused_by_a_fix_and_warned_of_by_a_check(self):
        directory = self.copy(source=self.damaged)
        before = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        check = self.run_program(directory)
        self.assertEqual((0, 1), (check.returncode, len(check.stderr.splitlines())))
        self.assertIn("a bin is damaged after its transaction logs are replayed", check.stderr)
        self.assertIn("No IPoIB devices have been found", check.stdout)
        fix = self.run_program(directory, "-f", "-s")
        self.assertEqual((255, "", 1), (fix.returncode, fix.stdout, len(fix.stderr.splitlines())))
        self.assertIn("a bin is damaged after its transaction logs are replayed", fix.stderr)
        after = {name: digest(os.path.join(directory, name)) for name in os.listdir(directory)}
        self.assertEqual(before, after)

    def test_fix_commits_the_logs_and_the_mask_into_a_clean_hive(self):
        directory = self.copy()
        logs = {name: digest(os.path.join(directory, name)) for name in LOGS}
        result = self.run_program(directory, "-f", "-s")
        self.assertEqual(0, result.returncode, result.stderr)
        hive = os.path.join(directory, "SYSTEM_B")
        primary, secondary = sequence_numbers(hive)
        # Above the appended entry 2131, so that Windows replays none of the logs again.
        self.assertEqual(primary, secondary)
        self.assertGreater(primary, 2131)
        self.assertEqual(logs, {name: digest(os.path.join(directory, name)) for name in LOGS})
        written = set(self.dump(hive))
        expected = set(self.dump(self.expected))
        self.assertEqual(set(), expected - written)
        added = sorted(written - expected)
        self.assertEqual(1, len(added), added)
        self.assertTrue(added[0].startswith('value "') and added[0].endswith(GUIDMASK_VALUE))
        again = self.run_program(directory)
        self.assertEqual(("", 0), (again.stderr, again.returncode))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--hive-tool", required=True)
    parser.add_argument("--audit", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
