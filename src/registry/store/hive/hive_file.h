// Reading and writing registry hive files, with hivex where the build has it
// (hive_file-hivex.cpp) and a plain refusal where it has not (hive_file-none.cpp).
#pragma once

#include "registry/store/key_tree.h"
#include "registry/store/registry_types.h"
#include "registry/store/value_to_write.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the hive file at path into a fresh, finished tree: the hive's root key becomes
// HKEY_LOCAL_MACHINE\SYSTEM, whose tree key is systemKey. areas: the key paths below
// HKEY_LOCAL_MACHINE to keep (as LoadRegistryStore takes them); none: all. On failure what
// says why.
bool ReadHiveFile(const char* path, const std::vector<std::u16string>& areas, KeyTree* tree,
                  std::uint32_t* systemKey, std::string* what);

// Writes the hive at inPath, with one value of the key at keyPath (names below the hive's
// root) set, to the existing file outPath; inPath is left as it was. An existing value must be
// named as the hive spells it.
LSTATUS CommitHiveValue(const char* inPath, const char* outPath,
                        const std::vector<std::u16string>& keyPath, const ValueToWrite& write);
