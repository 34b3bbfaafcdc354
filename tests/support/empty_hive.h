// The smallest registry hive file that hivex opens and writes: 8 KiB, a root key named ROOT
// with no subkeys or values, one security cell, and the rest of the one hive bin free.
// hivex cannot make a hive from nothing; the tests make this one and let hivex fill it.
#pragma once

#include <cstdint>
#include <string>

const std::size_t kEmptyHiveSize = 0x2000;

// The file's bytes, checksum included.
std::string EmptyHiveBytes();

// The XOR of the base block's first 127 little-endian 32-bit words, as stored at 0x1FC.
std::uint32_t HiveHeaderChecksum(const std::string& bytes);
