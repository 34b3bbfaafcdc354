// The registry API over the .reg store where a .reg file differs from a hive (the contract both
// keep is in store_contract_test.cpp): the lines a write adds, names that cannot be a .reg line,
// a store another run broke, and calls made with no store loaded.
#include "store_files.h"

#include "registry/registry_api.h"
#include "registry/store/registry_store.h"
#include "registry/store/store_replace.h"

#include <gtest/gtest.h>
#include <string>
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

    // Replaces the store as another run would: a new file renamed over it.
    void ReplaceStoreBehindOurBack(const std::string& bytes) {
        const std::string other = directory + "/other.reg";
        WriteFileBytes(other, bytes);
        ASSERT_EQ(0, rename(other.c_str(), storePath.c_str()));
    }
};

TEST_F(RegistryApiTest, RefusesANameThatCannotBeOneLine) {
    HKEY write = Open(L"Soft\\A", KEY_SET_VALUE);
    EXPECT_EQ(ERROR_INVALID_PARAMETER, WriteText(write, L"two\nlines", L"1"));
    RegCloseKey(write);
    EXPECT_EQ(kStore, ReadFileBytes(storePath));
}

TEST_F(RegistryApiTest, AddsAWriteAfterWhatAnotherRunWrote) {
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    const std::string theirs = kStore + "[HKEY_LOCAL_MACHINE\\Soft\\A]\r\n\"Theirs\"=\"t\"\r\n";
    ReplaceStoreBehindOurBack(theirs);
    EXPECT_EQ(ERROR_SUCCESS, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(theirs + "\"Ours\"=\"o\"\r\n", ReadFileBytes(storePath));
    RegCloseKey(key);
}

TEST_F(RegistryApiTest, LeavesAStoreBrokenByAnotherRunAlone) {
    HKEY key = Open(L"Soft\\A", KEY_ALL_ACCESS);
    const std::string broken = kStore + "[HKEY_LOCAL_MACHINE\\Soft\\A\r\n";
    ReplaceStoreBehindOurBack(broken);
    EXPECT_EQ(ERROR_BADDB, WriteText(key, L"Ours", L"o"));
    EXPECT_EQ(broken, ReadFileBytes(storePath));
    RegCloseKey(key);
    EXPECT_EQ("store.reg\n", DirectoryListing(directory));
}

TEST_F(RegistryApiTest, AddsOneLineForEachOfRunsAtTheSameTime) {
    const int kRuns = 8;
    WriteFromRunsAtOnce(kRuns, L"Soft\\A");
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
