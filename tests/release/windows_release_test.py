#!/usr/bin/env python3
"""Checks the Windows program as it is released: its version resource and application manifest,
read back out of the .exe with wrestool (Debian's icoutils), carry the project's version and
the fields Windows shows and obeys, and the file is stripped of symbols.

The version is the one in the top-level CMakeLists.txt, project(... VERSION x.y.z), and the
copyright the line of LICENSE."""
import argparse
import os
import re
import struct
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SOURCE_ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# RT_VERSION and RT_MANIFEST
VERSION_TYPE = 16
MANIFEST_TYPE = 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD
VFT_APP = 1

SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # Windows 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # Windows 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # Windows 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # Windows 10 and 11
}
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
COMPATIBILITY = "{urn:schemas-microsoft-com:compatibility.v1}"


def project_version():
    with open(os.path.join(SOURCE_ROOT, "CMakeLists.txt"), encoding="utf-8") as handle:
        match = re.search(r"project\(ipoib-guidmask VERSION (\d+)\.(\d+)\.(\d+)", handle.read())
    return tuple(int(part) for part in match.groups())


def copyright_line():
    with open(os.path.join(SOURCE_ROOT, "LICENSE"), encoding="utf-8") as handle:
        return next(line.strip() for line in handle if line.startswith("Copyright "))


def resource(program, kind):
    completed = subprocess.run(["wrestool", "--extract", "--raw", f"--type={kind}", program],
                               capture_output=True, timeout=60, check=True)
    return completed.stdout


def align4(offset):
    return (offset + 3) & ~3


def version_node(data, at):
    """One node of a VS_VERSIONINFO tree: (key, value bytes, children, end offset)."""
    length, value_length, kind = struct.unpack_from("<HHH", data, at)
    end = at + length
    key_end = at + 6
    while data[key_end:key_end + 2] != b"\0\0":
        key_end += 2
    key = data[at + 6:key_end].decode("utf-16-le")
    value_at = align4(key_end + 2)
    value_size = value_length * 2 if kind == 1 else value_length  # text: a count of characters
    value = data[value_at:value_at + value_size]
    children = []
    child_at = align4(value_at + value_size)
    while child_at < end:
        child = version_node(data, child_at)
        children.append(child)
        child_at = align4(child[3])
    return key, value, children, end


def version_strings(root):
    """{name: text} of every string table of the StringFileInfo block."""
    strings = {}
    for key, _, tables, _ in root[2]:
        if key != "StringFileInfo":
            continue
        for _, _, entries, _ in tables:
            for name, value, _, _ in entries:
                strings[name] = value.decode("utf-16-le").rstrip("\0")
    return strings


def check_version_resource(data, version, name, description):
    failures = []
    root = version_node(data, 0)
    if root[0] != "VS_VERSION_INFO":
        return [f"the version resource's root is {root[0]!r}"]
    fixed = struct.unpack_from("<13I", root[1])
    four_parts = ((version[0] << 16) | version[1], (version[2] << 16) | 0)
    if fixed[0] != FIXED_FILE_INFO_SIGNATURE:
        failures.append(f"no fixed file information (signature {fixed[0]:#x})")
    if fixed[2:4] != four_parts or fixed[4:6] != four_parts:
        failures.append(f"file and product version {fixed[2:6]}, expected twice {four_parts}")
    if fixed[9] != VFT_APP:
        failures.append(f"file type {fixed[9]}, expected an application")
    text = ".".join(str(part) for part in version)
    expected = {"FileVersion": text, "ProductVersion": text, "ProductName": "ipoib-guidmask",
                "InternalName": name, "OriginalFilename": name + ".exe",
                "FileDescription": description,
                "LegalCopyright": f"{copyright_line()}. MIT licence."}
    strings = version_strings(root)
    if strings != expected:
        failures.append(f"version strings {strings}, expected {expected}")
    return failures


def check_manifest(data, version):
    failures = []
    root = ElementTree.fromstring(data)
    identity = root.find(ASM_V1 + "assemblyIdentity")
    expected_version = ".".join(str(part) for part in version) + ".0"
    if identity is None or identity.get("version") != expected_version:
        failures.append(f"assembly version is not {expected_version}")
    levels = [element.get("level") for element in root.iter(ASM_V3 + "requestedExecutionLevel")]
    if levels != ["asInvoker"]:
        failures.append(f"requested execution levels {levels}, expected ['asInvoker']")
    supported = {element.get("Id") for element in root.iter(COMPATIBILITY + "supportedOS")}
    if supported != SUPPORTED_OS:
        failures.append(f"supported Windows {sorted(supported)}, expected {sorted(SUPPORTED_OS)}")
    return failures


def check_stripped(program):
    """No COFF symbol table, and no debugging sections."""
    with open(program, "rb") as handle:
        image = handle.read()
    header = struct.unpack_from("<I", image, 0x3C)[0] + 4
    symbols_at, symbol_count = struct.unpack_from("<II", image, header + 8)
    section_count = struct.unpack_from("<H", image, header + 2)[0]
    optional_size = struct.unpack_from("<H", image, header + 16)[0]
    sections_at = header + 20 + optional_size
    names = [image[sections_at + 40 * index:sections_at + 40 * index + 8].rstrip(b"\0")
             for index in range(section_count)]
    failures = []
    if symbols_at != 0 or symbol_count != 0:
        failures.append(f"a symbol table of {symbol_count} symbols")
    # Long section names (.debug_info, ...) are written "/<offset>" into the symbols' strings.
    if any(name.startswith(b"/") or name.startswith(b".debug") for name in names):
        failures.append(f"debugging sections: {names}")
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True, help="the built ipoib-guidmask.exe, or the audit")
    parser.add_argument("--description", required=True, help="its FileDescription")
    arguments = parser.parse_args()
    program = arguments.program
    name = os.path.basename(program)[:-len(".exe")]
    version = project_version()
    checks = (("version resource", check_version_resource(resource(program, VERSION_TYPE),
                                                          version, name, arguments.description)),
              ("application manifest", check_manifest(resource(program, MANIFEST_TYPE),
                                                      version)),
              ("stripped", check_stripped(program)))
    failed = 0
    for name, failures in checks:
        print(f"{'ok' if not failures else 'FAIL'} {name}")
        for line in failures:
            print("  " + line)
        failed += 1 if failures else 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
