// Reading .reg stores: every value form, escape, encoding and line ending, and the refusal,
// with its line and reason, of each kind of file that Windows' import would not understand.
#include "store_files.h"

#include "registry/store/registry_store.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";

// " xx xx ..." of text's UTF-16LE units (given as UTF-8), with a terminating zero.
std::string SzBytes(const std::string& text) {
    const std::wstring units = DecodeUtf8(text.data(), text.size());
    std::string out;
    char hex[8];
    for (wchar_t unit : units) {
        std::snprintf(hex, sizeof hex, " %02x %02x", static_cast<unsigned>(unit) & 0xFF,
                      (static_cast<unsigned>(unit) >> 8) & 0xFF);
        out += hex;
    }
    return out + " 00 00";
}

// Five UTF-16 units in ten bytes of UTF-8: characters of two, three and four bytes (a surrogate
// pair), and a byte that starts none, read as U+FFFD.
const char kBeyondAscii[] = "\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80\xFF";

// Text as a name of the tree reads: the byte that starts no character as U+FFFD.
std::string AsRead(std::string text) {
    for (std::size_t at = text.find('\xFF'); at != std::string::npos; at = text.find('\xFF', at)) {
        text.replace(at, 1, "\xEF\xBF\xBD");
    }
    return text;
}

struct ReadCase {
    const char* name;
    std::string text;
    std::string tree;
};

