// The registry API over the .reg store, held to the Windows contract: result codes, handles,
// rights, byte counts, subkey order, and writes that other runs on the same store never lose.
#include "store_files.h"

#include "registry/registry_api.h"
#include "registry/store/registry_store.h"
#include "registry/store/store_replace.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kStore = "Windows Registry Editor Version 5.00\r\n"
                           "\r\n"
                           "[HKEY_LOCAL_MACHINE\\Soft\\b]\r\n"
                           "[HKEY_LOCAL_MACHINE\\Soft\\_]\r\n"
                           "[HKEY_LOCAL_MACHINE\\Soft\\A]\r\n"
                           "\"Text\"=\"abc\"\r\n"
                           "\"Odd\"=hex(1):61,00,62,00,63\r\n"
                           "\"Longer name\"=dword:00000001\r\n"
                           "[HKEY_LOCAL_MACHINE\\Soft\\Longest]\r\n"
                           "[HKEY_CURRENT_USER\\Soft\\Hidden]\r\n";

class RegistryApiTest : public StoreTest {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        LoadStore(kStore);
    }

    HKEY Open(const wchar_t* path, REGSAM access) {
        HKEY key = nullptr;
        EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key));
        return key;
    }

    // Replaces the store as another run would: a new file renamed over it.
    void ReplaceStoreBehindOurBack(const std::string& bytes) {
        const std::string other = directory + "/other.reg";
        WriteFileBytes(other, bytes);
        ASSERT_EQ(0, rename(other.c_str(), storePath.c_str()));
    }
};

struct OpenCase {
    const wchar_t* path;
    LSTATUS status;
};

const OpenCase kOpenCases[] = {
    {L"Soft\\A", ERROR_SUCCESS},
    {L"soft\\a", ERROR_SUCCESS},
    {L"SOFT\\A\\", ERROR_SUCCESS},
    {L"", ERROR_SUCCESS},
    {L"Soft\\B", ERROR_SUCCESS},
    {L"Soft\\C", ERROR_FILE_NOT_FOUND},
    {L"Soft\\Hidden", ERROR_FILE_NOT_FOUND},
    {L"\\Soft", ERROR_BAD_PATHNAME},
    {L"Soft\\\\A", ERROR_BAD_PATHNAME},
    {L"HKEY_LOCAL_MACHINE\\Soft", ERROR_FILE_NOT_FOUND},
};

TEST_F(RegistryApiTest, OpensKeysByPathWithoutRegardToCase) {
    for (const OpenCase& row : kOpenCases) {
        SCOPED_TRACE(testing::Message() << "path #" << (&row - kOpenCases));
        HKEY key = reinterpret_cast<HKEY>(&key);
        EXPECT_EQ(row.status, RegOpenKeyExW(HKEY_LOCAL_MACHINE, row.path, 0, KEY_READ, &key));
        EXPECT_EQ(row.status == ERROR_SUCCESS, key != nullptr);
        if (key != nullptr) {
            EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
            EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key)) << "closed twice";
        }
    }
    HKEY soft = Open(L"Soft", KEY_READ);
    HKEY a = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(soft, L"a", 0, KEY_READ, &a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(soft));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Soft", 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(soft, L"A", 0, KEY_READ, &a))
        << "a closed handle";
}

