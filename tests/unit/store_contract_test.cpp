// The registry API over each form of the store, held to one Windows contract: keys opened by
// path without regard to case, subkeys in Windows' order, counts, byte counts, rights, and
// writes that keep the file's permissions and what other runs on the same store wrote.
#include "store_backend.h"
#include "store_files.h"

#include "registry/registry_api.h"
#include "registry/store/registry_store.h"
#include "registry/store/store_replace.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::string kStore = "Windows Registry Editor Version 5.00\n"
                           "\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\b]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\_]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\\xC3\xA4]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\A]\n"
                           "\"Text\"=\"abc\"\n"
                           "\"Odd\"=hex(1):61,00,62,00,63\n"
                           "\"Longer name\"=dword:00000001\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\Longest]\n"
                           "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\Z\xC3\xBC]\n"
                           "[HKEY_CURRENT_USER\\SYSTEM\\CurrentControlSet\\Soft\\Hidden]\n";

const wchar_t kSoft[] = L"SYSTEM\\CurrentControlSet\\Soft";
const wchar_t kA[] = L"SYSTEM\\CurrentControlSet\\Soft\\A";

class StoreContractTest : public StoreTest, public testing::WithParamInterface<StoreBackend> {
  protected:
    void SetUp() override {
        StoreTest::SetUp();
        storePath = directory + "/" + StoreFileName(GetParam());
        ASSERT_TRUE(WriteBackendStore(GetParam(), kStore, storePath));
        Reload();
    }

    void Reload() {
        std::string error;
        ASSERT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    }

    // Replaces the store as another run would: a new file renamed over it.
    void ReplaceStoreBehindOurBack(const std::string& regText) {
        const std::string other = directory + "/other";
        ASSERT_TRUE(WriteBackendStore(GetParam(), regText, other));
        ASSERT_EQ(0, rename(other.c_str(), storePath.c_str()));
    }

    std::string OnlyTheStore() {
        return std::string(StoreFileName(GetParam())) + "\n";
    }
};

struct OpenCase {
    const wchar_t* path;
    LSTATUS status;
};

const OpenCase kOpenCases[] = {
    {L"SYSTEM\\CurrentControlSet\\Soft\\A", ERROR_SUCCESS},
    {L"system\\currentcontrolset\\soft\\a", ERROR_SUCCESS},
    {L"SYSTEM\\CURRENTCONTROLSET\\SOFT\\A\\", ERROR_SUCCESS},
    {L"SYSTEM\\CurrentControlSet\\Soft\\\u00C4", ERROR_SUCCESS},
    {L"", ERROR_SUCCESS},
    {L"SYSTEM\\CurrentControlSet\\Soft\\B", ERROR_SUCCESS},
    {L"SYSTEM\\CurrentControlSet\\Soft\\C", ERROR_FILE_NOT_FOUND},
    {L"SYSTEM\\CurrentControlSet\\Soft\\Hidden", ERROR_FILE_NOT_FOUND},
    {L"\\SYSTEM", ERROR_BAD_PATHNAME},
    {L"SYSTEM\\\\CurrentControlSet", ERROR_BAD_PATHNAME},
    {L"HKEY_LOCAL_MACHINE\\SYSTEM", ERROR_FILE_NOT_FOUND},
};

TEST_P(StoreContractTest, OpensKeysByPathWithoutRegardToCase) {
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
    HKEY soft = Open(kSoft, KEY_READ);
    HKEY a = nullptr;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExW(soft, L"a", 0, KEY_READ, &a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(a));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(soft));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSoft, 0, KEY_READ, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegOpenKeyExW(soft, L"A", 0, KEY_READ, &a))
        << "a closed handle";
}

TEST_P(StoreContractTest, EnumeratesSubkeysInWindowsOrder) {
    HKEY soft = Open(kSoft, KEY_READ);
    const wchar_t* expected[] = {L"A", L"b", L"Longest", L"Z\u00FC", L"_", L"\u00E4"};
    for (DWORD index = 0; index < 6; ++index) {
        wchar_t name[8] = {};
        DWORD length = 8;
        FILETIME written;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegEnumKeyExW(soft, index, name, &length, nullptr, nullptr, nullptr, &written));
        EXPECT_EQ(std::wstring(expected[index]), name) << "index " << index;
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
              RegEnumKeyExW(soft, 6, name, &length, nullptr, nullptr, nullptr, nullptr));
    RegCloseKey(soft);
}

