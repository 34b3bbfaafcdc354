// The two forms the registry store takes on disk, for the tests that hold both to one contract:
// a .reg file, and a SYSTEM hive where the build reads hives.
#pragma once

#include <string>
#include <vector>

enum class StoreBackend { Reg, Hive };

// The backends this build has.
std::vector<StoreBackend> StoreBackends();

// The store file's name: "store.reg" or "SYSTEM".
const char* StoreFileName(StoreBackend backend);

// Writes at path the backend's store of a .reg text (UTF-8, lines ending in "\n"); a hive
// holds what the text has below HKEY_LOCAL_MACHINE\SYSTEM. False when the store is not made.
bool WriteBackendStore(StoreBackend backend, const std::string& regText, const std::string& path);