const ReadCase kReadCases[] = {
    {"every value form",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\Soft]\n"
                            "\"Text\"=\"a \\\\ b \\\" c\"\n"
                            "@=\"default\"\n"
                            "\"Dword\"=dword:0000001f\n"
                            "\"Short\"=dword:7\n"
                            "\"Binary\"=hex:00,ff,1A\n"
                            "\"Expand\"=hex(2):25,00,00,00\n"
                            "\"Multi\"=hex(7):61,00,00,00,00,00\n"
                            "\"Qword\"=hex(b):01,02,03,04,05,06,07,08\n"
                            "\"None\"=hex(0):\n"
                            "\"Wrapped\"=hex:01,02,\\\n"
                            "  03,04,\\\n"
                            "  05\n"
                            "\"Spaced\" = \t\"x\"   ; a comment\n"
                            "\"Any\"=hex(FFFFFFFF):1,2 ;\n"
                            "\"Empty\"=\"\"\n",
     "[HKEY_LOCAL_MACHINE]\n  [Soft]\n    \"Text\" 1:" + SzBytes("a \\ b \" c") +
         "\n    \"\" 1:" + SzBytes("default") +
         "\n    \"Dword\" 4: 1f 00 00 00\n    \"Short\" 4: 07 00 00 00\n"
         "    \"Binary\" 3: 00 ff 1a\n    \"Expand\" 2: 25 00 00 00\n"
         "    \"Multi\" 7: 61 00 00 00 00 00\n    \"Qword\" 11: 01 02 03 04 05 06 07 08\n"
         "    \"None\" 0:\n    \"Wrapped\" 3: 01 02 03 04 05\n    \"Spaced\" 1:" +
         SzBytes("x") + "\n    \"Any\" 4294967295: 01 02\n    \"Empty\" 1: 00 00\n"},
    {"sections, comments, blank lines and a last line without an ending",
     "  REGEDIT4\n; a comment\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n# another\n\"x\"=\"1\"\n"
     "[hkey_local_machine\\a]\n\"y\"=\"2\"\n[HKEY_LOCAL_MACHINE\\A\\b]\n\"X\"=\"3\"",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"y\" 1:" + SzBytes("2") +
         "\n    [B]\n      \"x\" 1:" + SzBytes("3") + "\n"},
    {"deletions of keys and values, and keys made again",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"c\"=\"1\"\n[HKEY_LOCAL_MACHINE\\A]\n"
                            "\"a\"=\"1\"\n\"b\"=\"2\"\n\"a\"=-\n[-HKEY_LOCAL_MACHINE\\A\\B]\n"
                            "[-HKEY_LOCAL_MACHINE\\Absent\\Key]\n[HKEY_LOCAL_MACHINE\\A\\B\\D\\]\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"b\" 1:" + SzBytes("2") + "\n    [B]\n      [D]\n"},
    {"subkeys in Windows' order, names matched without regard to case",
     std::string(kHeader) +
         "[HKEY_LOCAL_MACHINE\\b]\n[HKEY_LOCAL_MACHINE\\_]\n"
         "[HKEY_LOCAL_MACHINE\\c]\n[HKEY_LOCAL_MACHINE\\A]\n"
         "[HKEY_LOCAL_MACHINE\\\xC3\xA4rger]\n[HKEY_LOCAL_MACHINE\\\xC3\x84RGER]\n"
         "[HKEY_LOCAL_MACHINE\\Z]\n[HKEY_LOCAL_MACHINE\\\xD1\x8F]\n"
         "[HKEY_LOCAL_MACHINE\\\xD0\xAF\\x]\n[HKEY_LOCAL_MACHINE\\\xCE\xB2]\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n  [b]\n  [c]\n  [Z]\n  [_]\n  [\xC3\xA4rger]\n"
     "  [\xCE\xB2]\n  [\xD1\x8F]\n    [x]\n"},
    {"text beyond ASCII and other roots kept apart",
     std::string(kHeader) + "[HKEY_CURRENT_USER\\Software]\n\"k\"=\"v\"\n"
                            "[HKEY_LOCAL_MACHINE\\Gr\xC3\xBC\xC3\x9F"
                            "e]\n"
                            "\"\xE2\x82\xAC\"=\"\xF0\x9F\x98\x80\"\n[HKEY_USERS\\.DEFAULT]\n",
     "[HKEY_CURRENT_USER]\n  [Software]\n    \"k\" 1:" + SzBytes("v") +
         "\n[HKEY_LOCAL_MACHINE]\n  [Gr\xC3\xBC\xC3\x9F"
         "e]\n"
         "    \"\xE2\x82\xAC\" 1: 3d d8 00 de 00 00\n[HKEY_USERS]\n  [.DEFAULT]\n"},
    {"REGEDIT4: text data in hex are narrow bytes, taken as UTF-8",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Sz\"=hex(1):61,62,00\n\"Expand\"=hex(2):25,41,25,00\n"
     "\"Multi\"=hex(7):61,00,62,00,00\n\"Beyond\"=hex(1):c3,a4,e2,82,ac,f0,9f,98,80,00\n"
     "\"Bad\"=hex(1):ff,61,c3\n\"Wrapped\"=hex(1):61,\\\n  62,00\n\"Empty\"=hex(1):\n"
     "\"Binary\"=hex:61,00\n\"Qword\"=hex(b):61,00\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"Sz\" 1: 61 00 62 00 00 00\n"
     "    \"Expand\" 2: 25 00 41 00 25 00 00 00\n    \"Multi\" 7: 61 00 00 00 62 00 00 00 00 00\n"
     "    \"Beyond\" 1: e4 00 ac 20 3d d8 00 de 00 00\n    \"Bad\" 1: fd ff 61 00 fd ff 00 00\n"
     "    \"Wrapped\" 1: 61 00 62 00 00 00\n    \"Empty\" 1:\n    \"Binary\" 3: 61 00\n"
     "    \"Qword\" 11: 61 00\n"},
    {"version 5: text data in hex are UTF-16LE bytes",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"Sz\"=hex(1):61,62,00\n"
                            "\"Multi\"=hex(7):61,00,00,00,00,00\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"Sz\" 1: 61 62 00\n    \"Multi\" 7: 61 00 00 00 00 00\n"},
    {"text data in hex without a zero character at the end get one",
     std::string(kHeader) +
         "[HKEY_LOCAL_MACHINE\\A]\n\"Sz\"=hex(1):61,00\n\"Ended\"=hex(1):61,00,00,00\n"
         "\"Expand\"=hex(2):25,00\n\"Multi\"=hex(7):61,00,00,00,62,00\n"
         "\"Odd\"=hex(2):61\n\"Empty\"=hex(7):\n\"None\"=hex(0):61,00\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"Sz\" 1: 61 00 00 00\n    \"Ended\" 1: 61 00 00 00\n"
     "    \"Expand\" 2: 25 00 00 00\n    \"Multi\" 7: 61 00 00 00 62 00 00 00\n"
     "    \"Odd\" 2: 61\n    \"Empty\" 7:\n    \"None\" 0: 61 00\n"},
    {"blank and comment lines inside continued hex data, a comment behind the backslash",
     std::string(kHeader) +
         "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n\n  ; note\n \t\n  02,\\ ;x\n  03\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"a\" 3: 01 02 03\n"},
    {"a file that ends behind a continuation sets the value with the bytes read",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n  02,\\\n\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"a\" 3: 01 02\n"},
    {"names as long as they may be, of characters beyond ASCII",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\" + Repeated(kBeyondAscii, 51) + "]\n\"" +
         Repeated(kBeyondAscii, 3276) + "abc\"=\"\"\n",
     "[HKEY_LOCAL_MACHINE]\n  [" + AsRead(Repeated(kBeyondAscii, 51)) + "]\n    \"" +
         AsRead(Repeated(kBeyondAscii, 3276)) + "abc\" 1: 00 00\n"},
    {"escapes between characters beyond ASCII, and a character cut short by one",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"\xE2\x82\\\"\xFF\"=\"" + kBeyondAscii +
         "\\\\\xE2\x82\\\"\xF0\x9F\x98\x80\"\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"\xEF\xBF\xBD\xEF\xBF\xBD\"\xEF\xBF\xBD\" 1:" +
         SzBytes(std::string(kBeyondAscii) + "\\\xE2\x82\"\xF0\x9F\x98\x80") + "\n"},
    {"blanks between dword: and its digits",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword: 00000041\n\"b\"=dword:\t 7\n",
     "[HKEY_LOCAL_MACHINE]\n  [A]\n    \"a\" 4: 41 00 00 00\n    \"b\" 4: 07 00 00 00\n"},
};

