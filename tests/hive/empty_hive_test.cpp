// The empty hive that the tests build hives from: the bytes of the fact sheet, and a file
// that hivex opens, fills and commits.
#include "empty_hive.h"
#include "hive_log_builder.h"
#include "store_files.h"

#include <gtest/gtest.h>
#include <hivex.h>
#include <string>

namespace {

TEST(EmptyHiveTest, HasTheLayoutOfTheFactSheet) {
    const std::string bytes = EmptyHiveBytes();
    ASSERT_EQ(0x2000u, bytes.size());
    EXPECT_EQ("regf", bytes.substr(0, 4));
    EXPECT_EQ(0x0EB7B560u, HiveDword(bytes, 0x1FC));
    EXPECT_EQ(0x0EB7B560u, HiveHeaderChecksum(bytes));
    EXPECT_EQ("hbin", bytes.substr(0x1000, 4));
    EXPECT_EQ(0xFFFFFFA8u, HiveDword(bytes, 0x1020));
    EXPECT_EQ("nk", bytes.substr(0x1024, 2));
    EXPECT_EQ("ROOT", bytes.substr(0x1070, 4));
    EXPECT_EQ(0xFFFFFF98u, HiveDword(bytes, 0x1078));
    EXPECT_EQ("sk", bytes.substr(0x107C, 2));
    EXPECT_EQ(3872u, HiveDword(bytes, 0x10E0));
    EXPECT_EQ(std::string(3868, '\0'), bytes.substr(0x10E4));
}

class EmptyHiveFileTest : public StoreTest {};

TEST_F(EmptyHiveFileTest, OpensFillsAndCommitsWithHivex) {
    const std::string path = directory + "/empty";
    WriteFileBytes(path, EmptyHiveBytes());
    hive_h* hive = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
    ASSERT_NE(nullptr, hive);
    const hive_node_h root = hivex_root(hive);
    EXPECT_EQ(0u, hivex_node_nr_children(hive, root));
    EXPECT_EQ(0u, hivex_node_nr_values(hive, root));
    const hive_node_h child = hivex_node_add_child(hive, root, "Sub");
    ASSERT_NE(0u, child);
    char name[] = "Mask";
    char data[] = {'\xE7', 0, 0, 0};
    hive_set_value value{name, hive_t_REG_DWORD, 4, data};
    ASSERT_EQ(0, hivex_node_set_value(hive, child, &value, 0));
    const std::string out = directory + "/out";
    ASSERT_EQ(0, hivex_commit(hive, out.c_str(), 0));
    hivex_close(hive);
    EXPECT_EQ(EmptyHiveBytes(), ReadFileBytes(path)) << "committed to another file";

    hive = hivex_open(out.c_str(), 0);
    ASSERT_NE(nullptr, hive);
    const hive_node_h sub = hivex_node_get_child(hive, hivex_root(hive), "sub");
    ASSERT_NE(0u, sub);
    EXPECT_EQ(0xE7, hivex_value_dword(hive, hivex_node_get_value(hive, sub, "Mask")));
    hivex_close(hive);
}

} // namespace
