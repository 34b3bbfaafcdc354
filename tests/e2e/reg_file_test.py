#!/usr/bin/env python3
"""Tests of the Windows leg's .reg reading and of how it hands stores to Wine's reg import."""
import os
import sys
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import reg_file  # noqa: E402
from wine import store_for_wine, windows_stdout  # noqa: E402

CLASS = ("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
         "{4D36E972-E325-11CE-BFC1-08002bE10318}")
CLASS_LOWER = CLASS.lower()
HEADER = "Windows Registry Editor Version 5.00\r\n\r\n"


def sz(text):
    return (reg_file.REG_SZ, (text + "\0").encode("utf-16-le", "surrogatepass"))


class ParseTest(unittest.TestCase):
    def test_values_of_every_kind(self):
        text = (HEADER + f"[{CLASS}\\0001]\r\n"
                '"ComponentId"="iba\\\\ipoib"\r\n'
                '"Quoted" = "a \\"b\\""  ; comment\r\n'
                '@="default"\r\n'
                '"Flags"=dword:0000001f\r\n'
                '"Raw"=hex:01,02,\\\r\n'
                '  03\r\n'
                '"Expand"=hex(2):41,00,00,00\r\n'
                '"Empty"=hex:\r\n')
        state = reg_file.parse_reg_text(text)
        values = state[CLASS_LOWER + "\\0001"]
        self.assertEqual(values, {
            "componentid": sz("iba\\ipoib"),
            "quoted": sz('a "b"'),
            "": sz("default"),
            "flags": (reg_file.REG_DWORD, b"\x1f\x00\x00\x00"),
            "raw": (3, b"\x01\x02\x03"),
            "expand": (2, b"A\x00\x00\x00"),
            "empty": (3, b""),
        })
        # A section makes every key above it exist, with no values of its own.
        self.assertEqual(state[CLASS_LOWER], {})
        self.assertEqual(state["hkey_local_machine"], {})

    def test_names_match_without_case_and_later_lines_win(self):
        text = (HEADER + f"[{CLASS}\\0001]\n\"Name\"=\"one\"\n"
                f"[{CLASS.upper()}\\0001]\n\"NAME\"=\"two\"\n\"Gone\"=\"x\"\n\"gone\"=-\n")
        state = reg_file.parse_reg_text(text)
        self.assertEqual(state[CLASS_LOWER + "\\0001"], {"name": sz("two")})

    def test_key_deletion_takes_the_subkeys(self):
        text = (HEADER + f"[{CLASS}\\0001\\Ndi]\n\"A\"=\"1\"\n[{CLASS}\\0002]\n"
                f"[-{CLASS}\\0001]\n")
        state = reg_file.parse_reg_text(text)
        self.assertNotIn(CLASS_LOWER + "\\0001", state)
        self.assertNotIn(CLASS_LOWER + "\\0001\\ndi", state)
        self.assertIn(CLASS_LOWER + "\\0002", state)

    def test_encodings_and_line_endings(self):
        text = HEADER + f"[{CLASS}\\0001]\r" + '"Name"="z\u00e9\U0001d11e"'
        expected = {CLASS_LOWER: {}, CLASS_LOWER + "\\0001": {"name": sz("z\u00e9\U0001d11e")}}
        for data in (b"\xff\xfe" + text.encode("utf-16-le", "surrogatepass"),
                     b"\xef\xbb\xbf" + text.encode("utf-8"), text.encode("utf-8")):
            state = reg_file.within(reg_file.parse_reg_bytes(data), [CLASS])
            self.assertEqual(state, expected)

    def test_wine_export_escapes_only_in_that_dialect(self):
        text = HEADER + f"[{CLASS}\\0001]\n" + '"Name"="a\\nb\\0"\n'
        state = reg_file.parse_reg_text(text, wine_escapes=True)
        self.assertEqual(state[CLASS_LOWER + "\\0001"]["name"], sz("a\nb\0"))
        with self.assertRaisesRegex(reg_file.RegFileError, "line 4: unknown escape"):
            reg_file.parse_reg_text(text)

    def test_malformed_files_are_refused(self):
        for text, message in (("REGEDIT5\n", "no registry file header"),
                              (HEADER + "[K]\n\"A\"=\"open\n", "unterminated string"),
                              (HEADER + "[K]\n\"A\"=dword:123456789\n", "bad dword"),
                              (HEADER + "[K]\n\"A\"=hex:1,zz\n", "bad hex data"),
                              (HEADER + "[K]\n\"A\" \"b\"\n", "no '='")):
            with self.assertRaisesRegex(reg_file.RegFileError, message):
                reg_file.parse_reg_text(text)


