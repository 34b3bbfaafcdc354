// Bringing a dirty hive up to date from its transaction logs, as Windows does when it loads
// the hive: which log pages go where, worked out on bytes in memory, touching no file.
//
// A hive is dirty when its base block's two sequence numbers differ: a write to it began and
// did not finish, and what it wrote is in the logs beside it (<hive>.LOG1 and .LOG2, or .LOG).
// Logs of the format of Windows 8.1 and later (entries marked "HvLE") are replayed; logs of the
// older format ("DIRT") are recognised and refused.
#pragma once

#include "registry/store/hive/hive_format.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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
// image, so written, must still pass the bin walk (hive_format.h). With no entry applied there is
// nothing to write.
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