TEST_P(StoreContractTest, TellsAKeysCountsAndSizes) {
    HKEY soft = Open(kSoft, KEY_READ);
    wchar_t className[260];
    std::fill(className, className + 260, L'x');
    DWORD counts[9];
    std::fill(counts, counts + 9, 99u);
    FILETIME written{0, 0};
    ASSERT_EQ(ERROR_SUCCESS, RegQueryInfoKeyW(soft, className, &counts[0], nullptr, &counts[1],
                                              &counts[2], &counts[3], &counts[4], &counts[5],
                                              &counts[6], &counts[7], &written));
    EXPECT_EQ(L'\0', className[0]);
    const DWORD expected[] = {0, 6, 7, 0, 0, 0, 0, 0, 99};
    EXPECT_TRUE(std::equal(expected, expected + 9, counts));
    EXPECT_NE(0u, written.dwHighDateTime);
    RegCloseKey(soft);
    HKEY a = Open(kA, KEY_READ);
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

TEST_P(StoreContractTest, ReadsValuesByTheByteCount) {
    HKEY a = Open(kA, KEY_READ);
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

TEST_P(StoreContractTest, RefusesWritesWithoutTheRight) {
    const std::string before = ReadFileBytes(storePath);
    HKEY read = Open(kA, KEY_READ);
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(read, L"GUIDMask", L"231"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(HKEY_LOCAL_MACHINE, L"GUIDMask", L"231"));
    RegCloseKey(read);
    HKEY write = Open(kA, KEY_SET_VALUE);
    DWORD length = 0;
    EXPECT_EQ(ERROR_ACCESS_DENIED,
              RegQueryValueExW(write, L"Text", nullptr, nullptr, nullptr, &length))
        << "a key opened only to set values cannot be read";
    EXPECT_EQ(ERROR_NOACCESS, RegSetValueExW(write, L"v", 0, REG_SZ, nullptr, 2));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteText(write, std::wstring(16384, L'n').c_str(), L"1"));
    RegCloseKey(write);
    EXPECT_TRUE(before == ReadFileBytes(storePath)) << "the store is as it was";
}

TEST_P(StoreContractTest, KeepsAReadOnlyStoreForReading) {
    const std::string before = ReadFileBytes(storePath);
    ASSERT_EQ(0, chmod(storePath.c_str(), 0444));
    const REGSAM writing[] = {KEY_ALL_ACCESS, KEY_SET_VALUE, KEY_WRITE, KEY_CREATE_SUB_KEY};
    for (REGSAM access : writing) {
        HKEY key = reinterpret_cast<HKEY>(&key);
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExW(HKEY_LOCAL_MACHINE, kA, 0, access, &key));
        EXPECT_EQ(nullptr, key);
    }
    HKEY key = Open(kA, KEY_READ);
    EXPECT_EQ(L"abc", ReadText(key, L"Text")) << "a read-only store is still read";
    RegCloseKey(key);
    // A store made read-only after the key was opened refuses the write too.
    ASSERT_EQ(0, chmod(storePath.c_str(), 0644));
    key = Open(kA, KEY_ALL_ACCESS);
    ASSERT_EQ(0, chmod(storePath.c_str(), 0444));
    EXPECT_EQ(ERROR_ACCESS_DENIED, WriteText(key, L"GUIDMask", L"231"));
    RegCloseKey(key);
    EXPECT_TRUE(before == ReadFileBytes(storePath)) << "the store is as it was";
}