class RegFileReaderTest : public StoreTest {};

TEST_F(RegFileReaderTest, ReadsTheFileAsWindowsImportsIt) {
    for (const ReadCase& row : kReadCases) {
        for (const StoreForm& form : kStoreForms) {
            SCOPED_TRACE(std::string(row.name) + " / " + form.name);
            LoadStore(InForm(form, row.text));
            EXPECT_EQ(row.tree, TreeText(StoreTree()));
        }
    }
}

// The run's areas are read from a file that holds much else: the tree keeps the areas, what
// lies below them and the keys above them, each with its values, and nothing else.
const std::vector<std::u16string> kAreas = {u"S\\Control\\Net", u"S\\Control\\Class"};

const ReadCase kAreaCases[] = {
    {"keys in, below and above the areas kept, names matched without regard to case",
     std::string(kHeader) +
         "[HKEY_LOCAL_MACHINE\\S]\n\"top\"=dword:1\n"
         "[HKEY_LOCAL_MACHINE\\S\\Services\\X]\n\"x\"=\"1\"\n\"y\"=hex:01,\\\n  02\n"
         "[HKEY_LOCAL_MACHINE\\s\\control\\NET\\{1}\\Connection]\n\"n\"=\"2\"\n"
         "[HKEY_LOCAL_MACHINE\\S\\Control\\Network]\n\"z\"=\"3\"\n"
         "[HKEY_CURRENT_USER\\S\\Control\\Net]\n\"u\"=\"4\"\n"
         "[HKEY_LOCAL_MACHINE\\S\\Control\\Class\\0000]\n\"c\"=hex(1):61,00\n",
     "[HKEY_LOCAL_MACHINE]\n  [S]\n    \"top\" 4: 01 00 00 00\n    [control]\n      [Class]\n"
     "        [0000]\n          \"c\" 1: 61 00 00 00\n      [NET]\n        [{1}]\n"
     "          [Connection]\n            \"n\" 1:" +
         SzBytes("2") + "\n"},
    {"deletions in and above the areas take effect, others find nothing",
     std::string(kHeader) +
         "[HKEY_LOCAL_MACHINE\\S\\Control\\Net\\A]\n[HKEY_LOCAL_MACHINE\\S\\Control\\Net\\B]\n"
         "[HKEY_LOCAL_MACHINE\\S\\Control\\Class\\C]\n[-HKEY_LOCAL_MACHINE\\S\\CONTROL\\net\\a]\n"
         "[-HKEY_LOCAL_MACHINE\\S\\Control\\Class]\n[-HKEY_LOCAL_MACHINE\\S\\Other]\n"
         "[HKEY_LOCAL_MACHINE\\S\\Control\\Class\\D]\n",
     "[HKEY_LOCAL_MACHINE]\n  [S]\n    [Control]\n      [Class]\n        [D]\n      [Net]\n"
     "        [B]\n"},
    {"a key outside the areas still gives the keys above them on its way",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\S\\Control\\Other\\X]\n\"o\"=\"1\"\n",
     "[HKEY_LOCAL_MACHINE]\n  [S]\n    [Control]\n"},
};

