// The hive side of the store's write: the locked hive, brought up to date from its logs, is
// committed with one value set into a new file that then takes the store's place.
#pragma once

#include "registry/registry_api-posix.h"
#include "registry/store/store_lock.h"
#include "registry/store/value_to_write.h"

#include <string>
#include <vector>

// A name that opens the file open on fd, for a library that opens files by name; path when
// the system has no such name.
std::string OpenFilePath(int fd, const std::string& path);

// Sets the value of the key at keyPath (names below the hive's root) in the hive at path, open
// and locked in lock. An existing value must be named as the hive spells it. On failure the
// file is as it was.
LSTATUS CommitHiveStoreValue(const std::string& path, const std::vector<std::u16string>& keyPath,
                             const ValueToWrite& write, StoreLock* lock);
