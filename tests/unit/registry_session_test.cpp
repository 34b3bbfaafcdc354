// Opening the registry on POSIX hosts: the store named by IPOIB_GUIDMASK_REGISTRY, and one line
// for standard error when there is none to be had.
#include "store_files.h"

#include "registry/registry_session.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

class RegistrySessionTest : public StoreTest {
  protected:
    // OpenRegistry's result, and the text it handed back for standard error.
    std::string OpenWith(const char* variable, bool* opened) {
        if (variable == nullptr) {
            unsetenv("IPOIB_GUIDMASK_REGISTRY");
        } else {
            setenv("IPOIB_GUIDMASK_REGISTRY", variable, 1);
        }
        std::string report;
        *opened = OpenRegistry(nullptr, 0, false, &report);
        unsetenv("IPOIB_GUIDMASK_REGISTRY");
        return report;
    }
};

TEST_F(RegistrySessionTest, SaysWhyThereIsNoRegistry) {
    bool opened = true;
    const std::string unnamed = "ipoib-guidmask: registry store not named: set "
                                "IPOIB_GUIDMASK_REGISTRY to a .reg file or a SYSTEM hive file\n";
    EXPECT_EQ(unnamed, OpenWith(nullptr, &opened));
    EXPECT_FALSE(opened);
    EXPECT_EQ(unnamed, OpenWith("", &opened));
    EXPECT_FALSE(opened);
    EXPECT_EQ("ipoib-guidmask: " + storePath +
                  ": cannot open the registry store: No such file or directory\n",
              OpenWith(storePath.c_str(), &opened));
    EXPECT_FALSE(opened);
    WriteFileBytes(storePath, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nA=1\n");
    EXPECT_EQ(
        "ipoib-guidmask: " + storePath +
            ":3: unrecognized line (expected a [key], a value, a comment or a blank); Windows "
            "would skip this line\n",
        OpenWith(storePath.c_str(), &opened));
    EXPECT_FALSE(opened);
    EXPECT_FALSE(RegistryStoreLoaded()) << "a broken store is no empty registry";
}

TEST_F(RegistrySessionTest, LoadsTheNamedStore) {
    WriteFileBytes(storePath, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n");
    bool opened = false;
    EXPECT_EQ("", OpenWith(storePath.c_str(), &opened));
    EXPECT_TRUE(opened);
    EXPECT_TRUE(RegistryStoreLoaded());
    CloseRegistry();
    EXPECT_FALSE(RegistryStoreLoaded());
}

} // namespace