TEST_F(RegistryApiTest, EnumeratesSubkeysInWindowsOrder) {
    HKEY soft = Open(L"Soft", KEY_READ);
    const wchar_t* expected[] = {L"A", L"b", L"Longest", L"_"};
    for (DWORD index = 0; index < 4; ++index) {
        wchar_t name[8] = {};
        DWORD length = 8;
        FILETIME written;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegEnumKeyExW(soft, index, name, &length, nullptr, nullptr, nullptr, &written));
        EXPECT_EQ(std::wstring(expected[index]), name);
        EXPECT_EQ(std::wcslen(expected[index]), length);
    }
    wchar_t name[7] = L"xxxxxx";
    DWORD length = 7; // "Longest" and its zero need 8
    EXPECT_EQ(ERROR_MORE_DATA,
              RegEnumKeyExW(soft, 2, name, &length, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::wstring(L"xxxxxx"), name) << "a name is never cut";
    EXPECT_EQ(7u, length);
    length = 8;
    EXPECT_EQ(ERROR_NO_MORE_ITEMS,
              RegEnumKeyExW(soft, 4, name, &length, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(soft);
}

TEST_F(RegistryApiTest, TellsAKeysCountsAndSizes) {
    HKEY soft = Open(L"Soft", KEY_READ);
    wchar_t className[260];
    std::fill(className, className + 260, L'x');
    DWORD counts[9];
    std::fill(counts, counts + 9, 99u);
    FILETIME written{0, 0};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(soft, className, &counts[0], nullptr, &counts[1],
                                              &counts[2], &counts[3], &counts[4], &counts[5],
                                              &counts[6], &counts[7], &written));
    EXPECT_EQ(L'\0', className[0]);
    const DWORD expected[] = {0, 4, 7, 0, 0, 0, 0, 0, 99};
    EXPECT_TRUE(std::equal(expected, expected + 9, counts));
    EXPECT_NE(0u, written.dwHighDateTime);
    RegCloseKey(soft);
    HKEY a = Open(L"Soft\\A", KEY_READ);
    DWORD values = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    ASSERT_EQ(ERROR_SUCCESS,
              RegQueryInfoKeyW(a, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                               &longestName, &longestData, nullptr, nullptr));
    EXPECT_EQ(3u, values);
    EXPECT_EQ(11u, longestName);
    EXPECT_EQ(8u, longestData);
    RegCloseKey(a);
}

TEST_F(RegistryApiTest, ReadsValuesByTheByteCount) {
    HKEY a = Open(L"Soft\\A", KEY_READ);
    DWORD type = 0;
    DWORD length = 0;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(a, L"TEXT", nullptr, &type, nullptr, &length));
    EXPECT_EQ(REG_SZ, type);
    EXPECT_EQ(8u, length) << "a NULL buffer asks for the size";
    wchar_t buffer[4] = {L'x', L'x', L'x', L'x'};
    length = 6;
    EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExW(a, L"Text", nullptr, nullptr,
                                                reinterpret_cast<LPBYTE>(buffer), &length));
    EXPECT_EQ(8u, length);
    EXPECT_EQ(std::wstring(L"xxxx"), std::wstring(buffer, 4)) << "nothing is cut";
    length = 8;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(a, L"Text", nullptr, nullptr,
                                              reinterpret_cast<LPBYTE>(buffer), &length));
    EXPECT_EQ(std::wstring(L"abc", 4), std::wstring(buffer, 4));
    // Five bytes: the last one fills the low byte of a third element.
    length = 8;
    std::fill(buffer, buffer + 4, L'x');
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(a, L"Odd", nullptr, &type,
                                              reinterpret_cast<LPBYTE>(buffer), &length));
    EXPECT_EQ(5u, length);
    EXPECT_EQ(std::wstring(L"abcx"), std::wstring(buffer, 4));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND,
              RegQueryValueExW(a, L"Absent", nullptr, nullptr, nullptr, &length));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExW(a, L"Text", nullptr, nullptr,
                                                        reinterpret_cast<LPBYTE>(buffer), nullptr));
    RegCloseKey(a);
}

TEST_F(RegistryApiTest, RefusesWritesWithoutTheRight) {
    HKEY read = Open(L"Soft\\A", KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(read, L"GUIDMask", L"231"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(HKEY_LOCAL_MACHINE, L"GUIDMask", L"231"));
    RegCloseKey(read);
    HKEY write = Open(L"Soft\\A", KEY_SET_VALUE);
    DWORD length = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExW(write, L"Text", nullptr, nullptr, nullptr, &length))
        << "a key opened only to set values cannot be read";
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(write, L"v", 0, REG_SZ, nullptr, 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteText(write, std::wstring(16384, L'n').c_str(), L"1"));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteText(write, L"two\nlines", L"1"));
    RegCloseKey(write);
    EXPECT_EQ(kStore, ReadFileBytes(storePath));
}

TEST_F(RegistryApiTest, KeepsAReadOnlyStoreForReading) {
    ASSERT_EQ(0, chmod(storePath.c_str(), 0444));
    const REGSAM writing[] = {KEY_ALL_ACCESS, KEY_SET_VALUE, KEY_WRITE, KEY_CREATE_SUB_KEY};
    for (REGSAM access : writing) {
        HKEY key = reinterpret_cast<HKEY>(&key);
        EXPECT_EQ(ERROR_ACCESS_DENIED,
                  RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Soft\\A", 0, access, &key));
        EXPECT_EQ(nullptr, key);
    }
    HKEY key = Open(L"Soft\\A", KEY_READ);
    RegCloseKey(key);
    // A store made read-only after the key was opened refuses the write too.
    ASSERT_EQ(0, chmod(storePath.c_str(), 0644));
    key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    ASSERT_EQ(0, chmod(storePath.c_str(), 0444));
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(key, L"GUIDMask", L"231"));
    RegCloseKey(key);
    EXPECT_EQ(kStore, ReadFileBytes(storePath));
}

