#include "audit/conflicts.h"

#include "audit/live_audit.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>
#include <tuple>

namespace {

// One adapter's address under one reading, ready to be sorted.
struct AddressEntry {
    std::uint64_t address;
    PortGuid guid;
    std::size_t record;
    bool symmetric;
    bool dependent; // derived from the candidate mask being tried
};

bool EntryBefore(const AddressEntry& left, const AddressEntry& right) {
    return std::tie(left.address, left.guid, left.record) <
           std::tie(right.address, right.guid, right.record);
}

// A zero GUID converted nothing: it is warned of, and takes no part in the GUID and address
// rules, where every such adapter would meet every other.
bool TakesPart(const AuditRecord& record) {
    return record.guidClass != kClassNone && record.guid != 0;
}

// Where the live address settled which reading a non-symmetric mask has on the adapter's
// host, the adapter's addresses under the other reading take no part.
bool ReadingApplies(const AuditRecord& record, bool msbFirst) {
    return record.live.reading == kBothReadings ||
           record.live.reading == (msbFirst ? kMsbFirst : kLsbFirst);
}

void AddEntry(const DerivedAddress& derived, bool msbFirst, PortGuid guid, std::size_t record,
              bool dependent, std::vector<AddressEntry>* entries) {
    const MacAddress& address = msbFirst ? derived.msbFirst : derived.lsbFirst;
    entries->push_back(
        AddressEntry{AddressNumber(address), guid, record, derived.symmetric, dependent});
}

struct EntryRun {
    std::size_t start;
    std::size_t end;
};

// Sorts the entries, then gives the runs of one address that hold more than one port GUID.
std::vector<EntryRun> CollidingRuns(std::vector<AddressEntry>* entries) {
    std::sort(entries->begin(), entries->end(), EntryBefore);
    std::vector<EntryRun> runs;
    std::size_t start = 0;
    while (start < entries->size()) {
        std::size_t end = start + 1;
        while (end < entries->size() && (*entries)[end].address == (*entries)[start].address) {
            ++end;
        }
        if ((*entries)[start].guid != (*entries)[end - 1].guid) {
            runs.push_back(EntryRun{start, end});
        }
        start = end;
    }
    return runs;
}

void FindCollisions(AuditReport* report) {
    std::set<std::pair<std::uint64_t, std::vector<std::size_t>>> told;
    for (int reading = 0; reading < 2; ++reading) {
        std::vector<AddressEntry> entries;
        for (std::size_t index = 0; index < report->records.size(); ++index) {
            const AuditRecord& record = report->records[index];
            if (TakesPart(record) && record.afterFix.derived &&
                ReadingApplies(record, reading == 1)) {
                AddEntry(record.afterFix, reading == 1, record.guid, index, false, &entries);
            }
        }
        for (const EntryRun& run : CollidingRuns(&entries)) {
            Finding finding = {kMacCollision, {}, 0, AddressOfNumber(entries[run.start].address),
                               kBothReadings, {}};
            for (std::size_t at = run.start; at < run.end; ++at) {
                finding.records.push_back(entries[at].record);
                if (!entries[at].symmetric) {
                    finding.reading = reading == 1 ? kMsbFirst : kLsbFirst;
                }
            }
            std::sort(finding.records.begin(), finding.records.end());
            if (told.insert({entries[run.start].address, finding.records}).second) {
                report->conflicts.push_back(finding);
            }
        }
    }
}

void FindGuidFindings(AuditReport* report) {
    std::map<PortGuid, std::vector<std::size_t>> byGuid;
    for (std::size_t index = 0; index < report->records.size(); ++index) {
        const AuditRecord& record = report->records[index];
        if (TakesPart(record)) {
            byGuid[record.guid].push_back(index);
        } else if (record.guidClass != kClassNone) {
            report->warnings.push_back(Finding{kZeroGuid, {index}, 0, {}, kBothReadings, {}});
        }
    }
    for (const auto& entry : byGuid) {
        std::map<std::size_t, std::vector<std::size_t>> byStore;
        for (std::size_t index : entry.second) {
            byStore[report->records[index].store].push_back(index);
        }
        if (byStore.size() > 1) {
            report->conflicts.push_back(
                Finding{kGuidOnTwoHosts, entry.second, entry.first, {}, kBothReadings, {}});
        }
        for (const auto& store : byStore) {
            if (store.second.size() > 1) {
                report->warnings.push_back(
                    Finding{kGuidTwiceOnHost, store.second, entry.first, {}, kBothReadings, {}});
            }
        }
    }
}

void FindGroupAddresses(AuditReport* report) {
    for (std::size_t index = 0; index < report->records.size(); ++index) {
        const AuditRecord& record = report->records[index];
        const DerivedAddress& derived = record.afterFix;
        const bool lsb = IsGroupAddress(derived.lsbFirst) && ReadingApplies(record, false);
        const bool msb = IsGroupAddress(derived.msbFirst) && ReadingApplies(record, true);
        if (!TakesPart(record) || !derived.derived || (!lsb && !msb)) {
            continue;
        }
        const AddressReading reading = derived.symmetric ? kBothReadings
                                       : lsb             ? kLsbFirst
                                                         : kMsbFirst;
        report->conflicts.push_back(Finding{
            kGroupAddress, {index}, 0, lsb ? derived.lsbFirst : derived.msbFirst, reading, {}});
    }
}

// Under the candidate mask, no two adapters with different port GUIDs share an address where
// one of them takes the -d mask, under either reading, and none of those is a group address.
bool KeepsDistinct(const AuditReport& report, GuidMask candidate) {
    for (int reading = 0; reading < 2; ++reading) {
        std::vector<AddressEntry> entries;
        for (std::size_t index = 0; index < report.records.size(); ++index) {
            const AuditRecord& record = report.records[index];
            if (!TakesPart(record) || !record.afterFix.derived ||
                !ReadingApplies(record, reading == 1)) {
                continue;
            }
            const bool dependent = record.maskFromArgument;
            const DerivedAddress derived =
                dependent ? DeriveAddress(record.guid, candidate) : record.afterFix;
            if (dependent && ((IsGroupAddress(derived.lsbFirst) && ReadingApplies(record, false)) ||
                              (IsGroupAddress(derived.msbFirst) && ReadingApplies(record, true)))) {
                return false;
            }
            AddEntry(derived, reading == 1, record.guid, index, dependent, &entries);
        }
        for (const EntryRun& run : CollidingRuns(&entries)) {
            for (std::size_t at = run.start; at < run.end; ++at) {
                if (entries[at].dependent) {
                    return false;
                }
            }
        }
    }
    return true;
}

bool SameDerived(const DerivedAddress& left, const DerivedAddress& right) {
    return AddressNumber(left.lsbFirst) == AddressNumber(right.lsbFirst) &&
           AddressNumber(left.msbFirst) == AddressNumber(right.msbFirst);
}

// Taking a suggestion instead of the -d mask moves every address that mask gave: each host
// then needs its adapters restarted, and its neighbours learn the new addresses.
std::size_t ChangedBy(const AuditReport& report, GuidMask mask) {
    std::size_t changed = 0;
    for (const AuditRecord& record : report.records) {
        if (TakesPart(record) && record.maskFromArgument &&
            !SameDerived(DeriveAddress(record.guid, mask), record.afterFix)) {
            ++changed;
        }
    }
    return changed;
}

void SuggestMasks(AuditReport* report) {
    report->maskDependentCount = 0;
    report->firstSuggestionChanges = 0;
    for (const AuditRecord& record : report->records) {
        if (TakesPart(record) && record.maskFromArgument) {
            ++report->maskDependentCount;
        }
    }
    if (report->maskDependentCount == 0) {
        return;
    }
    for (std::size_t index = 0; index < kMaskCandidateCount; ++index) {
        if (KeepsDistinct(*report, kMaskCandidates[index])) {
            report->suggestedMasks.push_back(kMaskCandidates[index]);
        }
    }
    if (!report->suggestedMasks.empty()) {
        report->firstSuggestionChanges = ChangedBy(*report, report->suggestedMasks[0]);
    }
}

} // namespace

void FindConflicts(AuditReport* report) {
    report->conflicts.clear();
    report->warnings.clear();
    report->suggestedMasks.clear();
    JudgeLiveStates(report);
    FindCollisions(report);
    FindGuidFindings(report);
    FindGroupAddresses(report);
    FindLiveConflicts(report);
    SuggestMasks(report);
}
