#!/usr/bin/env python3
"""make dist gives the same bytes twice from the same commit: the release is packed once from
the Windows build as it stands, and again from the same objects linked anew (the link
commands CMake wrote, run into a folder of their own), under another umask and time zone.
The two SHA256SUMS must be identical, and both archives carry the licence."""
import argparse
import glob
import os
import shlex
import shutil
import subprocess
import sys
import tarfile
import tempfile
import zipfile

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MAKE_DIST = os.path.join(SOURCE_ROOT, "packaging", "make_dist.sh")
SKIP = 77


def relink(windows_build, target):
    """Each program's link command, run again with its output in target. The archive steps
    before it are left out: the objects are the build's own."""
    for link_script in glob.glob(os.path.join(windows_build, "CMakeFiles", "*.dir", "link.txt")):
        with open(link_script, encoding="utf-8") as handle:
            for line in handle:
                words = shlex.split(line)
                if "-o" not in words or not words[words.index("-o") + 1].endswith(".exe"):
                    continue
                at = words.index("-o") + 1
                words[at] = os.path.join(target, words[at])
                words = [word.replace("--out-implib,", f"--out-implib,{target}/")
                         for word in words]
                subprocess.run(words, cwd=windows_build, check=True, timeout=300)
    shutil.copyfile(os.path.join(windows_build, "CMakeCache.txt"),
                    os.path.join(target, "CMakeCache.txt"))


def make_dist(windows_build, dist, umask, time_zone):
    env = dict(os.environ, TZ=time_zone)
    subprocess.run(["sh", "-c", f'umask {umask} && exec "$@"', "sh", MAKE_DIST, windows_build,
                    dist], env=env, check=True, stdout=subprocess.DEVNULL, timeout=300)
    with open(os.path.join(dist, "SHA256SUMS"), "rb") as handle:
        return handle.read()


def licence_missing(dist):
    """The archives of dist that do not carry the licence."""
    missing = []
    for archive in sorted(os.listdir(dist)):
        path = os.path.join(dist, archive)
        if archive.endswith(".zip"):
            with zipfile.ZipFile(path) as handle:
                names = handle.namelist()
            wanted = "LICENSE.txt"
        elif archive.endswith(".tar.gz"):
            with tarfile.open(path) as handle:
                names = handle.getnames()
            wanted = archive[:-len(".tar.gz")] + "/LICENSE"
        else:
            continue
        if wanted not in names:
            missing.append(archive)
    return missing


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--windows-build", required=True, help="the build folder of make windows")
    windows_build = os.path.abspath(parser.parse_args().windows_build)
    inside = subprocess.run(["git", "-C", SOURCE_ROOT, "rev-parse", "--show-toplevel"],
                            capture_output=True, text=True)
    if inside.returncode != 0 or os.path.realpath(inside.stdout.strip()) != SOURCE_ROOT:
        print("reproducible release check skipped: the source is not a git checkout")
        return SKIP
    work = tempfile.mkdtemp(prefix="ipoib-guidmask-dist-")
    try:
        first = make_dist(windows_build, os.path.join(work, "first"), "022", "UTC")
        relinked = os.path.join(work, "relinked")
        os.mkdir(relinked)
        relink(windows_build, relinked)
        second = make_dist(relinked, os.path.join(work, "second"), "077", "Pacific/Auckland")
        missing = licence_missing(os.path.join(work, "second"))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    if first != second:
        print(f"SHA256SUMS differ\n--- first\n{first.decode()}--- second\n{second.decode()}")
        return 1
    if missing:
        print(f"the licence is missing from {missing}")
        return 1
    print("ok the release is the same twice, with its licence:\n" + first.decode(), end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
