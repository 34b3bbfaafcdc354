// Bringing a dirty hive up to date from its transaction logs, as Windows does when it loads
// the hive: which log pages go where, worked out on bytes in memory, touching no file.
//
// A hive is dirty when its base block's two sequence numbers differ: a write to it began and
// did not finish, and what it wrote is in the logs beside it (<hive>.LOG1 and .LOG2, or .LOG).
// Logs of the format of Windows 8.1 and later (entries marked "HvLE") are replayed; logs of the
// older format ("DIRT") are recognised and refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

const std::size_t kHiveBaseBlockSize = 512;
const std::size_t kHiveBinsStart = 0x1000;
const std::size_t kHiveBinHeaderSize = 32;

enum class HiveReplayResult {
    Clean,      // nothing to do: the hive is clean (its logs, if any, do not apply)
    Replayed,   // the image now holds the hive as Windows would load it, its base block clean
    Incomplete, // dirty and not wholly brought up to date; problem says why (the image holds the
                // entries applied before a declined one, if any)
};

// How the chain of entries ended.
enum class HiveChainEnd {
    LogEnd,   // as Windows' rules end it: no further entry, one past the file's end, a wrong
              // hash, a bins size of no whole pages, or the next sequence number missing
    Declined, // at an entry with sound hashes and the next sequence number that this program
              // does not apply: the replay is incomplete
};

// The entry a replay declined.
struct HiveDeclinedEntry {
    std::size_t log; // its log, counted in the order the logs were given
    std::size_t at;  // its offset in the log
    std::uint32_t sequence;
    const char* reason;         // what is wrong with it, as "it ..." or "a page of it ..."
    std::uint32_t laterEntries; // the entries that would follow it on Windows' rules
};

struct HiveReplay {
    HiveReplayResult result;
    std::uint32_t entries;      // entries applied
    std::uint32_t lastSequence; // the sequence number both fields now hold, when entries > 0
    std::string problem;
    HiveChainEnd end;
    HiveDeclinedEntry declined; // when end is Declined
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

// A transaction log's bytes.
struct HiveLogBytes {
    const unsigned char* bytes;
    std::size_t length;
    const char* name; // for messages; null or empty: "its transaction log"
};

// One write of a replay: a page run of a log's entry, put at offset in the image.
struct HivePageWrite {
    std::size_t offset;
    const unsigned char* bytes; // in the log
    std::size_t size;
};

// What replaying the logs does to a hive, worked out from its base block and length alone:
// the length of the image (which only grows; the room behind the file reads as zeros), the
// pages to write in order, later ones over earlier ones, and the base block to write last.
// outcome is Replayed, or Incomplete with a declined entry behind the entries applied: the
// image, so written, must still pass the bin walk below. With no entry applied there is nothing
// to write.
struct HiveReplayPlan {
    HiveReplay outcome;
    std::size_t length;
    std::vector<HivePageWrite> writes;
    unsigned char baseBlock[kHiveBaseBlockSize];
    std::uint32_t binsSize;
};

// baseBlock: the hive's first bytes, up to kHiveBaseBlockSize of them (hiveLength when fewer).
// The logs may be in any order; empty or foreign ones are passed over. The plan's writes point
// into the logs.
void PlanHiveReplay(const unsigned char* baseBlock, std::size_t hiveLength,
                    const HiveLogBytes* logs, std::size_t logCount, HiveReplayPlan* plan);

// The size of the bin whose kHiveBinHeaderSize header bytes are at header, the bin being at
// offset at from the first bin with room bytes from there to the image's end; 0 when it is no
// whole bin that knows its own place.
std::uint32_t HiveBinSizeAt(const unsigned char* header, std::uint64_t at, std::uint64_t room);

// The end of the bins, relative to the first bin, that a reader walking whole bins from the
// first one finds below binsSize; 0 when the first bin is not one.
std::uint32_t WalkedBinsEnd(const unsigned char* image, std::size_t length, std::uint32_t binsSize);
