// The hive format's two entry points into the store: a SYSTEM hive read into a key tree as
// Windows would load it (brought up to date from the transaction logs beside it), and one value
// written under the store's lock, by committing the hive with the value set into a new file that
// then takes the store's place.
#pragma once

#include "registry/store/hive/hive_layout.h"
#include "registry/store/key_tree.h"
#include "registry/store/registry_types.h"
#include "registry/store/store_lock.h"
#include "registry/store/value_to_write.h"

#include <cstdint>
#include <string>
#include <vector>

// Reads the hive open on fd (at path) into a fresh, finished tree, and finds its control set.
// incomplete: why the logs of a dirty hive could not be replayed, else empty. False, with what
// saying why, when the hive cannot be read; the tree is then empty.
bool ReadHiveStore(int fd, const std::string& path, const std::vector<std::u16string>& areas,
                   KeyTree* tree, HiveLayout* layout, std::string* incomplete, std::string* what);

// Sets one value of key in the hive at path, open and locked in lock, whose tree is tree; the
// tree takes the value on. On failure the file and the tree are as they were.
LSTATUS WriteHiveStoreValue(const std::string& path, const HiveLayout& layout, std::uint32_t key,
                            const ValueToWrite& write, StoreLock* lock, KeyTree* tree);
