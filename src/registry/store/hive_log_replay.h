// Bringing a dirty hive up to date from its transaction logs, as Windows does when it loads
// the hive: plain work on bytes in memory, which touches no file.
//
// A hive is dirty when its base block's two sequence numbers differ: a write to it began and
// did not finish, and what it wrote is in the logs beside it (<hive>.LOG1 and .LOG2, or .LOG).
// Logs of the format of Windows 8.1 and later (entries marked "HvLE") are replayed; logs of the
// older format ("DIRT") are recognised and refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

const std::size_t kHiveBaseBlockSize = 512;
const std::size_t kHiveBinsStart = 0x1000;

enum class HiveReplayResult {
    Clean,      // nothing to do: the hive is clean (its logs, if any, do not apply)
    Replayed,   // the image now holds the hive as Windows would load it, its base block clean
    Incomplete, // dirty and not replayable; problem says why
};

struct HiveReplay {
    HiveReplayResult result;
    std::uint32_t entries;      // entries applied
    std::uint32_t lastSequence; // the sequence number both fields now hold, when replayed
    std::string problem;
};

// The base block's fields that tell a dirty hive.
struct HiveBaseBlock {
    bool valid; // "regf" and a correct checksum
    std::uint32_t primarySequence;
    std::uint32_t secondarySequence;
    std::uint32_t binsSize;
};

HiveBaseBlock ReadHiveBaseBlock(const unsigned char* bytes, std::size_t length);

// The XOR of the base block's first 127 dwords, which its last dword holds.
std::uint32_t HiveBaseBlockChecksum(const unsigned char* bytes);

// Stores the checksum of the first 508 bytes behind them.
void SealHiveBaseBlock(unsigned char* bytes);

// A whole hive file in memory, with room behind it for the bins the logs may add.
struct HiveBytes {
    unsigned char* bytes;
    std::size_t length;   // the file's bytes
    std::size_t capacity; // the room that bytes holds; length may grow up to it
};

// A transaction log's bytes.
struct HiveLogBytes {
    const unsigned char* bytes;
    std::size_t length;
};

// An entry grows the hive by no more than the pages it carries, so room for the hive and all
// its logs is room enough for any replay.
std::size_t HiveReplayCapacity(std::size_t hiveLength, const HiveLogBytes* logs,
                               std::size_t logCount);

// Replays the logs (in any order; empty or foreign ones are passed over) into image when it
// is dirty, and checks every bin of the result. When the result is Incomplete, image may hold
// part of a replay and must be read again from the file.
HiveReplay ReplayHiveLogs(HiveBytes* image, const HiveLogBytes* logs, std::size_t logCount);

// The end of the bins, relative to the first bin, that a reader walking whole bins from the
// first one finds below binsSize; 0 when the first bin is not one.
std::uint32_t WalkedBinsEnd(const unsigned char* image, std::size_t length, std::uint32_t binsSize);
