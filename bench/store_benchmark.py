#!/usr/bin/env python3
"""Times the program on a registry store the size of a full exported SYSTEM hive.

Generates (once, under --work) a UTF-16LE .reg file with CRLF line ends, about 50 MB and
110,000 keys of strings, dwords and wrapped hex data, holding 64 IPoIB adapters among
ordinary ones. Then runs, in this order, `iconv -f UTF-16LE -t UTF-8` of the file, a check
run and a silent fix run (on a copy), and prints wall time, peak memory and bytes written.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
from big_store import ADAPTERS, CLS, KEYS, generate  # noqa: E402

def bytes_written():
    with open("/proc/self/io") as handle:
        for line in handle:
            if line.startswith("wchar:"):
                return int(line.split()[1])
    return 0


def measure(label, command, env=None):
    written = bytes_written()
    start = time.monotonic()
    with open(os.devnull, "wb") as sink:
        process = subprocess.Popen(command, stdout=sink, env=env)
        _, status, usage = os.wait4(process.pid, 0)
    seconds = time.monotonic() - start
    written = bytes_written() - written
    print("%-22s %8.2f s  peak %7.1f MB  written %9.1f MB  status %d"
          % (label, seconds, usage.ru_maxrss / 1024, written / 1e6, os.waitstatus_to_exitcode(status)))
    return seconds, usage.ru_maxrss * 1024


LONG_LINE_BYTES = 100_000_000


def write_long_line_store(path, kind, encoding, unit):
    """A store whose last line has about LONG_LINE_BYTES: a string value in an area the run
    opens, one outside them, or a key line of many names. Written in pieces: a forked child
    counts the parent's pages in its peak until it runs the program."""
    count = LONG_LINE_BYTES // unit
    if kind == "key line":
        head, piece, tail = "[HKEY_LOCAL_MACHINE\\SYSTEM", "\\" + "k" * 199, "]"
    else:
        key = CLS + "\\0000" if kind == "string in area" else r"HKEY_LOCAL_MACHINE\SOFTWARE\Big"
        head, piece, tail = '[%s]\r\n"Big"="' % key, "x" * 200, '"'
    with open(path, "wb") as handle:
        handle.write(b"\xff\xfe" if unit == 2 else b"")
        handle.write(("Windows Registry Editor Version 5.00\r\n\r\n" + head).encode(encoding))
        chunk = (piece * 5000).encode(encoding)
        for _ in range(count // (200 * 5000)):
            handle.write(chunk)
        handle.write((tail + "\r\n").encode(encoding))


def measure_long_lines(program, work):
    print("long line: %.0f MB" % (LONG_LINE_BYTES / 1e6))
    for encoding, unit in (("utf-8", 1), ("utf-16-le", 2)):
        for kind in ("string in area", "string outside", "key line"):
            path = os.path.join(work, "long.reg")
            write_long_line_store(path, kind, encoding, unit)
            env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=path)
            _, peak = measure("%s %s" % (kind, encoding), [program], env)
            os.remove(path)
            # The registry holds string data as UTF-16: twice the line's UTF-8 text, beside it.
            if kind == "string in area" and unit == 1:
                target = "line + its UTF-16 data, 3"
            else:
                target = "2"
            print("    peak / line: %.2f (target at most %s)" % (peak / LONG_LINE_BYTES, target))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", default="/tmp/ipoib-guidmask-bench")
    parser.add_argument("--generate", action="store_true", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    os.makedirs(arguments.work, exist_ok=True)
    store = os.path.join(arguments.work, "system.reg")
    if arguments.generate:
        generate(store)
        return 0
    if not os.path.exists(store):
        # In a process of its own, so that its memory is not counted as the runs' peak.
        subprocess.run([sys.executable, __file__, "--program", arguments.program, "--work",
                        arguments.work, "--generate"], check=True)
    size = os.path.getsize(store)
    print("store: %s, %.1f MB, %d keys, %d IPoIB adapters" % (store, size / 1e6, KEYS, ADAPTERS))
    iconv, _ = measure("iconv UTF-16LE->UTF-8", ["iconv", "-f", "UTF-16LE", "-t", "UTF-8", store])
    env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=store)
    check, check_peak = measure("check run", [arguments.program], env)
    copy = os.path.join(arguments.work, "system-fix.reg")
    shutil.copyfile(store, copy)
    env["IPOIB_GUIDMASK_REGISTRY"] = copy
    measure("silent fix run", [arguments.program, "-f", "-s"], env)
    os.remove(copy)
    with tempfile.TemporaryDirectory() as work:
        measure_long_lines(arguments.program, work)
    print("check run / iconv: %.2f (target at most 1); check peak / store size: %.2f (target at most 0.5)"
          % (check / iconv, check_peak / size))
    return 0


if __name__ == "__main__":
    sys.exit(main())
