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
    std::size_t index; // among the logs as they were given
    LogFormat format;
    std::uint32_t sequence; // of its base-block copy, which is that of its first entry
};

UsableLog JudgeLog(const HiveLogBytes& log, std::size_t index) {
    UsableLog judged{log, index, LogFormat::Unusable, 0};
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

// One entry of a log.
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

// The header of the entry at `at`, when Windows' rules take it: the signature, a size that holds
// the header and stays inside the log, both hashes right, a bins size of whole pages. False ends
// the chain as Windows ends it.
bool ReadEntryHeader(const HiveLogBytes& log, std::size_t at, LogEntry* entry) {
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
    if (entry->size < kEntryHeaderSize || entry->size > log.length - at) {
        return false;
    }
    return Marvin32(kHiveLogMarvinSeed, header, kEntryHash2At) ==
               LittleEndianQword(header + kEntryHash2At) &&
           Marvin32(kHiveLogMarvinSeed, header + kEntryHeaderSize,
                    entry->size - kEntryHeaderSize) == LittleEndianQword(header + kEntryHash1At) &&
           entry->binsSize % kHivePageSize == 0;
}

// The pages of an entry whose header Windows takes; null when they hold, else what is wrong:
// rules of this program's own, which Windows does not document.
const char* ReadEntryPages(const HiveLogBytes& log, LogEntry* entry) {
    if (entry->binsSize == 0) {
        return "its hive bins size is 0";
    }
    if (entry->size % kEntryAlignment != 0) {
        return "its size is no whole number of 512-byte sectors";
    }
    const std::uint64_t pageCount = LittleEndianDword(log.bytes + entry->at + kEntryPageCountAt);
    if (pageCount > (entry->size - kEntryHeaderSize) / 8) {
        return "its page references run past its end";
    }
    entry->pages.clear();
    entry->dataSize = 0;
    for (std::uint64_t page = 0; page < pageCount; ++page) {
        const unsigned char* reference = log.bytes + entry->at + kEntryHeaderSize + 8 * page;
        const PageReference next{LittleEndianDword(reference), LittleEndianDword(reference + 4)};
        if (next.size == 0) {
            return "a page of it has a size of 0";
        }
        if (next.offset % kHivePageSize != 0 || next.size % kHivePageSize != 0) {
            return "a page of it is not aligned to 4096 bytes";
        }
        if (static_cast<std::uint64_t>(next.offset) + next.size > entry->binsSize) {
            return "a page of it lies beyond its hive bins size";
        }
        entry->dataSize += next.size;
        entry->pages.push_back(next);
    }
    entry->dataAt = kEntryHeaderSize + 8 * static_cast<std::size_t>(pageCount);
    return entry->dataSize <= entry->size - entry->dataAt ? nullptr : "its pages run past its end";
}

// Null, with the entry's writes planned; else why not, with nothing planned: the entry grows the
// hive beyond its own pages, so the new room could hold no valid bin, and an entry must not make
// the image larger than its bytes.
const char* PlanLogEntry(const HiveLogBytes& log, const LogEntry& entry, HiveReplayPlan* plan) {
    const std::size_t wanted = kHiveBinsStart + entry.binsSize;
    if (plan->length < wanted) {
        std::uint64_t pagesEnd = 0;
        for (const PageReference& page : entry.pages) {
            pagesEnd = std::max<std::uint64_t>(pagesEnd, std::uint64_t{page.offset} + page.size);
        }
        if (pagesEnd != entry.binsSize || wanted - plan->length > entry.dataSize) {
            return "it grows the hive beyond the pages it carries";
        }
        plan->length = wanted;
    }
    std::size_t from = entry.at + entry.dataAt;
    for (const PageReference& page : entry.pages) {
        plan->writes.push_back(
            HivePageWrite{kHiveBinsStart + page.offset, log.bytes + from, page.size});
        from += page.size;
    }
    return nullptr;
}

const HiveDeclinedEntry kNoDeclinedEntry{0, 0, 0, "", 0};

struct ChainState {
    bool started;
    std::uint32_t last; // the sequence number of the last entry applied
    LogEntry lastEntry;
    std::uint32_t entries;
    bool declined;
    HiveDeclinedEntry declinedEntry;
    std::size_t declinedEnd; // where in its log the declined entry ends
};

// Takes the log's entries while each is the one the chain needs next; false, with the declined
// entry noted, at one that is next but is not applied for a reason of this program's own.
bool PlanLog(const UsableLog& log, std::uint32_t firstAllowed, HiveReplayPlan* plan,
             ChainState* chain) {
    LogEntry entry;
    for (std::size_t at = kHiveBaseBlockSize; ReadEntryHeader(log.bytes, at, &entry);
         at += entry.size) {
        const bool next = chain->started
                              ? entry.sequence == chain->last + 1
                              : entry.sequence >= firstAllowed && entry.sequence == log.sequence;
        if (!next) {
            return true;
        }
        const char* reason = ReadEntryPages(log.bytes, &entry);
        if (reason == nullptr) {
            reason = PlanLogEntry(log.bytes, entry, plan);
        }
        if (reason != nullptr) {
            chain->declined = true;
            chain->declinedEntry = HiveDeclinedEntry{log.index, at, entry.sequence, reason, 0};
            chain->declinedEnd = at + entry.size;
            return false;
        }
        chain->started = true;
        chain->last = entry.sequence;
        chain->lastEntry = entry;
        ++chain->entries;
    }
    return true;
}

// The entries Windows' rules would take after the declined one: behind it in its log, then in
// the logs after that one, each going on from the number the chain needs next.
std::uint32_t CountLaterEntries(const std::vector<UsableLog>& logs, std::size_t from,
                                const ChainState& chain) {
    std::uint32_t next = chain.declinedEntry.sequence + 1;
    std::uint32_t later = 0;
    std::size_t at = chain.declinedEnd;
    LogEntry entry;
    for (std::size_t log = from; log < logs.size(); ++log, at = kHiveBaseBlockSize) {
        for (; ReadEntryHeader(logs[log].bytes, at, &entry) && entry.sequence == next;
             at += entry.size) {
            ++next;
            ++later;
        }
    }
    return later;
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
    plan->outcome = HiveReplay{
        HiveReplayResult::Incomplete, 0, 0, problem, HiveChainEnd::LogEnd, kNoDeclinedEntry};
    plan->writes.clear();
}

std::string DeclinedEntryProblem(const HiveDeclinedEntry& entry, const char* logName) {
    std::string problem =
        "entry " + std::to_string(entry.sequence) + " of " +
        (logName == nullptr || *logName == '\0' ? "its transaction log" : std::string(logName)) +
        " is not applied (" + entry.reason + ")";
    if (entry.laterEntries == 1) {
        return problem + ", nor is the entry after it";
    }
    if (entry.laterEntries > 1) {
        return problem + ", nor are the " + std::to_string(entry.laterEntries) +
               " entries after it";
    }
    return problem;
}

} // namespace

