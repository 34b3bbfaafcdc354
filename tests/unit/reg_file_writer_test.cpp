// Writing values into .reg stores: only the written value's line changes or is added, every
// other byte stays, in each encoding and line ending; the value reads back before and after a
// reload.
#include "store_files.h"

#include "registry/registry_api.h"
#include "registry/store/registry_store.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const std::string kAdapters = "Windows Registry Editor Version 5.00\n"
                              "\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Class\\0001]\n"
                              "\"ComponentId\"=\"iba\\\\ipoib\"\n"
                              "\"GUIDMask\"=\"12\" ; set by hand\n"
                              "\n"
                              "; the adapter's second section\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Class\\0001]\n"
                              "\"NetCfgInstanceId\"=\"{1}\"\n"
                              "\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Class\\0002]\n"
                              "\n"
                              "[HKEY_LOCAL_MACHINE\\SYSTEM\\Class\\0003\\Sub]\n"
                              "\"x\"=dword:00000001\n";

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(std::string::npos, at) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

struct WriteCase {
    const char* name;
    std::string before;
    const wchar_t* key;
    const wchar_t* valueName;
    std::wstring data; // written as REG_SZ with its terminating zero
    std::string after;
};

const WriteCase kWriteCases[] = {
    {"a value rewritten in place, its comment kept", kAdapters, L"SYSTEM\\Class\\0001", L"GUIDMask",
     L"231", Replaced(kAdapters, "\"GUIDMask\"=\"12\" ;", "\"GUIDMask\"=\"231\" ;")},
    {"a value's spelling kept", kAdapters, L"system\\class\\0001", L"guidmask", L"7",
     Replaced(kAdapters, "\"GUIDMask\"=\"12\" ;", "\"GUIDMask\"=\"7\" ;")},
    {"a new value at the end of the key's last section", kAdapters, L"SYSTEM\\Class\\0001",
     L"GUIDMask2", L"231", Replaced(kAdapters, "\"{1}\"\n", "\"{1}\"\n\"GUIDMask2\"=\"231\"\n")},
    {"a new value behind a section's key line", kAdapters, L"SYSTEM\\Class\\0002", L"GUIDMask",
     L"63", Replaced(kAdapters, "0002]\n", "0002]\n\"GUIDMask\"=\"63\"\n")},
    {"a new section for a key without one", kAdapters, L"SYSTEM\\Class\\0003", L"GUIDMask", L"231",
     kAdapters + "\n[HKEY_LOCAL_MACHINE\\SYSTEM\\Class\\0003]\n\"GUIDMask\"=\"231\"\n"},
    {"a new section in a file without a last line ending", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]",
     L"A", L"v", L"1",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\""},
    {"a new section behind an empty last line", "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n", L"A",
     L"v", L"1",
     "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n"},
    {"a new line on a last line without an ending",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"", L"A", L"w", L"2",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n\"w\"=\"2\""},
    {"escapes and the default value", kAdapters, L"SYSTEM\\Class\\0002", L"", L"a\\b\"c",
     Replaced(kAdapters, "0002]\n", "0002]\n@=\"a\\\\b\\\"c\"\n")},
    {"a name with escapes", kAdapters, L"SYSTEM\\Class\\0002", L"q\"\\", L"",
     Replaced(kAdapters, "0002]\n", "0002]\n\"q\\\"\\\\\"=\"\"\n")},
    {"text beyond ASCII", kAdapters, L"SYSTEM\\Class\\0002", L"Gr\u00FC\u00DFe",
     L"\u20AC\xD83D\xDE00" /* UTF-16 units, as the tool holds text */,
     Replaced(kAdapters, "0002]\n",
              "0002]\n\"Gr\xC3\xBC\xC3\x9F"
              "e\"=\"\xE2\x82\xAC\xF0\x9F\x98\x80\"\n")},
    {"a name beyond ASCII that differs (no SS for sharp s)",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Gr\xC3\xBC\xC3\x9F"
     "e\"=\"\xE2\x82\xAC\" ; \xF0\x9F\x98\x80\xFF\n",
     L"A", L"GR\u00DCSSE", L"x",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Gr\xC3\xBC\xC3\x9F"
     "e\"=\"\xE2\x82\xAC\" ; \xF0\x9F\x98\x80\xFF\n\"GR\xC3\x9CSSE\"=\"x\"\n"},
    {"a line beyond ASCII rewritten in place, by its own name",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Gr\xC3\xBC\xC3\x9F"
     "e\"=\"\xE2\x82\xAC\" ; \xF0\x9F\x98\x80\xFF\n",
     L"A", L"GR\u00DC\u00DFE", L"x",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Gr\xC3\xBC\xC3\x9F"
     "e\"=\"x\" ; \xF0\x9F\x98\x80\xFF\n"},
    {"text that no quoted line holds", kAdapters, L"SYSTEM\\Class\\0002", L"Lines", L"a\nb",
     Replaced(kAdapters, "0002]\n", "0002]\n\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n")},
    {"long hex data wrapped as regedit wraps it", kAdapters, L"SYSTEM\\Class\\0002", L"Long",
     std::wstring(25, L'a') + L"\n",
     Replaced(kAdapters, "0002]\n",
              "0002]\n\"Long\"=hex(1):" + Repeated("61,00,", 10) + "61,\\\n  00," +
                  Repeated("61,00,", 12) + "\\\n  61,00,61,00,0a,00,00,00\n")},
    {"a wrapped value rewritten on one line",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(1):32,00,\\\n  33,00,00,00 ; old\n\"w\"=\"x\"\n",
     L"A", L"V", L"9", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"9\" ; old\n\"w\"=\"x\"\n"},
    {"a dword rewritten as text", kAdapters, L"SYSTEM\\Class\\0003\\Sub", L"x", L"1",
     Replaced(kAdapters, "\"x\"=dword:00000001", "\"x\"=\"1\"")},
    {"REGEDIT4: text that no quoted line holds, as narrow bytes",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n", L"A", L"Lines", L"a\n\u00E4\u20AC\xD83D\xDE00",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"Lines\"=hex(1):61,0a,c3,a4,e2,82,ac,f0,9f,98,80,00\n"},
    {"REGEDIT4: narrow bytes rewritten in place",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(1):61,0a,62,00\n", L"A", L"v", L"\u00FF\n",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=hex(1):c3,bf,0a,00\n"},
    {"a value deleted earlier gets a line behind the deletion",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n\"v\"=-\n; about "
     "B\n[HKEY_LOCAL_MACHINE\\B]\n",
     L"A", L"v", L"2",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n\"v\"=\"1\"\n\"v\"=-\n\"v\"=\"2\"\n; about B\n"
     "[HKEY_LOCAL_MACHINE\\B]\n"},
    {"a key whose section came before its deletion",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\A]\n"
     "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n",
     L"A\\B", L"v", L"2",
     "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"1\"\n[-HKEY_LOCAL_MACHINE\\A]\n"
     "[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\n[HKEY_LOCAL_MACHINE\\A\\B]\n\"v\"=\"2\"\n"},
};