TEST_F(RegistryApiTest, ReplacesTheFileKeepingItsPermissions) {
    ASSERT_EQ(0, chmod(storePath.c_str(), 0640));
    struct stat before;
    ASSERT_EQ(0, stat(storePath.c_str(), &before));
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    struct stat after;
    ASSERT_EQ(0, stat(storePath.c_str(), &after));
    EXPECT_EQ(0640u, after.st_mode & 07777u);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file, renamed over the old one";
    EXPECT_EQ("store.reg\n", DirectoryListing(directory)) << "no temporary file is left";
}

TEST_F(RegistryApiTest, WritesThroughALinkToTheStore) {
    const std::string link = directory + "/link.reg";
    ASSERT_EQ(0, symlink(storePath.c_str(), link.c_str()));
    std::string error;
    ASSERT_TRUE(LoadRegistryStore(link.c_str(), &error)) << error;
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    struct stat status;
    ASSERT_EQ(0, lstat(link.c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(ReadFileBytes(link), ReadFileBytes(storePath));
}

TEST_F(RegistryApiTest, RemovesATemporaryFileLeftByAKilledRun) {
    WriteFileBytes(TemporaryStorePath(storePath), "left behind");
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    EXPECT_EQ("store.reg\n", DirectoryListing(directory));
}

TEST_F(RegistryApiTest, KeepsWhatAnotherRunWrote) {
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    const std::string theirs = kStore + "[HKEY_LOCAL_MACHINE\\Soft\\A]\r\n\"Theirs\"=\"t\"\r\n";
    ReplaceStoreBehindOurBack(theirs);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(theirs + "\"Ours\"=\"o\"\r\n", ReadFileBytes(storePath));
    wchar_t buffer[4];
    DWORD length = sizeof buffer * 2 / sizeof buffer[0];
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExW(key, L"Theirs", nullptr, nullptr,
                                              reinterpret_cast<LPBYTE>(buffer), &length))
        << "the handle opened before the re-read still works";
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, LeavesAStoreBrokenByAnotherRunAlone) {
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    const std::string broken = kStore + "[HKEY_LOCAL_MACHINE\\Soft\\A\r\n";
    ReplaceStoreBehindOurBack(broken);
    EXPECT_EQ(ERROR_BADDB, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(broken, ReadFileBytes(storePath));
    const std::string without = "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Soft]\r\n";
    ReplaceStoreBehindOurBack(without);
    EXPECT_EQ(ERROR_KEY_DELETED, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(without, ReadFileBytes(storePath));
    RegCloseKey(key);
    EXPECT_EQ("store.reg\n", DirectoryListing(directory));
}

TEST_F(RegistryApiTest, LosesNoWriteOfRunsAtTheSameTime) {
    const int kRuns = 8;
    WriteFromRunsAtOnce(kRuns, L"Soft\\A");
    std::string error;
    ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    HKEY key = Open(L"Soft\\A", KEY_READ);
    for (int run = 0; run < kRuns; ++run) {
        const std::wstring name = L"Run" + std::to_wstring(run);
        DWORD length = 0;
        EXPECT_EQ(ERROR_SUCCESS,
                  RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, &length))
            << run;
    }
    RegCloseKey(key);
    EXPECT_EQ(kStore.size() + kRuns * std::string("\"Run0\"=\"x\"\r\n").size(),
              ReadFileBytes(storePath).size());
    EXPECT_EQ("store.reg\n", DirectoryListing(directory));
}

TEST_F(RegistryApiTest, FailsEveryCallWithoutAStore) {
    UnloadRegistryStore();
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Soft", 0, KEY_READ, &key));
    DWORD count = 7;
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegQueryInfoKeyW(HKEY_LOCAL_MACHINE, nullptr, nullptr, nullptr, &count, nullptr,
                               nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(7u, count);
}

} // namespace