void PlanHiveReplay(const unsigned char* baseBlock, std::size_t hiveLength,
                    const HiveLogBytes* logs, std::size_t logCount, HiveReplayPlan* plan) {
    plan->outcome =
        HiveReplay{HiveReplayResult::Clean, 0, 0, "", HiveChainEnd::LogEnd, kNoDeclinedEntry};
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
        const UsableLog judged = JudgeLog(logs[at], at);
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
    ChainState chain{false, 0, LogEntry{}, 0, false, kNoDeclinedEntry, 0};
    for (std::size_t at = 0; at < usable.size() && !chain.declined; ++at) {
        if (!PlanLog(usable[at], primary.secondarySequence, plan, &chain)) {
            chain.declinedEntry.laterEntries = CountLaterEntries(usable, at, chain);
        }
    }
    const HiveChainEnd end = chain.declined ? HiveChainEnd::Declined : HiveChainEnd::LogEnd;
    const std::string problem =
        chain.declined
            ? DeclinedEntryProblem(chain.declinedEntry, logs[chain.declinedEntry.log].name)
            : "";
    if (!chain.started) {
        PlanIncomplete(chain.declined ? problem
                                      : "no entry of its transaction logs follows on from the hive",
                       plan);
        plan->outcome.end = end;
        plan->outcome.declined = chain.declinedEntry;
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
    plan->outcome =
        HiveReplay{chain.declined ? HiveReplayResult::Incomplete : HiveReplayResult::Replayed,
                   chain.entries,
                   chain.last,
                   problem,
                   end,
                   chain.declinedEntry};
}
