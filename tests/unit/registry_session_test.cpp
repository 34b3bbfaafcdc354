// Opening the registry on POSIX hosts: the store named by IPOIB_GUIDMASK_REGISTRY, and the facts
// of why there is none to be had.
#include "store_files.h"

#include "registry/registry_session.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

class RegistrySessionTest : public StoreTest {
  protected:
    RegistryOpening OpenWith(const char* variable) {
        if (variable == nullptr) {
            unsetenv("IPOIB_GUIDMASK_REGISTRY");
        } else {
            setenv("IPOIB_GUIDMASK_REGISTRY", variable, 1);
        }
        const RegistryOpening opening = OpenRegistry(nullptr, 0, false);
        unsetenv("IPOIB_GUIDMASK_REGISTRY");
        return opening;
    }
};

TEST_F(RegistrySessionTest, SaysWhyThereIsNoRegistry) {
    for (const char* unnamed : {static_cast<const char*>(nullptr), ""}) {
        const RegistryOpening opening = OpenWith(unnamed);
        EXPECT_FALSE(opening.opened);
        EXPECT_EQ(kStoreNotNamed, opening.problem);
        EXPECT_EQ("", opening.path);
    }
    RegistryOpening opening = OpenWith(storePath.c_str());
    EXPECT_FALSE(opening.opened);
    EXPECT_EQ(kStoreUnreadable, opening.problem);
    EXPECT_EQ(storePath, opening.path);
    EXPECT_EQ(0u, opening.line);
    EXPECT_EQ("cannot open the registry store: No such file or directory", opening.what);
    WriteFileBytes(storePath, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\nA=1\n");
    opening = OpenWith(storePath.c_str());
    EXPECT_FALSE(opening.opened);
    EXPECT_EQ(kStoreUnreadable, opening.problem);
    EXPECT_EQ(3u, opening.line);
    EXPECT_EQ("unrecognized line (expected a [key], a value, a comment or a blank); Windows would "
              "skip this line",
              opening.what);
    EXPECT_FALSE(RegistryStoreLoaded()) << "a broken store is no empty registry";
}

TEST_F(RegistrySessionTest, LoadsTheNamedStore) {
    WriteFileBytes(storePath, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\A]\n");
    const RegistryOpening opening = OpenWith(storePath.c_str());
    EXPECT_TRUE(opening.opened);
    EXPECT_EQ(kRegistryOpened, opening.problem);
    EXPECT_TRUE(opening.missingAreas.empty());
    EXPECT_TRUE(RegistryStoreLoaded());
    CloseRegistry();
    EXPECT_FALSE(RegistryStoreLoaded());
}

} // namespace