TEST_F(RegFileReaderTest, KeepsOnlyTheAreasAndWhatLeadsToThem) {
    for (const ReadCase& row : kAreaCases) {
        for (const StoreForm& form : kStoreForms) {
            SCOPED_TRACE(std::string(row.name) + " / " + form.name);
            WriteFileBytes(storePath, InForm(form, row.text));
            StoreLoadError error;
            ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), kAreas, &error)) << error.what;
            EXPECT_EQ(row.tree, TreeText(StoreTree()));
        }
    }
}

TEST_F(RegFileReaderTest, ChecksTheLinesOutsideTheAreas) {
    WriteFileBytes(storePath, std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\S\\Control\\Net]\n"
                                                     "[HKEY_LOCAL_MACHINE\\S\\Services]\n"
                                                     "\"a\"=hex:01,\\\n  0g\n");
    StoreLoadError error;
    EXPECT_FALSE(LoadRegistryStore(storePath.c_str(), kAreas, &error));
    EXPECT_EQ(6u, error.line);
    EXPECT_EQ("bad hex data: expected bytes of two hex digits separated by commas; Windows would "
              "skip this line",
              error.what);
}

struct BadCase {
    const char* name;
    std::string text; // "<NUL>" stands for a NUL character
    int line;
    std::string what;
};

