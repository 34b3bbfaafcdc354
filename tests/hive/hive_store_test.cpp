// The registry API over a SYSTEM hive file where a hive differs from a .reg file (the contract
// both keep is in tests/unit/store_contract_test.cpp): the keys below SYSTEM, CurrentControlSet
// through Select\Current, writes that hivex reads back as one value changed and nothing else,
// failed replacement steps, and broken hives.
#include "empty_hive.h"
#include "hive_builder.h"
#include "store_files.h"

#include "registry/registry_access.h"
#include "registry/registry_api.h"
#include "registry/store/registry_store.h"
#include "registry/store/store_replace.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kStore = "Windows Registry Editor Version 5.00\n"
                           "\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Set]\n"
                           "\"Name\"=\"one\"\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\ControlSet002\\Control\\Set]\n"
                           "\"Name\"=\"two\"\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\b]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\_]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\\xC3\xA4]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\A]\n"
                           "\"Text\"=\"abc\"\n"
                           "\"GUIDMask\"=\"63\"\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\Z\xC3\xBC]\n"
                           "\"Data\"=hex(3):01,02,03\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hidden]\n";

class HiveStoreTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        hivePath = directory + "/SYSTEM";
    }

    // The hive built from a .reg store's text at path.
    void BuildHive(const std::string& regText, const std::string& path,
                   const HiveBuildOptions& options = kStandardHive) {
        const std::string regPath = directory + "/source.reg";
        WriteFileBytes(regPath, regText);
        std::string error;
        ASSERT_TRUE(BuildHiveFromRegFile(regPath, path, options, &error)) << error;
        ASSERT_EQ(0, unlink(regPath.c_str()));
    }

    void LoadHive(const std::string& regText, const HiveBuildOptions& options = kStandardHive) {
        BuildHive(regText, hivePath, options);
        std::string error;
        ASSERT_TRUE(LoadRegistryStore(hivePath.c_str(), &error)) << error;
    }

    std::string Dump() {
        std::string dump;
        std::string error;
        EXPECT_TRUE(DumpHive(hivePath, &dump, &error)) << error;
        return dump;
    }

    std::string hivePath;
};

struct OpenCase {
    const wchar_t* path;
    LSTATUS status;
};

const OpenCase kOpenCases[] = {
    {L"SYSTEM", ERROR_SUCCESS},
    {L"SYSTEM\\ControlSet001\\Soft\\A", ERROR_SUCCESS},
    {L"system\\controlset001\\SOFT\\a", ERROR_SUCCESS},
    {L"SYSTEM\\ControlSet002\\Soft", ERROR_FILE_NOT_FOUND},
    {L"SYSTEM\\Select", ERROR_SUCCESS},
    {L"SOFTWARE\\Hidden", ERROR_FILE_NOT_FOUND},
    {L"SOFTWARE", ERROR_FILE_NOT_FOUND},
    {L"ROOT", ERROR_FILE_NOT_FOUND},
};

TEST_F(HiveStoreTest, FindsKeysBelowSystemWithoutRegardToCase) {
    LoadHive(kStore);
    for (const OpenCase& row : kOpenCases) {
        SCOPED_TRACE(testing::Message() << "path #" << (&row - kOpenCases));
        HKEY key = nullptr;
        EXPECT_EQ(row.status, RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.path, 0, KEY_READ, &key));
        if (key != nullptr) {
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        }
    }
}

TEST_F(HiveStoreTest, ResolvesCurrentControlSetThroughSelectCurrent) {
    LoadHive(kStore, HiveBuildOptions{true, 2});
    HKEY current = Open(L"SYSTEM\\CurrentControlSet\\Control\\Set", KEY_READ);
    EXPECT_EQ(L"two", ReadText(current, L"Name"));
    RegCloseKey(current);
    HKEY first = Open(L"SYSTEM\\ControlSet001\\Control\\Set", KEY_READ);
    EXPECT_EQ(L"one", ReadText(first, L"Name"));
    RegCloseKey(first);
    HKEY system = Open(L"SYSTEM", KEY_READ);
    HKEY linked = nullptr;
    EXPECT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(system, L"CurrentControlSet\\Control", 0, KEY_READ, &linked));
    HKEY set = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(linked, L"Set", 0, KEY_READ, &set));
    EXPECT_EQ(L"two", ReadText(set, L"name"));
    RegCloseKey(set);
    RegCloseKey(linked);
    RegCloseKey(system);
}

