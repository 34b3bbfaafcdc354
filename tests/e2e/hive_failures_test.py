#!/usr/bin/env python3
"""The hive store's own failures, end to end: hives that are broken in each way the program
must refuse, and a build without hivex given a hive.

Each row builds a hive (with hive_tool, from the store of an end-to-end case) and breaks it,
runs the program on it and compares standard output, the exit status and the one line on
standard error exactly; the hive must be byte for byte as it was, with nothing left beside it.
A read-only hive is a case option of the corpus (read-only-store), which run_case_hive.py runs.
"""
import argparse
import hashlib
import os
import random
import shutil
import stat
import subprocess
import sys
import tempfile
import unittest

import run_case

HERE = os.path.dirname(os.path.abspath(__file__))
CASES = os.path.join(HERE, "cases")
ADAPTERS_STORE = os.path.join(CASES, "run-fix-interactive", "store.reg")

# The empty hive of tests/support/empty_hive.cpp, as the fact sheet it follows gives its digest.
EMPTY_HIVE_SHA256 = "60204996618254d4d21cc061d915fa6e918416264d1f87a9a594403fa37f6240"

NO_SELECT = "the hive has no dword Select\\Current to name its current control set"

ARGUMENTS = None


def not_a_hive(path):
    """"regf" and then random bytes, 8 KiB in all."""
    generator = random.Random(7)
    with open(path, "wb") as handle:
        handle.write(b"regf" + bytes(generator.randrange(256) for _ in range(8188)))


def first_bin_unsigned(path):
    """The first bin's "hbin" mark overwritten; the header stays sound."""
    with open(path, "r+b") as handle:
        handle.seek(0x1000)
        handle.write(b"xbin")


def cut_to(size):
    def cut(path):
        os.truncate(path, size)
    return cut


def loop_below_network_key(path):
    """The network instances key's first subkey lists the key's own subkeys: a cycle."""
    with open(path, "rb") as handle:
        data = bytearray(handle.read())
    for at in range(0x1000, len(data) - 0x4C, 4):
        length = int.from_bytes(data[at + 0x48:at + 0x4A], "little")
        name = bytes(data[at + 0x4C:at + 0x4C + length]).lower()
        if data[at:at + 2] == b"nk" and name == b"{4d36e972-e325-11ce-bfc1-08002be10318}":
            count, lists = data[at + 0x14:at + 0x18], data[at + 0x1C:at + 0x20]
            child = int.from_bytes(data[0x1000 + int.from_bytes(lists, "little") + 8:][:4],
                                   "little") + 0x1004
            if count != bytes(4) and data[child:child + 2] == b"nk":
                data[child + 0x14:child + 0x18] = count
                data[child + 0x1C:child + 0x20] = lists
                break
    with open(path, "wb") as handle:
        handle.write(data)


def nest_below_network_key(levels):
    """levels keys, each below the one before, below the network instances key (4 deep)."""
    def nest(path):
        script = ("cd ControlSet001\\Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\n" +
                  "add k\ncd k\n" * levels)
        subprocess.run(["hivexsh", "-w", path], input=script + "commit\n", text=True,
                       check=True, capture_output=True)
    return nest


def seal(block):
    """The base block's checksum set again."""
    checksum = 0
    for at in range(0, 508, 4):
        checksum ^= int.from_bytes(block[at:at + 4], "little")
    block[508:512] = checksum.to_bytes(4, "little")