const BadCase kBadCases[] = {
    {"blank first line", "\n[HKEY_LOCAL_MACHINE\\A]\n", 1,
     "missing header: the first line must be \"Windows Registry Editor Version 5.00\" or "
     "\"REGEDIT4\""},
    {"other header", "Windows Registry Editor Version 4.00\n", 1,
     "missing header: the first line must be \"Windows Registry Editor Version 5.00\" or "
     "\"REGEDIT4\""},
    {"header Windows takes but imports nothing from", "REGEDIT4 FOO\n[HKEY_LOCAL_MACHINE\\A]\n", 1,
     "missing header: the first line must be \"Windows Registry Editor Version 5.00\" or "
     "\"REGEDIT4\"; Windows would import nothing from this file"},
    {"REGEDIT5", "REGEDIT5\n[HKEY_LOCAL_MACHINE\\A]\n", 1,
     "missing header: the first line must be \"Windows Registry Editor Version 5.00\" or "
     "\"REGEDIT4\"; Windows would import nothing from this file"},
    {"header in the wrong case", "regedit4\n[HKEY_LOCAL_MACHINE\\A]\n", 1,
     "missing header: the first line must be \"Windows Registry Editor Version 5.00\" or "
     "\"REGEDIT4\""},
    {"bad escape", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\\n\"\n", 4,
     "bad escape \"\\n\" in quoted text (only \\\\ and \\\" are known)"},
    {"bad escape of a surrogate pair, shown by its first half (U+FFFD)",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\\\xF0\x9F\x98\x80\"\n", 4,
     "bad escape \"\\\xEF\xBF\xBD\" in quoted text (only \\\\ and \\\" are known)"},
    {"unterminated string", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\n", 4,
     "unterminated quote; Windows would skip this line"},
    {"unterminated name", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a=1\n", 4,
     "unterminated quote; Windows would skip this line"},
    {"name without =", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\" \"b\"\n", 4,
     "missing '=' behind the value name; Windows would skip this line"},
    {"escape at the end", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\\\n", 4,
     "unterminated quote; Windows would skip this line"},
    {"bad hex digit", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:0g\n", 4,
     "bad hex data: expected bytes of two hex digits separated by commas; Windows would skip this "
     "line"},
    {"three hex digits", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:123\n", 4,
     "bad hex data: expected bytes of two hex digits separated by commas; Windows would skip this "
     "line"},
    {"hex bytes without comma", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01 02\n",
     4,
     "bad hex data: expected bytes of two hex digits separated by commas; Windows would skip this "
     "line"},
    {"backslash behind a byte", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01\\\n",
     4, "bad hex data: a continuation backslash must follow a comma; Windows would skip this line"},
    {"continued line without bytes",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\\n\n\"b\"=\"c\"\n", 6,
     "bad hex data: the continued line must go on with hex bytes; Windows would skip this line"},
    {"text behind the continuation",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex:01,\\ 02\n  03\n", 4,
     "bad hex data: text behind the continuation backslash; Windows would skip this line"},
    {"bad hex type", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=hex(z):00\n", 4,
     "bad value type: expected hex(N): with 1 to 8 hex digits"},
    {"empty dword", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:\n", 4,
     "bad dword data: expected 1 to 8 hex digits; Windows would skip this line"},
    {"long dword", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=dword:123456789\n", 4,
     "bad dword data: expected 1 to 8 hex digits; Windows would skip this line"},
    {"text behind data", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\" c\n", 4,
     "text behind the value data; Windows would skip this line"},
    {"unknown data", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=str:\"b\"\n", 4,
     "unrecognized value data (expected \"text\", dword:, hex:, hex(N): or -); Windows would "
     "skip this line"},
    {"unknown root", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n[HKLM\\Software]\n", 4,
     "unknown root key \"HKLM\""},
    {"key line without bracket", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\n", 3,
     "key line without a closing ']'; Windows would skip this line"},
    {"text behind bracket", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A] ; x\n", 3,
     "text behind the closing ']' of the key line"},
    {"empty key name", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A\\\\B]\n", 3,
     "empty key name in the key path"},
    {"key name of 256",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\" + std::string(256, 'k') + "]\n", 3,
     "key name longer than 255 characters"},
    {"key name of 256 characters beyond ASCII",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\" + Repeated(kBeyondAscii, 51) + "k]\n", 3,
     "key name longer than 255 characters"},
    {"value name of 16384 characters beyond ASCII",
     std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"" + Repeated(kBeyondAscii, 3276) +
         "abcd\"=\"\"\n",
     4, "value name longer than 16383 characters"},
    {"unknown root key beyond ASCII, shown to its 64th unit (half a pair: U+FFFD)",
     std::string(kHeader) + "[" + Repeated("\xE2\x82\xAC", 63) + "\xF0\x9F\x98\x80\\A]\n", 3,
     "unknown root key \"" + Repeated("\xE2\x82\xAC", 63) + "\xEF\xBF\xBD\""},
    {"root deleted", std::string(kHeader) + "[-HKEY_LOCAL_MACHINE]\n", 3,
     "a root key cannot be deleted"},
    {"value before any key", std::string(kHeader) + "\"a\"=\"b\"\n", 3,
     "value line outside a key section; Windows would skip this line"},
    {"value behind a deletion", std::string(kHeader) + "[-HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\"\n", 4,
     "value line outside a key section; Windows would skip this line"},
    {"stray line", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\nname=value\n", 4,
     "unrecognized line (expected a [key], a value, a comment or a blank); Windows would skip "
     "this line"},
    {"NUL in a line", std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b<NUL>\"\n", 4,
     "NUL character in the line"},
};

std::string WithNul(std::string text) {
    const std::size_t at = text.find("<NUL>");
    return at == std::string::npos ? text : text.replace(at, 5, std::string(1, '\0'));
}

