// What a store file is when it is not what the user took it for: told from its first bytes and
// its length before a reader parses it as what it is not, and, once read, a store that lacks
// the keys a run reads. Each finding is one line that says what the file is and what to do.
#pragma once

#include "registry/store/key_tree.h"

#include <string>
#include <vector>

// True, with what saying so, when the file open on fd is no store that can be read as it is:
// empty or blank, compressed, UTF-16 without a byte-order mark or big-endian, binary, a hive's
// transaction log, or a hive whose header cannot be read or that is shorter than its header
// says. False for every file a reader should see.
bool DiagnoseStoreFile(int fd, std::string* what);

// Empty when the loaded store holds every one of areas (key paths below HKEY_LOCAL_MACHINE, as
// FindStoreKey takes them); else a warning, after "<path>: ", that names the areas it lacks and
// outside, where the store's keys lie instead (a few, in file order), and the export that
// holds the areas.
std::string MissingAreasWarning(const std::vector<std::u16string>& areas,
                                const std::vector<std::u16string>& outside);