class RegFileWriterTest : public StoreTest {
  protected:
    LSTATUS Write(const wchar_t* key, const wchar_t* name, const std::wstring& data) {
        HKEY handle = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_SET_VALUE, &handle);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        status =
            RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                           static_cast<DWORD>((data.size() + 1) * 2));
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(handle));
        return status;
    }

    // The value as the API reads it: the text before its terminating zero.
    std::wstring Read(const wchar_t* key, const wchar_t* name) {
        HKEY handle = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &handle) != ERROR_SUCCESS) {
            return L"<no key>";
        }
        wchar_t buffer[64] = {};
        DWORD length = sizeof buffer / sizeof buffer[0] * 2;
        DWORD type = 0;
        const LSTATUS status = RegQueryValueExW(handle, name, nullptr, &type,
                                                reinterpret_cast<LPBYTE>(buffer), &length);
        RegCloseKey(handle);
        if (status != ERROR_SUCCESS || type != REG_SZ || length < 2) {
            return L"<no value>";
        }
        return std::wstring(buffer, length / 2 - 1);
    }
};

TEST_F(RegFileWriterTest, ChangesOnlyTheWrittenValue) {
    for (const WriteCase& row : kWriteCases) {
        for (const StoreForm& form : kStoreForms) {
            SCOPED_TRACE(std::string(row.name) + " / " + form.name);
            LoadStore(InForm(form, row.before));
            ASSERT_EQ(ERROR_SUCCESS, Write(row.key, row.valueName, row.data));
            EXPECT_EQ(InForm(form, row.after), ReadFileBytes(storePath));
            EXPECT_EQ(row.data, Read(row.key, row.valueName));
            std::string error;
            ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
            EXPECT_EQ(row.data, Read(row.key, row.valueName));
        }
    }
}

