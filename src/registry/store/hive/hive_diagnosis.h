// What a file that starts as a hive is when it cannot be read as one: cut short, a transaction
// log named in the hive's place, a damaged header or a format version that cannot be read. Each
// finding is one line that says what the file is and what to do.
#pragma once

#include <cstdint>
#include <string>

// A file that starts as a hive, or as a hive's start cut before its signature ends.
bool LooksLikeHive(const std::string& bytes);

// True, with what saying so, when the file that starts with bytes (the first 4096 or all of
// them) and is size bytes long cannot be read as a hive as it is. False for a hive a reader
// should see, a dirty one too: its logs may grow it.
bool DiagnoseHiveFile(const std::string& bytes, std::uint64_t size, std::string* what);