TEST_F(HiveStoreTest, ReadsValuesAsTheHiveHoldsThem) {
    LoadHive(kStore);
    HKEY key = Open(L"SYSTEM\\CurrentControlSet\\Soft\\Z\u00DC", KEY_READ);
    BYTE data[8] = {};
    DWORD type = 0;
    DWORD length = sizeof data;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"DATA", nullptr, &type, data, &length));
    EXPECT_EQ(static_cast<DWORD>(REG_BINARY), type);
    EXPECT_EQ(3u, length);
    RegCloseKey(key);
    HKEY select = Open(L"SYSTEM\\Select", KEY_READ);
    length = sizeof data;
    ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExW(select, L"Current", nullptr, &type, data, &length));
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), type);
    EXPECT_EQ(4u, length);
    RegCloseKey(select);
}

// A hive holds text data without a terminating zero as they are (a .reg file cannot: reading
// one adds the zero), and the longest a string buffer takes reads back exactly.
TEST_F(HiveStoreTest, ReadsA254CharacterStringWithoutTerminatingZeroExactly) {
    LoadHive(kStore);
    HKEY soft = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Soft\\A", 0,
                            KEY_READ | KEY_SET_VALUE, &soft));
    const std::wstring text(254, L'x');
    // Text is given as wide characters and counted in UTF-16 bytes: 508, without the zero.
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(soft, L"Unended254", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(text.c_str()), 508));
    wchar_t buffer[kStringValueBufferLength];
    std::fill(buffer, buffer + kStringValueBufferLength, L'-');
    ASSERT_TRUE(ReadStringValue(soft, L"Unended254", buffer));
    EXPECT_EQ(text, buffer);
    RegCloseKey(soft);
}

TEST_F(HiveStoreTest, WritesOneValueAndChangesNothingElse) {
    LoadHive(kStore);
    const std::string before = Dump();
    HKEY key = Open(L"SYSTEM\\CurrentControlSet\\Soft\\A", KEY_ALL_ACCESS);
    ASSERT_EQ(ERROR_SUCCESS, WriteText(key, L"guidmask", L"231"));
    ASSERT_EQ(ERROR_SUCCESS, WriteText(key, L"New \u00E9", L"x"));
    EXPECT_EQ(L"231", ReadText(key, L"GUIDMask")) << "read back through the store";
    RegCloseKey(key);
    const std::string after = Dump();
    const std::vector<std::string> added = {
        "value \"\\\\ControlSet001\\\\Soft\\\\A\" \"GUIDMask\" 1 3200330031000000",
        "value \"\\\\ControlSet001\\\\Soft\\\\A\" \"New \\u00e9\" 1 78000000"};
    const std::vector<std::string> removed = {
        "value \"\\\\ControlSet001\\\\Soft\\\\A\" \"GUIDMask\" 1 360033000000"};
    EXPECT_EQ(added, LinesOnlyIn(after, before)) << "read back through hivex";
    EXPECT_EQ(removed, LinesOnlyIn(before, after));
    EXPECT_EQ("SYSTEM\n", DirectoryListing(directory)) << "no temporary file is left";

    std::string error;
    ASSERT_TRUE(LoadRegistryStore(hivePath.c_str(), &error)) << error;
    key = Open(L"SYSTEM\\ControlSet001\\Soft\\A", KEY_READ);
    EXPECT_EQ(L"231", ReadText(key, L"GUIDMASK")) << "read back after loading the hive anew";
    RegCloseKey(key);
}

TEST_F(HiveStoreTest, KeepsWhatAnotherRunWroteAsHivexReadsIt) {
    LoadHive(kStore);
    HKEY key = Open(L"SYSTEM\\CurrentControlSet\\Soft\\A", KEY_ALL_ACCESS);
    // Another run sets a value of its own and renames its hive over ours.
    BuildHive(kStore + "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\A]\n"
                       "\"Other\"=\"theirs\"\n",
              directory + "/other");
    ASSERT_EQ(0, rename((directory + "/other").c_str(), hivePath.c_str()));
    ASSERT_EQ(ERROR_SUCCESS, WriteText(key, L"GUIDMask", L"231"));
    RegCloseKey(key);
    const std::string dump = Dump();
    EXPECT_NE(std::string::npos, dump.find("\"Other\" 1 740068006500690072007300"));
    EXPECT_NE(std::string::npos, dump.find("\"GUIDMask\" 1 3200330031000000"));
}

