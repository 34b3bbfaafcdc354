// What a store file is when it is not what the user took it for: told from its first bytes and
// its length before a reader parses it as what it is not. Each finding is one line that says
// what the file is and what to do.
#pragma once

#include <string>

// True, with what saying so, when the file open on fd is no store that can be read as it is:
// empty or blank, compressed, UTF-16 without a byte-order mark or big-endian, binary, a hive's
// transaction log, or a hive whose header cannot be read or that is shorter than its header
// says. False for every file a reader should see.
bool DiagnoseStoreFile(int fd, std::string* what);
