// The process's registry store: a registry file loaded once into a key tree, and written one
// value at a time under a lock, after re-reading the file if another process has changed it
// since, by replacing the file with a new one.
//
// The tree knows nothing of the file's format. registry_store.cpp tells the two formats apart
// by the file's first bytes and reaches each through the same two entry points, a read into
// the key tree and a write of one value under the lock: a .reg file (reg_file/: ReadRegFile,
// WriteRegFileValue) or a SYSTEM hive file (hive/: ReadHiveStore, WriteHiveStoreValue), whose
// root is HKEY_LOCAL_MACHINE\SYSTEM and whose CurrentControlSet is looked up through
// Select\Current.
#pragma once

#include "registry/store/key_tree.h"
#include "registry/store/registry_types.h"
#include "registry/store/value_to_write.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Why a store file could not be loaded.
struct StoreLoadError {
    std::uint64_t line = 0; // the line of a file that does not parse; 0: no line is concerned
    std::string what;       // what was found, and what to do
};

// Replaces any store loaded before. areas are key paths below HKEY_LOCAL_MACHINE (as
// FindStoreKey takes them): the store then holds those keys, everything below them and the keys
// above them, while the rest of the file is still checked as it is read; no areas: every key.
// On failure nothing is loaded and error says why.
bool LoadRegistryStore(const char* path, const std::vector<std::u16string>& areas,
                       StoreLoadError* error);

// The whole store; on failure error is one line, "<path>:<line>: <what>" for a file that does
// not parse, "<path>: <what>" otherwise (for tests and tools that only show it).
bool LoadRegistryStore(const char* path, std::string* error);

void UnloadRegistryStore();

bool RegistryStoreLoaded();

// When the store is a dirty hive (one that Windows did not finish writing) whose transaction
// logs could not be replayed: why; the store then holds the hive as its file has it, which may
// lack what only the logs hold. Empty otherwise, and for a dirty hive that was brought up to
// date from its logs, as Windows does when it loads the hive.
const std::string& StoreIncompleteReason();

// The areas the store was loaded for that it does not hold, in the order given.
std::vector<std::u16string> StoreAreasMissing();

// The first few keys (four at most, root key and names) where a .reg store's key lines leave
// the areas it was loaded for; none for a hive.
const std::vector<std::u16string>& StoreKeysOutsideAreas();

// The tree as loaded or as last re-read; keys are looked up by path at each use.
const KeyTree& StoreTree();

// The key at path below HKEY_LOCAL_MACHINE, names separated by single backslashes ("" is
// HKEY_LOCAL_MACHINE itself), or kNoIndex.
std::uint32_t FindStoreKey(const char16_t* path, std::size_t length);

// False when the store file has no write permission bit for anyone, which binds root too.
bool StoreFileWritable();

// The store file's modification time, for every key.
FILETIME StoreLastWriteTime();

// Sets a value of the key at path (as FindStoreKey) in the store file. The write is on disk
// when this returns; on failure the file is as it was.
LSTATUS WriteStoreValue(const char16_t* keyPath, std::size_t keyPathLength,
                        const ValueToWrite& write);