TEST_F(HiveStoreTest, LosesNoWriteOfRunsAtTheSameTimeAsHivexReadsIt) {
    LoadHive(kStore);
    const std::string before = Dump();
    const int kRuns = 8;
    WriteFromRunsAtOnce(kRuns, L"SYSTEM\\CurrentControlSet\\Soft\\A");
    std::vector<std::string> added;
    for (int run = 0; run < kRuns; ++run) {
        added.push_back("value \"\\\\ControlSet001\\\\Soft\\\\A\" \"Run" + std::to_string(run) +
                        "\" 1 78000000");
    }
    EXPECT_EQ(added, LinesOnlyIn(Dump(), before));
    EXPECT_EQ(std::vector<std::string>(), LinesOnlyIn(before, Dump()));
    EXPECT_EQ("SYSTEM\n", DirectoryListing(directory));
}

const ReplaceStep kHiveReplaceSteps[] = {ReplaceStep::Create, ReplaceStep::Permissions,
                                         ReplaceStep::Flush,  ReplaceStep::Lock,
                                         ReplaceStep::Link,   ReplaceStep::Rename};

TEST_F(HiveStoreTest, LeavesTheHiveAsItWasWhenAReplacementStepFails) {
    LoadHive(kStore);
    const std::string before = ReadFileBytes(hivePath);
    HKEY key = Open(L"SYSTEM\\CurrentControlSet\\Soft\\A", KEY_ALL_ACCESS);
    for (ReplaceStep step : kHiveReplaceSteps) {
        SCOPED_TRACE(testing::Message() << "step " << static_cast<int>(step));
        gFailingReplaceStep = step;
        EXPECT_NE(ERROR_SUCCESS, WriteText(key, L"GUIDMask", L"231"));
        gFailingReplaceStep = ReplaceStep::None;
        EXPECT_EQ(before, ReadFileBytes(hivePath));
        EXPECT_EQ("SYSTEM\n", DirectoryListing(directory));
        EXPECT_EQ(L"63", ReadText(key, L"GUIDMask")) << "the store still holds the old value";
    }
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"GUIDMask", L"231"));
    EXPECT_EQ(L"231", ReadText(key, L"GUIDMask"));
    RegCloseKey(key);
}

struct BrokenHive {
    const char* description;
    HiveBuildOptions options;
    std::size_t keepBytes; // the file cut to this size; 0 keeps it whole
    const char* what;
};

const BrokenHive kBrokenHives[] = {
    {"no Select key",
     {false, 0},
     0,
     "the hive has no dword Select\\Current to name its current control set"},
    {"a missing control set",
     {true, 3},
     0,
     "the hive has no ControlSet003, which Select\\Current names as the current control set"},
    {"a control set number of four digits",
     {true, 1000},
     0,
     "the hive has no ControlSet1000, which Select\\Current names as the current control set"},
    {"a truncated hive", kStandardHive, 6144,
     "the registry hive is truncated: 6144 of 12288 bytes; copy it again"},
};

TEST_F(HiveStoreTest, RefusesABrokenHive) {
    for (const BrokenHive& row : kBrokenHives) {
        SCOPED_TRACE(row.description);
        BuildHive(kStore, hivePath, row.options);
        if (row.keepBytes != 0) {
            ASSERT_EQ(0, truncate(hivePath.c_str(), static_cast<off_t>(row.keepBytes)));
        }
        std::string error;
        EXPECT_FALSE(LoadRegistryStore(hivePath.c_str(), &error));
        EXPECT_EQ(hivePath + ": " + row.what, error);
        EXPECT_FALSE(RegistryStoreLoaded());
    }
}

TEST_F(HiveStoreTest, TakesSelectCurrentOnlyAsADword) {
    BuildHive(kStore + "[HKEY_LOCAL_MACHINE\\SYSTEM\\Select]\n\"Current\"=\"1\"\n", hivePath,
              HiveBuildOptions{false, 0});
    std::string error;
    EXPECT_FALSE(LoadRegistryStore(hivePath.c_str(), &error));
    EXPECT_EQ(hivePath + ": the hive has no dword Select\\Current to name its current control set",
              error);
}

} // namespace