// The store is refused whole: nothing is loaded and the file is as it was.
void ExpectRefused(const std::string& path, const std::string& bytes, const std::string& error) {
    WriteFileBytes(path, bytes);
    std::string message;
    EXPECT_FALSE(LoadRegistryStore(path.c_str(), &message));
    EXPECT_EQ(error, message);
    EXPECT_FALSE(RegistryStoreLoaded());
    EXPECT_EQ(bytes, ReadFileBytes(path));
}

TEST_F(RegFileReaderTest, RefusesWhatTheImportWouldNotUnderstand) {
    for (const BadCase& row : kBadCases) {
        for (const StoreForm& form : kStoreForms) {
            SCOPED_TRACE(std::string(row.name) + " / " + form.name);
            ExpectRefused(storePath, InForm(form, WithNul(row.text)),
                          storePath + ":" + std::to_string(row.line) + ": " + row.what);
        }
    }
}

TEST_F(RegFileReaderTest, RefusesCutUtf16) {
    const std::string whole =
        InForm(kStoreForms[3], std::string(kHeader) + "[HKEY_LOCAL_MACHINE\\A]\n\"a\"=\"b\"\n");
    ExpectRefused(storePath, whole + "\x41",
                  storePath + ":5: the UTF-16 text has an odd number of bytes");
    ExpectRefused(storePath, whole.substr(0, whole.size() - 3),
                  storePath + ":4: the UTF-16 text has an odd number of bytes");
    ExpectRefused(storePath, whole + std::string("\x22\x00\x3D\xD8", 4),
                  storePath + ":5: the UTF-16 text ends inside a surrogate pair");
    // Without its byte-order mark UTF-16 would read as UTF-8, whose first line is no header.
    ExpectRefused(storePath, whole.substr(2),
                  storePath + ": the file is UTF-16LE text without a byte-order mark: convert it "
                              "first (iconv -f UTF-16LE -t UTF-8)");
    ExpectRefused(storePath, "",
                  storePath + ": the file is empty: a .reg export or a SYSTEM hive is needed");
    ExpectRefused(storePath, whole.substr(0, 2) + std::string("\r\0\n\0", 4),
                  storePath + ": the file holds nothing but a byte-order mark or blank lines: a "
                              ".reg export or a SYSTEM hive is needed");
}

TEST_F(RegFileReaderTest, RefusesAStoreThatCannotBeRead) {
    std::string message;
    const std::string missing = directory + "/absent.reg";
    EXPECT_FALSE(LoadRegistryStore(missing.c_str(), &message));
    EXPECT_EQ(missing + ": cannot open the registry store: No such file or directory", message);
    EXPECT_FALSE(LoadRegistryStore(directory.c_str(), &message));
    EXPECT_EQ(directory + ": the registry store is not a regular file", message);
    EXPECT_FALSE(RegistryStoreLoaded());
}

// Loads path in a child process, which a FIFO could block and a device could feed without
// end: the child has 10 seconds, and succeeds when the store is refused with the message.
bool RefusedInChild(const std::string& path, const std::string& expected) {
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        std::string message;
        const bool refused = !LoadRegistryStore(path.c_str(), &message) && message == expected;
        _exit(refused ? 0 : 1);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

TEST_F(RegFileReaderTest, RefusesAStoreThatIsNoRegularFile) {
    const std::string fifo = directory + "/fifo.reg";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    EXPECT_TRUE(RefusedInChild(fifo, fifo + ": the registry store is not a regular file"));
    EXPECT_TRUE(RefusedInChild("/dev/zero", "/dev/zero: the registry store is not a regular file"));
}

TEST_F(RegFileReaderTest, KeepsTheSpellingFirstGivenAndTheLastValue) {
    LoadStore(InForm(kStoreForms[0], std::string(kHeader) +
                                         "[HKEY_LOCAL_MACHINE\\MixedCase]\n\"Name\"=\"1\"\n"
                                         "[HKEY_LOCAL_MACHINE\\MIXEDCASE]\n\"NAME\"=\"2\"\n"));
    EXPECT_EQ("[HKEY_LOCAL_MACHINE]\n  [MixedCase]\n    \"Name\" 1:" + SzBytes("2") + "\n",
              TreeText(StoreTree()));
}

} // namespace
