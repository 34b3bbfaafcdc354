// Marvin32, the keyed hash that guards the entries of a hive's transaction logs.
#pragma once

#include <cstddef>
#include <cstdint>

// The seed of log entries: s0 in the low half, s1 in the high half.
const std::uint64_t kHiveLogMarvinSeed = 0x82EF4D887A4E55C5u;

// The 64-bit hash of length bytes, s0 in the low half (as the log stores it, little-endian).
std::uint64_t Marvin32(std::uint64_t seed, const unsigned char* bytes, std::size_t length);