TEST_P(StoreContractTest, ReplacesTheFileKeepingItsPermissions) {
    ASSERT_EQ(0, chmod(storePath.c_str(), 0640));
    struct stat before;
    ASSERT_EQ(0, stat(storePath.c_str(), &before));
    HKEY key = Open(kA, KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    struct stat after;
    ASSERT_EQ(0, stat(storePath.c_str(), &after));
    EXPECT_EQ(0640u, after.st_mode & 07777u);
    EXPECT_NE(before.st_ino, after.st_ino) << "a new file, renamed over the old one";
    EXPECT_EQ(OnlyTheStore(), DirectoryListing(directory)) << "no temporary file is left";
}

TEST_P(StoreContractTest, WritesThroughALinkToTheStore) {
    const std::string link = directory + "/link";
    ASSERT_EQ(0, symlink(storePath.c_str(), link.c_str()));
    std::string error;
    ASSERT_TRUE(LoadRegistryStore(link.c_str(), &error)) << error;
    HKEY key = Open(kA, KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    struct stat status;
    ASSERT_EQ(0, lstat(link.c_str(), &status));
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    Reload();
    key = Open(kA, KEY_READ);
    EXPECT_EQ(L"d", ReadText(key, L"Text")) << "the write went to the file linked to";
    RegCloseKey(key);
}

TEST_P(StoreContractTest, RemovesATemporaryFileLeftByAKilledRun) {
    WriteFileBytes(TemporaryStorePath(storePath), "left behind");
    HKEY key = Open(kA, KEY_ALL_ACCESS);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Text", L"d"));
    RegCloseKey(key);
    EXPECT_EQ(OnlyTheStore(), DirectoryListing(directory));
}

TEST_P(StoreContractTest, KeepsWhatAnotherRunWrote) {
    HKEY key = Open(kA, KEY_ALL_ACCESS);
    ReplaceStoreBehindOurBack(
        kStore + "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft\\A]\n\"Theirs\"=\"t\"\n");
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(L"t", ReadText(key, L"Theirs")) << "the handle opened before the re-read works";
    RegCloseKey(key);
    Reload();
    key = Open(kA, KEY_READ);
    EXPECT_EQ(L"t", ReadText(key, L"Theirs"));
    EXPECT_EQ(L"o", ReadText(key, L"Ours"));
    RegCloseKey(key);
    EXPECT_EQ(OnlyTheStore(), DirectoryListing(directory));
}

TEST_P(StoreContractTest, FailsAWriteToAKeyAnotherRunRemoved) {
    HKEY key = Open(kA, KEY_ALL_ACCESS);
    ReplaceStoreBehindOurBack("REGEDIT4\n[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Soft]\n");
    const std::string before = ReadFileBytes(storePath);
    EXPECT_EQ(ERROR_KEY_DELETED, WriteText(key, L"Ours", L"o"));
    RegCloseKey(key);
    EXPECT_TRUE(before == ReadFileBytes(storePath)) << "the store is as it was";
    EXPECT_EQ(OnlyTheStore(), DirectoryListing(directory));
}

TEST_P(StoreContractTest, LosesNoWriteOfRunsAtTheSameTime) {
    const std::string before = TreeText(StoreTree());
    const int kRuns = 8;
    WriteFromRunsAtOnce(kRuns, kA);
    Reload();
    HKEY key = Open(kA, KEY_READ);
    std::vector<std::string> added;
    for (int run = 0; run < kRuns; ++run) {
        const std::wstring name = L"Run" + std::to_wstring(run);
        EXPECT_EQ(L"x", ReadText(key, name.c_str())) << run;
        added.push_back("          \"Run" + std::to_string(run) + "\" 1: 78 00 00 00");
    }
    RegCloseKey(key);
    const std::string after = TreeText(StoreTree());
    EXPECT_EQ(added, LinesOnlyIn(after, before));
    EXPECT_EQ(std::vector<std::string>(), LinesOnlyIn(before, after));
    EXPECT_EQ(OnlyTheStore(), DirectoryListing(directory));
}

std::string BackendName(const testing::TestParamInfo<StoreBackend>& info) {
    return info.param == StoreBackend::Reg ? "Reg" : "Hive";
}

INSTANTIATE_TEST_SUITE_P(, StoreContractTest, testing::ValuesIn(StoreBackends()), BackendName);

} // namespace
