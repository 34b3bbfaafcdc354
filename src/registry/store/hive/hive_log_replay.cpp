#include "registry/store/hive/hive_log_replay.h"

#include "registry/store/hive/marvin32.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace {

// A log entry's header, in the order the log holds it.
const std::size_t kEntryHeaderSize = 0x28;
const std::size_t kEntrySizeAt = 0x04;
const std::size_t kEntryFlagsAt = 0x08;
const std::size_t kEntrySequenceAt = 0x0C;
const std::size_t kEntryBinsSizeAt = 0x10;
const std::size_t kEntryPageCountAt = 0x14;
const std::size_t kEntryHash1At = 0x18;
const std::size_t kEntryHash2At = 0x20;
const std::size_t kEntryAlignment = 512;

enum class LogFormat { Unusable, Entries, DirtyVector };

// A log that may be replayed: its base-block copy is sound, and what follows it says how.
struct UsableLog {
    HiveLogBytes bytes;
    LogFormat format;
    std::uint32_t sequence; // of its base-block copy, which is that of its first entry
};

UsableLog JudgeLog(const HiveLogBytes& log) {
    UsableLog judged{log, LogFormat::Unusable, 0};
    const HiveBaseBlock copy = ReadHiveBaseBlock(log.bytes, log.length);
    if (!copy.valid || copy.primarySequence != copy.secondarySequence ||
        log.length < kHiveBaseBlockSize + 4) {
        return judged;
    }
    judged.sequence = copy.primarySequence;
    if (HiveMarked(log.bytes + kHiveBaseBlockSize, "HvLE")) {
        judged.format = LogFormat::Entries;
    } else if (HiveMarked(log.bytes + kHiveBaseBlockSize, "DIRT")) {
        judged.format = LogFormat::DirtyVector;
    }
    return judged;
}

struct PageReference {
    std::uint32_t offset; // relative to the first bin
    std::uint32_t size;
};

// One entry of a log, its hashes and bounds checked.
struct LogEntry {
    std::size_t at;
    std::size_t size;
    std::uint32_t flags;
    std::uint32_t sequence;
    std::uint32_t binsSize;
    std::vector<PageReference> pages;
    std::size_t dataAt;     // where the first page's bytes begin
    std::uint64_t dataSize; // the pages' bytes
};

// False where the entry at `at` ends the chain: no entry, a bad hash, or bounds that do not
// hold.
bool ReadLogEntry(const HiveLogBytes& log, std::size_t at, LogEntry* entry) {
    if (at > log.length || log.length - at < kEntryHeaderSize ||
        !HiveMarked(log.bytes + at, "HvLE")) {
        return false;
    }
    const unsigned char* header = log.bytes + at;
    entry->at = at;
    entry->size = LittleEndianDword(header + kEntrySizeAt);
    entry->flags = LittleEndianDword(header + kEntryFlagsAt);
    entry->sequence = LittleEndianDword(header + kEntrySequenceAt);
    entry->binsSize = LittleEndianDword(header + kEntryBinsSizeAt);
    const std::uint64_t pageCount = LittleEndianDword(header + kEntryPageCountAt);
    if (entry->size < kEntryHeaderSize || entry->size % kEntryAlignment != 0 ||
        entry->size > log.length - at || entry->binsSize == 0 ||
        entry->binsSize % kHivePageSize != 0 || pageCount > (entry->size - kEntryHeaderSize) / 8) {
        return false;
    }
    if (Marvin32(kHiveLogMarvinSeed, header, kEntryHash2At) !=
            LittleEndianQword(header + kEntryHash2At) ||
        Marvin32(kHiveLogMarvinSeed, header + kEntryHeaderSize, entry->size - kEntryHeaderSize) !=
            LittleEndianQword(header + kEntryHash1At)) {
        return false;
    }
    entry->pages.clear();
    entry->dataSize = 0;
    for (std::uint64_t page = 0; page < pageCount; ++page) {
        const unsigned char* reference = header + kEntryHeaderSize + 8 * page;
        const PageReference next{LittleEndianDword(reference), LittleEndianDword(reference + 4)};
        if (next.size == 0 || next.offset % kHivePageSize != 0 || next.size % kHivePageSize != 0 ||
            static_cast<std::uint64_t>(next.offset) + next.size > entry->binsSize) {
            return false;
        }
        entry->dataSize += next.size;
        entry->pages.push_back(next);
    }
    entry->dataAt = kEntryHeaderSize + 8 * static_cast<std::size_t>(pageCount);
    return entry->dataSize <= entry->size - entry->dataAt;
}

