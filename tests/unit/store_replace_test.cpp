// A store write whose replacement fails at each step in turn: the store stays byte for byte
// as it was and loads, no temporary file is left, the API returns an error and a run ends
// with -1, having said so in interactive mode.
#include "console_capture.h"
#include "store_files.h"

#include "cli/tool_main.h"
#include "registry/registry_api.h"
#include "registry/store/registry_store.h"
#include "registry/store/store_replace.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char kClassKey[] = "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class\\"
                         "{4D36E972-E325-11CE-BFC1-08002bE10318}";

// One adapter whose port GUID (00-30-48) needs the predefined mask 0xe7, which a fix writes.
const std::string kStore =
    std::string("Windows Registry Editor Version 5.00\r\n\r\n") +
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
    "{4D36E972-E325-11CE-BFC1-08002BE10318}\\{2A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}\\"
    "Connection]\r\n"
    "\"PnpInstanceID\"=\"IBA\\\\IPOIB\\\\563412FFFF483000\"\r\n\r\n[" +
    kClassKey + "\\0001]\r\n\"ComponentId\"=\"iba\\\\ipoib\"\r\n" +
    "\"NetCfgInstanceId\"=\"{2A1B2C3D-0E0F-4A1B-9C2D-3E4F5A6B7C8D}\"\r\n";

const wchar_t kAdapterKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Class\\"
                              L"{4D36E972-E325-11CE-BFC1-08002bE10318}\\0001";

struct FailingStep {
    const char* name;
    ReplaceStep step;
};

const FailingStep kFailingSteps[] = {
    {"creating the new file", ReplaceStep::Create},
    {"copying the old file's bytes", ReplaceStep::Copy},
    {"writing the value's bytes", ReplaceStep::Write},
    {"giving it the store's permissions", ReplaceStep::Permissions},
    {"flushing it", ReplaceStep::Flush},
    {"locking it", ReplaceStep::Lock},
    {"linking it under its temporary name", ReplaceStep::Link},
    {"renaming it over the store", ReplaceStep::Rename},
};

class StoreReplaceTest : public StoreTest {
  protected:
    void TearDown() override {
        gFailingReplaceStep = ReplaceStep::None;
        StoreTest::TearDown();
    }

    LSTATUS WriteMask(const std::wstring& text) {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kAdapterKey, 0, KEY_SET_VALUE, &key);
        if (status == ERROR_SUCCESS) {
            status = RegSetValueExW(key, L"GUIDMask", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(text.c_str()),
                                    static_cast<DWORD>((text.size() + 1) * sizeof(char16_t)));
            RegCloseKey(key);
        }
        return status;
    }

    // The store is as it was, loads again, and nothing is left beside it.
    void ExpectStoreUntouched() {
        EXPECT_EQ(kStore, ReadFileBytes(storePath));
        EXPECT_EQ("store.reg\n", DirectoryListing(directory));
        std::string error;
        EXPECT_TRUE(LoadRegistryStore(storePath.c_str(), &error)) << error;
    }

    // The whole program on the store; what it printed goes to printed.
    int Run(const std::wstring& options, std::string* printed) {
        setenv("IPOIB_GUIDMASK_REGISTRY", storePath.c_str(), 1);
        std::wstring arguments[3] = {L"ipoib-guidmask", options.substr(0, 2), options.substr(2)};
        const wchar_t* argv[3] = {arguments[0].c_str(), arguments[1].c_str(), arguments[2].c_str()};
        BeginConsoleCapture();
        const int status = ToolMain(arguments[2].empty() ? 2 : 3, argv);
        *printed = EndConsoleCapture();
        unsetenv("IPOIB_GUIDMASK_REGISTRY");
        return status;
    }
};

TEST_F(StoreReplaceTest, LeavesTheStoreAsItWasWhenAnyStepFails) {
    for (const FailingStep& row : kFailingSteps) {
        SCOPED_TRACE(row.name);
        LoadStore(kStore);
        gFailingReplaceStep = row.step;
        EXPECT_EQ(ERROR_WRITE_FAULT, WriteMask(L"231"));
        gFailingReplaceStep = ReplaceStep::None;
        ExpectStoreUntouched();
        // The store still takes the write once the step works again.
        EXPECT_EQ(ERROR_SUCCESS, WriteMask(L"231"));
        EXPECT_EQ(kStore + "\"GUIDMask\"=\"231\"\r\n", ReadFileBytes(storePath));
        EXPECT_EQ("store.reg\n", DirectoryListing(directory));
    }
}

TEST_F(StoreReplaceTest, ARunReportsTheFailedWrite) {
    const std::string guidLine = "A port GUID that is known to Tarnwick 2.0.0 driver has been "
                                 "found: 0x003048ffff123456.\n";
    for (const FailingStep& row : kFailingSteps) {
        SCOPED_TRACE(row.name);
        WriteFileBytes(storePath, kStore);
        gFailingReplaceStep = row.step;
        std::string printed;
        EXPECT_EQ(-1, Run(L"-f-s", &printed));
        EXPECT_EQ("\n", printed);
        ExpectStoreUntouched();
        EXPECT_EQ(-1, Run(L"-f", &printed));
        EXPECT_EQ(guidLine +
                      "A predefined GUID mask 0xe7 is available, but adding it to the registry "
                      "has failed.\n\n",
                  printed);
        ExpectStoreUntouched();
        gFailingReplaceStep = ReplaceStep::None;
    }
}

TEST_F(StoreReplaceTest, RefusesToWriteWhereAFifoReplacedTheStore) {
    LoadStore(kStore);
    const std::string fifo = directory + "/fifo";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    ASSERT_EQ(0, rename(fifo.c_str(), storePath.c_str()));
    // In a child, which opening the FIFO for the lock could block: it has 10 seconds.
    const pid_t child = fork();
    if (child == 0) {
        alarm(10);
        _exit(WriteMask(L"231") == ERROR_BADDB ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ("store.reg\n", DirectoryListing(directory));
}

} // namespace
