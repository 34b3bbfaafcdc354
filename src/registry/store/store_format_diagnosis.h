// What a store file is when it is not what the user took it for: told from its first bytes and
// its length before a reader parses it as what it is not. Each finding is one line that says
// what the file is and what to do. A file that starts as a hive is the hive format's to judge
// (hive/hive_diagnosis.h).
#pragma once

#include <cstdint>
#include <string>

// The first bytes (4096 at most) of the file open on fd, and its size. False when they cannot
// be read; the reader then says why.
bool ReadStoreFileStart(int fd, std::string* bytes, std::uint64_t* size);

// True, with what saying so, when the file that starts with bytes (size bytes long, no hive)
// is no store that can be read as it is: empty or blank, compressed, UTF-16 without a
// byte-order mark or big-endian, or binary. False for every file a reader should see.
bool DiagnoseStoreFile(const std::string& bytes, std::uint64_t size, std::string* what);
