// What a SYSTEM hive adds to a key tree, in every build (no hivex needed): telling a hive by
// its first bytes, Select\Current naming the current control set, and the CurrentControlSet
// link.
#include "registry/store/hive/hive_layout.h"
#include "registry/store/name_case.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct StartCase {
    const char* bytes;
    std::size_t length;
    bool hive;
};

const StartCase kStartCases[] = {
    {"regf", 4, true},          {"regf\x01\x00", 6, true},
    {"reg", 3, false},          {"REGF", 4, false},
    {"\xFF\xFEr\0", 4, false},  {"REGEDIT4\r\n", 10, false},
    {"Windows Reg", 11, false}, {"", 0, false},
};

TEST(HiveLayoutTest, TellsAHiveByItsFirstBytes) {
    for (const StartCase& row : kStartCases) {
        SCOPED_TRACE(testing::Message() << "row #" << (&row - kStartCases));
        EXPECT_EQ(row.hive,
                  StartsAsHive(reinterpret_cast<const unsigned char*>(row.bytes), row.length));
    }
}

std::uint32_t AddPath(KeyTree* tree, std::uint32_t key, const std::vector<std::u16string>& names) {
    for (const std::u16string& name : names) {
        key = AddChildKey(tree, key, name.data(), name.size());
    }
    return key;
}

// A tree as a hive's is loaded: the root as SYSTEM, with control sets 1 and 2, and a Select
// key holding Current as data of the given type.
struct HiveTree {
    KeyTree tree;
    std::uint32_t system;
    std::uint32_t first;
    std::uint32_t second;
};

void BuildHiveTree(HiveTree* hive, bool select, std::uint32_t type, std::uint32_t current,
                   std::uint32_t length = 4) {
    InitKeyTree(&hive->tree);
    hive->system = AddHiveRootKey(&hive->tree);
    hive->first = AddPath(&hive->tree, hive->system, {u"ControlSet001"});
    hive->second = AddPath(&hive->tree, hive->system, {u"controlset002"});
    AddPath(&hive->tree, hive->second, {u"Control", u"Class"});
    if (select) {
        const std::uint32_t key = AddPath(&hive->tree, hive->system, {u"SELECT"});
        const unsigned char data[] = {static_cast<unsigned char>(current & 0xFFu),
                                      static_cast<unsigned char>((current >> 8) & 0xFFu),
                                      static_cast<unsigned char>((current >> 16) & 0xFFu),
                                      static_cast<unsigned char>((current >> 24) & 0xFFu)};
        SetValue(&hive->tree, key, u"current", 7, type, data, length);
    }
    FinishKeyTree(&hive->tree);
}

struct SelectCase {
    const char* description;
    bool select;
    std::uint32_t type;
    std::uint32_t current;
    std::uint32_t length;
    int controlSet; // 1 or 2, or 0 when the hive is broken
    const char* what;
};

const char kNoSelect[] = "the hive has no dword Select\\Current to name its current control set";

const SelectCase kSelectCases[] = {
    {"Current = 1", true, 4, 1, 4, 1, ""},
    {"Current = 2, a control set spelt in lower case", true, 4, 2, 4, 2, ""},
    {"Current = 3", true, 4, 3, 4, 0,
     "the hive has no ControlSet003, which Select\\Current names as the current control set"},
    {"Current = 0", true, 4, 0, 4, 0,
     "the hive has no ControlSet000, which Select\\Current names as the current control set"},
    {"Current = 258 (two bytes)", true, 4, 258, 4, 0,
     "the hive has no ControlSet258, which Select\\Current names as the current control set"},
    {"no Select key", false, 4, 1, 4, 0, kNoSelect},
    {"Current a string", true, 1, 1, 4, 0, kNoSelect},
    {"Current of three bytes", true, 4, 1, 3, 0, kNoSelect},
};

TEST(HiveLayoutTest, FindsTheCurrentControlSetThroughSelect) {
    for (const SelectCase& row : kSelectCases) {
        SCOPED_TRACE(row.description);
        HiveTree hive;
        BuildHiveTree(&hive, row.select, row.type, row.current, row.length);
        HiveLayout layout{kNoIndex, kNoIndex};
        std::string what;
        EXPECT_EQ(row.controlSet != 0,
                  FindCurrentControlSet(hive.tree, hive.system, &layout, &what));
        EXPECT_EQ(row.what, what);
        if (row.controlSet != 0) {
            EXPECT_EQ(hive.system, layout.systemKey);
            EXPECT_EQ(row.controlSet == 1 ? hive.first : hive.second, layout.controlSetKey);
        }
    }
}

TEST(HiveLayoutTest, LinksCurrentControlSetBelowSystemOnly) {
    HiveTree hive;
    BuildHiveTree(&hive, true, 4, 2);
    HiveLayout layout{kNoIndex, kNoIndex};
    std::string what;
    ASSERT_TRUE(FindCurrentControlSet(hive.tree, hive.system, &layout, &what)) << what;
    EXPECT_EQ(hive.second, HiveLinkTarget(layout, hive.system, u"CurrentControlSet", 17));
    EXPECT_EQ(hive.second, HiveLinkTarget(layout, hive.system, u"currentcontrolSET", 17));
    EXPECT_EQ(kNoIndex, HiveLinkTarget(layout, hive.system, u"CurrentControlSet2", 18));
    EXPECT_EQ(kNoIndex, HiveLinkTarget(layout, hive.second, u"CurrentControlSet", 17));
    EXPECT_EQ(kNoIndex,
              HiveLinkTarget(HiveLayout{kNoIndex, kNoIndex}, hive.system, u"CurrentControlSet", 17))
        << "a .reg store has no links";
}

TEST(HiveLayoutTest, SpellsAKeysPathBelowTheHiveRoot) {
    HiveTree hive;
    BuildHiveTree(&hive, true, 4, 2);
    const HiveLayout layout{hive.system, hive.second};
    const std::uint32_t control = FindChildKey(hive.tree, hive.second, u"CONTROL", 7);
    const std::uint32_t classKey = FindChildKey(hive.tree, control, u"class", 5);
    std::vector<std::u16string> names;
    ASSERT_TRUE(HiveKeyPath(hive.tree, layout, classKey, &names));
    EXPECT_EQ((std::vector<std::u16string>{u"controlset002", u"Control", u"Class"}), names);
    ASSERT_TRUE(HiveKeyPath(hive.tree, layout, hive.system, &names));
    EXPECT_TRUE(names.empty());
    EXPECT_FALSE(HiveKeyPath(hive.tree, layout, hive.tree.keys[hive.system].parent, &names))
        << "HKEY_LOCAL_MACHINE is above the hive";
}

} // namespace
