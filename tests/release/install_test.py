#!/usr/bin/env python3
"""make install into a scratch DESTDIR with a PREFIX of its own: exactly the two programs and
their manual pages land there, the pages carry the project's version, and the installed
programs give the built ones' reports on the example store."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PREFIX = "/opt/ipoib-guidmask"
INSTALLED = ["bin/ipoib-guidmask", "share/man/man8/ipoib-guidmask.8",
             "bin/ipoib-guidmask-audit", "share/man/man8/ipoib-guidmask-audit.8"]


def project_version():
    with open(os.path.join(SOURCE_ROOT, "CMakeLists.txt"), encoding="utf-8") as handle:
        return re.search(r"project\(ipoib-guidmask VERSION ([0-9.]+)", handle.read()).group(1)


def installed_files(root):
    found = []
    for directory, _, names in os.walk(root):
        found += [os.path.relpath(os.path.join(directory, name), root) for name in names]
    return sorted(found)


def check_report(program, installed, status, marker):
    """The installed program's check of the example store is the built program's, byte for
    byte, and a completed run."""
    env = dict(os.environ, IPOIB_GUIDMASK_REGISTRY=os.path.join(SOURCE_ROOT, "examples",
                                                                "ipoib-adapters.reg"))
    runs = [subprocess.run([path], env=env, capture_output=True, timeout=60)
            for path in (program, installed)]
    failures = []
    if runs[1].returncode != status or runs[1].stderr:
        failures.append(f"installed program: status {runs[1].returncode}, {runs[1].stderr!r}")
    if runs[1].stdout != runs[0].stdout or marker not in runs[1].stdout:
        failures.append(f"installed program's report differs: {runs[1].stdout!r}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="the build folder make install uses")
    parser.add_argument("--program", required=True, help="the built program")
    parser.add_argument("--audit", required=True, help="the built audit")
    arguments = parser.parse_args()
    destdir = tempfile.mkdtemp(prefix="ipoib-guidmask-install-")
    try:
        completed = subprocess.run(
            ["make", "--no-print-directory", "-C", SOURCE_ROOT, "install",
             f"BUILD={arguments.build}", f"PREFIX={PREFIX}", f"DESTDIR={destdir}"],
            capture_output=True, timeout=600)
        if completed.returncode != 0:
            print(f"make install failed:\n{completed.stdout.decode()}{completed.stderr.decode()}")
            return 1
        root = destdir + PREFIX
        failures = []
        if installed_files(destdir) != sorted(os.path.join(PREFIX[1:], name)
                                              for name in INSTALLED):
            failures.append(f"installed {installed_files(destdir)}, expected {INSTALLED} "
                            f"under {PREFIX}")
        else:
            for page in INSTALLED[1::2]:
                with open(os.path.join(root, page), encoding="utf-8") as handle:
                    title = handle.read().split("\n.TH ", 1)[1].split("\n", 1)[0]
                if f'"ipoib-guidmask {project_version()}"' not in title or " 8 " not in title:
                    failures.append(f"manual page title {title!r}")
            failures += check_report(arguments.program, os.path.join(root, INSTALLED[0]), 0,
                                     b"port GUID")
            # The example store has adapters a fix would change: status 1.
            failures += check_report(arguments.audit, os.path.join(root, INSTALLED[2]), 1,
                                     b"\nsummary: stores=1 ")
        for line in failures:
            print(line)
        return 1 if failures else 0
    finally:
        shutil.rmtree(destdir, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