class ChangesTest(unittest.TestCase):
    def test_changes_apply_to_what_the_registry_holds(self):
        key = CLASS_LOWER + "\\0002"
        store = {key: {"componentid": sz("iba\\ipoib")}}
        store_after = {key: {"componentid": sz("iba\\ipoib"), "guidmask": sz("231")}}
        # The registry may hold a value differently from the file (Wine ends hex(1) data
        # with a zero character); that value is unchanged, so it is expected as it is held.
        before = {key: {"componentid": sz("iba\\ipoib"), "raw": (1, b"a\0\0\0")}}
        expected = reg_file.apply_changes(before, store, store_after)
        self.assertEqual(expected[key], {"componentid": sz("iba\\ipoib"),
                                         "raw": (1, b"a\0\0\0"), "guidmask": sz("231")})
        self.assertEqual(before[key].get("guidmask"), None, "the base is not changed")

    def test_removed_values_and_keys(self):
        base = {"k": {"a": sz("1"), "b": sz("2")}, "k\\sub": {}, "j": {}}
        old = {"k": {"a": sz("1"), "b": sz("2")}, "k\\sub": {}, "j": {}}
        new = {"k": {"a": sz("1")}, "j": {}, "j\\new": {"c": sz("3")}}
        self.assertEqual(reg_file.apply_changes(base, old, new),
                         {"k": {"a": sz("1")}, "j": {}, "j\\new": {"c": sz("3")}})

    def test_differences_name_the_key_and_value(self):
        lines = reg_file.state_differences({"k": {"guidmask": sz("231")}, "gone": {}},
                                           {"k": {"guidmask": sz("63")}, "extra": {}})
        self.assertEqual(lines, [
            "key not expected: extra",
            "key missing: gone",
            "k 'guidmask': expected REG_SZ '231\\x00', found REG_SZ '63\\x00'",
        ])
        self.assertEqual(reg_file.state_differences({"k": {}}, {"k": {}}), [])


class WineHandOverTest(unittest.TestCase):
    def test_utf16_and_plain_ascii_go_as_they_are(self):
        utf16 = b"\xff\xfe" + (HEADER + "[K]\n").encode("utf-16-le")
        self.assertEqual(store_for_wine(utf16), (utf16, None))
        ascii_store = (HEADER + '[K]\n"A"="b"\n"B"=hex:01\n').encode()
        self.assertEqual(store_for_wine(ascii_store), (ascii_store, None))
        regedit4 = b'REGEDIT4\n\n[K]\n"A"=hex(2):41,00\n'
        self.assertEqual(store_for_wine(regedit4), (regedit4, None))

    def test_utf8_beyond_ascii_bom_and_string_hex_become_utf16(self):
        for data in ((HEADER + '[K]\n"A"="\u00e9"\n').encode(),
                     b"\xef\xbb\xbf" + (HEADER + "[K]\n").encode(),
                     (HEADER + '[K]\n"A"=hex(1):41,00\n').encode(),
                     (HEADER + '[K]\n"A" = HEX(7):41,00\n').encode()):
            converted, reason = store_for_wine(data)
            self.assertIsNotNone(reason)
            self.assertTrue(converted.startswith(b"\xff\xfe"))
            self.assertEqual(reg_file.parse_reg_bytes(converted), reg_file.parse_reg_bytes(data))

    def test_each_line_feed_leaves_as_cr_lf(self):
        self.assertEqual(windows_stdout(b"a\n\nb\r\n"), b"a\r\n\r\nb\r\r\n")


if __name__ == "__main__":
    unittest.main()
