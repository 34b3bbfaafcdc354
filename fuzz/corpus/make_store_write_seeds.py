#!/usr/bin/env python3
"""Makes the store_write seeds: the two writes' bytes as store_write_fuzzer.cpp reads them,
in front of one of the reg_file_reader seeds or of a small file written here."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
TYPES = {1: 0, 2: 1, 3: 2, 4: 3, 7: 4, 11: 5, 0: 6}


def write(key, name, value_type, data):
    out = struct.pack("<HB", key, len(name)) + name.encode("utf-16-le")
    out += bytes([TYPES[value_type]]) if value_type in TYPES else b"\xf8" + struct.pack("<I", value_type)
    return out + bytes([len(data)]) + data


def sz(text):
    return (text + "\0").encode("utf-16-le")


def reader_seed(name):
    with open(os.path.join(HERE, "reg_file_reader", name), "rb") as handle:
        return handle.read()


REGEDIT4 = (b"REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\A]\r\n\"Narrow\"=hex(1):61,0a,c3,a4,00\r\n"
            b"\"Multi\"=hex(7):61,00,62,00,00\r\n\r\n[HKEY_LOCAL_MACHINE\\A\\B]\r\n")
SEEDS = {
    "adapters-guidmask": write(7, "GUIDMask", 1, sz("231")) + write(9, "GUIDMask", 1, sz("63"))
    + reader_seed("adapters.reg"),
    "utf16-in-place": write(1, "v", 1, sz("line\nbreak")) + write(0, "", 4, b"\x01\x02\x03\x04")
    + reader_seed("utf16.reg"),
    "sections-deleted-key": write(2, "v", 2, sz("%x%")) + write(1, "w", 3, b"\xff" * 30)
    + reader_seed("sections.reg"),
    "regedit4-narrow-text": write(1, "Narrow", 1, sz("\u00fc\n")) + write(2, "New", 7, sz("a") + sz(""))
    + REGEDIT4,
    "odd-type-and-length": write(1, "Q", 0x12345678, b"\x01") + write(1, "Narrow", 1, b"a\0b")
    + REGEDIT4,
}

if __name__ == "__main__":
    target = os.path.join(HERE, "store_write")
    os.makedirs(target, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(target, name), "wb") as handle:
            handle.write(data)