TEST_F(RegFileWriterTest, KeepsItsPlacesAcrossWrites) {
    const std::string after =
        Replaced(Replaced(Replaced(kAdapters, "\"GUIDMask\"=\"12\" ;", "\"GUIDMask\"=\"1\" ;"),
                          "\"{1}\"\n", "\"{1234}\"\n\"Added\"=\"a\"\n"),
                 "0002]\n", "0002]\n\"GUIDMask\"=\"231\"\n");
    for (const StoreForm& form : kStoreForms) {
        SCOPED_TRACE(form.name);
        LoadStore(InForm(form, kAdapters));
        EXPECT_EQ(ERROR_SUCCESS, Write(L"SYSTEM\\Class\\0001", L"GUIDMask", L"23100"));
        EXPECT_EQ(ERROR_SUCCESS, Write(L"SYSTEM\\Class\\0001", L"NetCfgInstanceId", L"{1234}"));
        EXPECT_EQ(ERROR_SUCCESS, Write(L"SYSTEM\\Class\\0002", L"GUIDMask", L"231"));
        EXPECT_EQ(ERROR_SUCCESS, Write(L"SYSTEM\\Class\\0001", L"Added", L"a"));
        EXPECT_EQ(ERROR_SUCCESS, Write(L"SYSTEM\\Class\\0001", L"GUIDMask", L"1"));
        EXPECT_EQ(InForm(form, after), ReadFileBytes(storePath));
        EXPECT_EQ(L"{1234}", Read(L"SYSTEM\\Class\\0001", L"NetCfgInstanceId"));
    }
}

TEST_F(RegFileWriterTest, WritesEachTypeInItsOwnForm) {
    const std::string before = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n";
    LoadStore(before);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_ALL_ACCESS, &key));
    const wchar_t dword[] = {0x0201, 0x0403};
    const wchar_t odd[] = {0x0061, 0x0062, 0x0063};
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, L"d", 0, REG_DWORD, reinterpret_cast<const BYTE*>(dword), 4));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, L"short", 0, REG_DWORD, reinterpret_cast<const BYTE*>(dword), 2));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, L"b", 0, REG_BINARY, reinterpret_cast<const BYTE*>(dword), 3));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"none", 0, REG_NONE, nullptr, 0));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"empty", 0, REG_SZ, nullptr, 0));
    const std::wstring expand = L"%A%";
    const wchar_t multi[] = {L'a', 0, L'b', 0, 0};
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"expand", 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(expand.c_str()), 8));
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, L"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi),
                             sizeof multi / sizeof multi[0] * 2));
    // Narrow bytes cannot hold half a UTF-16 unit, nor half a surrogate pair.
    const wchar_t lone[] = {L'a', 0xD800, 0};
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegSetValueExW(key, L"unended", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd), 5));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegSetValueExW(key, L"lone", 0, REG_EXPAND_SZ,
                                                      reinterpret_cast<const BYTE*>(lone), 6));
    RegCloseKey(key);
    const std::string after = before +
                              "\"d\"=dword:04030201\n\"short\"=hex(4):01,02\n\"b\"=hex:01,02,03\n"
                              "\"none\"=hex(0):\n\"empty\"=hex(1):\n\"expand\"=hex(2):25,41,25,00\n"
                              "\"multi\"=hex(7):61,00,62,00,00\n";
    EXPECT_EQ(after, ReadFileBytes(storePath));
    std::string error;
    ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    EXPECT_EQ("[HKEY_LOCAL_MACHINE]\n  [A]\n    \"d\" 4: 01 02 03 04\n    \"short\" 4: 01 02\n"
              "    \"b\" 3: 01 02 03\n    \"none\" 0:\n    \"empty\" 1:\n"
              "    \"expand\" 2: 25 00 41 00 25 00 00 00\n"
              "    \"multi\" 7: 61 00 00 00 62 00 00 00 00 00\n",
              TreeText(StoreTree()));
}

TEST_F(RegFileWriterTest, WritesTextDataAsUtf16InAVersion5File) {
    const std::string before = "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n";
    LoadStore(before);
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"A", 0, KEY_ALL_ACCESS, &key));
    const wchar_t odd[] = {0x0061, 0x0062, 0x0063};
    const wchar_t lone[] = {L'a', 0xD800, 0};
    EXPECT_EQ(ERROR_SUCCESS,
              RegSetValueExW(key, L"unended", 0, REG_SZ, reinterpret_cast<const BYTE*>(odd), 5));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"lone", 0, REG_EXPAND_SZ,
                                            reinterpret_cast<const BYTE*>(lone), 6));
    // Reading the file would add the zero character these text data lack.
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegSetValueExW(key, L"even", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(odd), 4));
    RegCloseKey(key);
    EXPECT_EQ(before + "\"unended\"=hex(1):61,00,62,00,63\n\"lone\"=hex(2):61,00,00,d8,00,00\n",
              ReadFileBytes(storePath));
    std::string error;
    ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    EXPECT_EQ("[HKEY_LOCAL_MACHINE]\n  [A]\n    \"unended\" 1: 61 00 62 00 63\n"
              "    \"lone\" 2: 61 00 00 d8 00 00\n",
              TreeText(StoreTree()));
}

} // namespace