def dirty_with_a_declined_entry(path):
    """Dirty one write below its SYSTEM.LOG1, whose one entry (a key added) has sound hashes and
    the next sequence number but claims twice the bins its pages reach."""
    changed = path + ".changed"
    subprocess.run(["hivexsh", "-w", path], input="add Probe\ncommit %s\n" % changed, text=True,
                   check=True, capture_output=True)
    with open(path, "r+b") as handle:
        block = bytearray(handle.read(512))
        sequence = int.from_bytes(block[4:8], "little") + 1
        log = bytearray(block)
        log[4:8] = log[8:12] = sequence.to_bytes(4, "little")
        log[0x1C:0x20] = (6).to_bytes(4, "little")
        seal(log)
        with open(path + ".LOG1", "wb") as out:
            out.write(log)
        block[4:8] = sequence.to_bytes(4, "little")
        seal(block)
        handle.seek(0)
        handle.write(block)
    with open(changed, "rb") as handle:
        bins = int.from_bytes(handle.read(0x2C)[0x28:], "little")
    subprocess.run([ARGUMENTS.hive_tool, "log-entry", path, changed, path + ".LOG1",
                    "--bins-size", str(2 * bins)], check=True)
    os.remove(changed)


# (description, hive_tool build options, how the built hive is then broken, arguments,
#  standard error after "ipoib-guidmask: PATH: ")
BROKEN_HIVES = [
    ("not a hive", [], not_a_hive, ["-f", "-s"],
     "the registry hive's header is damaged (its checksum is wrong)"),
    ("a hive cut below its 8 KiB minimum", [], cut_to(6144), ["-f", "-s"],
     "the registry hive is truncated: 6144 of 16384 bytes; copy it again"),
    ("a hive cut inside its last bin", [], cut_to(12288), ["-f", "-s"],
     "the registry hive is truncated: 12288 of 16384 bytes; copy it again"),
    ("a hive whose first bin is no bin", [], first_bin_unsigned, ["-f", "-s"],
     "the registry hive is damaged: its bins or its root key cannot be read"),
    ("no Select key", ["--no-select"], None, ["-f"], NO_SELECT),
    ("Select\\Current naming a control set that is missing", ["--current", "2"], None, ["-f"],
     "the hive has no ControlSet002, which Select\\Current names as the current control set"),
    ("a subkey list that leads back to its own key", [], loop_below_network_key, ["-f", "-s"],
     "the registry hive is damaged (a key is listed below itself or twice)"),
    ("keys nested deeper than 512 levels", [], nest_below_network_key(509), [],
     "the registry hive is damaged (keys nested deeper than 512 levels)"),
    ("Select\\Current naming control set 0", ["--current", "0"], None, [],
     "the hive has no ControlSet000, which Select\\Current names as the current control set"),
    ("a fix on a dirty hive whose log has an entry the replay declines", [],
     dirty_with_a_declined_entry, ["-f", "-s"],
     "the hive was not shut down cleanly and cannot be brought up to date, as entry 3 of "
     "SYSTEM.LOG1 is not applied (it grows the hive beyond the pages it carries): start the "
     "image once and shut it down cleanly, then run again"),
]


def bins_size_moved_by(delta):
    """The header's hive-bins size moved by delta bytes, its checksum set again."""
    def move(path):
        with open(path, "r+b") as handle:
            block = bytearray(handle.read(512))
            size = int.from_bytes(block[0x28:0x2C], "little") + delta
            block[0x28:0x2C] = size.to_bytes(4, "little")
            seal(block)
            handle.seek(0)
            handle.write(block)
    return move


class HiveFailuresTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="ipoib-guidmask-hive-failures-")
        self.hive = os.path.join(self.work, "SYSTEM")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def build(self, options=(), store=ADAPTERS_STORE):
        subprocess.run([ARGUMENTS.hive_tool, "build", store, self.hive, *options], check=True)

    def run_program(self, program, arguments, stdin=b""):
        env = {key: value for key, value in os.environ.items()}
        env["IPOIB_GUIDMASK_REGISTRY"] = self.hive
        env["LANG"] = "C"
        return subprocess.run([run_case.PROGRAM_PATH_SEEN] + arguments, executable=program,
                              env=env, input=stdin, capture_output=True, timeout=60)

    def files(self):
        """Every file beside the hive and the hive itself, by name, with its bytes."""
        files = {}
        for name in os.listdir(self.work):
            with open(os.path.join(self.work, name), "rb") as handle:
                files[name] = handle.read()
        return files

    def assert_untouched(self, before):
        self.assertEqual(sorted(before), sorted(os.listdir(self.work)), "files beside the hive")
        self.assertEqual(before, self.files(), "the hive or a log changed")

    def test_refuses_each_broken_hive_in_one_line(self):
        for description, options, breaking, arguments, what in BROKEN_HIVES:
            with self.subTest(description):
                for name in os.listdir(self.work):
                    os.remove(os.path.join(self.work, name))
                self.build(options)
                if breaking is not None:
                    breaking(self.hive)
                before = self.files()
                completed = self.run_program(ARGUMENTS.program, arguments)
                self.assertEqual(b"", completed.stdout)
                self.assertEqual(255, completed.returncode)
                self.assertEqual(f"ipoib-guidmask: {self.hive}: {what}\n",
                                 completed.stderr.decode("utf-8"))
                self.assert_untouched(before)

    def test_a_bins_size_a_little_off_is_mended_and_the_fix_reads_back(self):
        self.build()
        self.assertEqual(0, self.run_program(ARGUMENTS.program, ["-f", "-s"]).returncode)
        expected = self.run_program(ARGUMENTS.program, [])
        for delta in (1, 0xFFFF, -4):
            with self.subTest(delta=delta):
                self.build()
                bins_size_moved_by(delta)(self.hive)
                fixed = self.run_program(ARGUMENTS.program, ["-f", "-s"])
                self.assertEqual((0, b""), (fixed.returncode, fixed.stderr))
                with open(self.hive, "rb") as handle:
                    self.assertEqual(0, int.from_bytes(handle.read(0x2C)[0x28:], "little") % 4096)
                checked = self.run_program(ARGUMENTS.program, [])
                self.assertEqual((expected.stdout, b""), (checked.stdout, checked.stderr))

    def test_help_needs_no_hive(self):
        not_a_hive(self.hive)
        completed = self.run_program(ARGUMENTS.program, ["-h", "-f"])
        with open(os.path.join(CASES, "cli-help", "expected-stdout"), "rb") as handle:
            self.assertEqual(handle.read(), completed.stdout)
        self.assertEqual((0, b""), (completed.returncode, completed.stderr))

    def test_a_build_without_hivex_refuses_a_hive_in_one_line(self):
        self.build()
        before = self.files()
        completed = self.run_program(ARGUMENTS.program_without_hive, ["-f", "-s"])
        self.assertEqual((b"", 255), (completed.stdout, completed.returncode))
        self.assertEqual(f"ipoib-guidmask: {self.hive}: this is a registry hive file, but this "
                         "build has no hive support (libhivex)\n",
                         completed.stderr.decode("utf-8"))
        self.assert_untouched(before)

    def test_a_build_without_hivex_still_reads_a_reg_file(self):
        case = os.path.join(CASES, "run-check-interactive")
        shutil.copy(os.path.join(case, "store.reg"), self.hive)
        completed = self.run_program(ARGUMENTS.program_without_hive, [])
        with open(os.path.join(case, "expected-stdout"), "rb") as handle:
            self.assertEqual(handle.read(), completed.stdout)
        self.assertEqual(0, completed.returncode)

    def test_the_empty_hive_is_the_fact_sheets(self):
        subprocess.run([ARGUMENTS.hive_tool, "empty", self.hive], check=True)
        with open(self.hive, "rb") as handle:
            self.assertEqual(EMPTY_HIVE_SHA256, hashlib.sha256(handle.read()).hexdigest())
        os.chmod(self.hive, stat.S_IRUSR)
        completed = subprocess.run([ARGUMENTS.hive_tool, "dump", self.hive], capture_output=True)
        self.assertEqual((0, b'key ""\n'), (completed.returncode, completed.stdout))


def main():
    global ARGUMENTS
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--program-without-hive", required=True)
    parser.add_argument("--hive-tool", required=True)
    ARGUMENTS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
