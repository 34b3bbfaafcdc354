// What a SYSTEM hive file adds to a key tree: the hive's root key is
// HKEY_LOCAL_MACHINE\SYSTEM, and CurrentControlSet, which an offline hive does not hold, names
// the control set that the dword Select\Current gives (N: ControlSet00N), as at boot.
#pragma once

#include "registry/store/key_tree.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A hive file starts with these bytes; a .reg file never does.
const char kHiveSignature[] = "regf";
const std::size_t kHiveSignatureLength = 4;

bool StartsAsHive(const unsigned char* bytes, std::size_t length);

struct HiveLayout {
    std::uint32_t systemKey;     // the hive's root key; kNoIndex when the store is no hive
    std::uint32_t controlSetKey; // the key that CurrentControlSet names
};

// The tree key of HKEY_LOCAL_MACHINE\SYSTEM, made if the tree has none.
std::uint32_t AddHiveRootKey(KeyTree* tree);

// The name of the control set that the dword Select\Current below systemKey names
// (ControlSet00N); false when there is no such dword.
bool CurrentControlSetName(const KeyTree& tree, std::uint32_t systemKey, std::string* name);

// Fills layout for the finished tree of a hive whose root key is systemKey. False, with what
// saying why, when Select\Current is missing, not a dword, or names a missing control set.
bool FindCurrentControlSet(const KeyTree& tree, std::uint32_t systemKey, HiveLayout* layout,
                           std::string* what);

// The key that the name below key stands for when it is a link (CurrentControlSet below
// SYSTEM), else kNoIndex.
std::uint32_t HiveLinkTarget(const HiveLayout& layout, std::uint32_t key, const char16_t* name,
                             std::size_t nameLength);

// The names of the keys from below the hive's root down to key, spelt as the hive spells them;
// false when key is not the root or below it.
bool HiveKeyPath(const KeyTree& tree, const HiveLayout& layout, std::uint32_t key,
                 std::vector<std::u16string>* names);