// False, with nothing planned, when the entry grows the hive beyond its own pages: the new room
// could hold no valid bin, and an entry must not make the image larger than its bytes.
bool PlanLogEntry(const HiveLogBytes& log, const LogEntry& entry, HiveReplayPlan* plan) {
    const std::size_t wanted = kHiveBinsStart + entry.binsSize;
    if (plan->length < wanted) {
        std::uint64_t pagesEnd = 0;
        for (const PageReference& page : entry.pages) {
            pagesEnd = std::max<std::uint64_t>(pagesEnd, std::uint64_t{page.offset} + page.size);
        }
        if (pagesEnd != entry.binsSize || wanted - plan->length > entry.dataSize) {
            return false;
        }
        plan->length = wanted;
    }
    std::size_t from = entry.at + entry.dataAt;
    for (const PageReference& page : entry.pages) {
        plan->writes.push_back(
            HivePageWrite{kHiveBinsStart + page.offset, log.bytes + from, page.size});
        from += page.size;
    }
    return true;
}

struct ChainState {
    bool started;
    std::uint32_t last; // the sequence number of the last entry applied
    LogEntry lastEntry;
    std::uint32_t entries;
};

// Takes the log's entries while each is the one the chain needs next.
void PlanLog(const UsableLog& log, std::uint32_t firstAllowed, HiveReplayPlan* plan,
             ChainState* chain) {
    LogEntry entry;
    for (std::size_t at = kHiveBaseBlockSize; ReadLogEntry(log.bytes, at, &entry);
         at += entry.size) {
        const bool next = chain->started
                              ? entry.sequence == chain->last + 1
                              : entry.sequence >= firstAllowed && entry.sequence == log.sequence;
        if (!next || !PlanLogEntry(log.bytes, entry, plan)) {
            return;
        }
        chain->started = true;
        chain->last = entry.sequence;
        chain->lastEntry = entry;
        ++chain->entries;
    }
}

// The log whose entries are the earlier goes first; Windows swaps the two now and then.
void SortByFirstEntry(std::vector<UsableLog>* logs) {
    for (std::size_t at = 1; at < logs->size(); ++at) {
        for (std::size_t back = at; back > 0 && (*logs)[back].sequence < (*logs)[back - 1].sequence;
             --back) {
            std::swap((*logs)[back], (*logs)[back - 1]);
        }
    }
}

void PlanIncomplete(const std::string& problem, HiveReplayPlan* plan) {
    plan->outcome = HiveReplay{HiveReplayResult::Incomplete, 0, 0, problem};
    plan->writes.clear();
}

} // namespace

void PlanHiveReplay(const unsigned char* baseBlock, std::size_t hiveLength,
                    const HiveLogBytes* logs, std::size_t logCount, HiveReplayPlan* plan) {
    plan->outcome = HiveReplay{HiveReplayResult::Clean, 0, 0, ""};
    plan->length = hiveLength;
    plan->writes.clear();
    const HiveBaseBlock primary = ReadHiveBaseBlock(baseBlock, hiveLength);
    // A damaged base block is left to the reader, which refuses it.
    if (!primary.valid || primary.primarySequence == primary.secondarySequence) {
        return;
    }
    std::vector<UsableLog> usable;
    bool oldFormat = false;
    for (std::size_t at = 0; at < logCount; ++at) {
        const UsableLog judged = JudgeLog(logs[at]);
        oldFormat = oldFormat || judged.format == LogFormat::DirtyVector;
        if (judged.format == LogFormat::Entries) {
            usable.push_back(judged);
        }
    }
    if (usable.empty()) {
        PlanIncomplete(oldFormat ? "its transaction log is of the format of Windows 8 and "
                                   "earlier, which this program does not replay"
                                 : "it has no usable transaction log beside it",
                       plan);
        return;
    }
    SortByFirstEntry(&usable);
    ChainState chain{false, 0, LogEntry{}, 0};
    for (const UsableLog& log : usable) {
        PlanLog(log, primary.secondarySequence, plan, &chain);
    }
    if (!chain.started) {
        PlanIncomplete("no entry of its transaction logs follows on from the hive", plan);
        return;
    }
    unsigned char* block = plan->baseBlock;
    std::memcpy(block, baseBlock, kHiveBaseBlockSize);
    PutLittleEndianDword(block + kHivePrimarySequenceAt, chain.last);
    PutLittleEndianDword(block + kHiveSecondarySequenceAt, chain.last);
    PutLittleEndianDword(block + kHiveBinsSizeAt, chain.lastEntry.binsSize);
    PutLittleEndianDword(block + kHiveFlagsAt, (LittleEndianDword(block + kHiveFlagsAt) & ~1u) |
                                                   (chain.lastEntry.flags & 1u));
    SealHiveBaseBlock(block);
    plan->binsSize = chain.lastEntry.binsSize;
    plan->outcome = HiveReplay{HiveReplayResult::Replayed, chain.entries, chain.last, ""};
}
