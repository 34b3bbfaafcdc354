#include "audit/live_state.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

namespace {

std::uint64_t AddressNumber(const MacAddress& address) {
    std::uint64_t number = 0;
    for (std::uint8_t byte : address.bytes) {
        number = (number << 8) | byte;
    }
    return number;
}

MacAddress AddressOfNumber(std::uint64_t number) {
    MacAddress address;
    for (int index = 5; index >= 0; --index) {
        address.bytes[index] = static_cast<std::uint8_t>(number & 0xFFu);
        number >>= 8;
    }
    return address;
}

// An address the present interface has now; false when there is none to compare.
bool CurrentAddress(const LiveAdapter& live, MacAddress* address) {
    return live.interfaceFound && live.interfaceFacts.status != kLinkNotPresent &&
           AsMacAddress(live.interfaceFacts.current, address) && AddressNumber(*address) != 0;
}

// Whether current is expected's address under a reading, and under which.
bool Matches(const MacAddress& current, const DerivedAddress& expected, AddressReading* reading) {
    const bool lsb = AddressNumber(current) == AddressNumber(expected.lsbFirst);
    const bool msb = AddressNumber(current) == AddressNumber(expected.msbFirst);
    *reading = lsb == msb ? kBothReadings : lsb ? kLsbFirst : kMsbFirst;
    return lsb || msb;
}

// The state of an adapter whose interface is present and whose GUID is known.
LiveState StateOfAddress(const AuditRecord& record, const MacAddress& current, LiveAdapter* live) {
    if (record.storedKind == kStoredMask) {
        live->expected = DeriveAddress(record.guid, record.storedMask);
        return Matches(current, live->expected, &live->reading) ? kLiveInEffect
                                                                : kLivePendingRestart;
    }
    if (record.guidClass == kClassKnown && record.predefinedMask == 0x00) {
        return kLiveBuiltIn;
    }
    const GuidMask mask =
        record.predefinedMask != 0x00 ? record.predefinedMask : kDefaultDriverMask;
    live->expected = DeriveAddress(record.guid, mask);
    return Matches(current, live->expected, &live->reading) ? kLiveNoMask : kLiveUnexplained;
}

LiveState StateOf(const AuditRecord& record, LiveAvailability availability, LiveAdapter* live) {
    if (!live->networkAddress.empty()) {
        return kLiveOverridden;
    }
    if (availability != kLiveRead) {
        return availability == kLiveFailed ? kLiveUnknown : kLiveNone;
    }
    if (!live->interfaceFound || live->interfaceFacts.status == kLinkNotPresent) {
        return kLiveNotPresent;
    }
    MacAddress current;
    if (record.guidClass == kClassNone || !AsMacAddress(live->interfaceFacts.current, &current)) {
        return kLiveUnexplained;
    }
    return StateOfAddress(record, current, live);
}

// A neighbor entry that can tell one peer from another.
bool TakesPart(const LiveNeighbor& neighbor, MacAddress* link) {
    return neighbor.state != kNeighborIncomplete && neighbor.state != kNeighborUnreachable &&
           AsMacAddress(neighbor.link, link) && !IsGroupAddress(*link) && AddressNumber(*link) != 0;
}

// Whether an earlier record of the store names the same interface.
bool SeenBefore(const std::vector<AuditRecord>& records, std::size_t index) {
    const LiveAdapter& live = records[index].live;
    for (std::size_t earlier = 0; earlier < index; ++earlier) {
        if (records[earlier].store == records[index].store &&
            records[earlier].live.interfaceFound &&
            SameInterfaceGuid(records[earlier].live.interfaceFacts.guid,
                              live.interfaceFacts.guid)) {
            return true;
        }
    }
    return false;
}

// The store's adapters (the first of each interface) whose current address is address.
std::vector<std::size_t> Owners(const std::vector<AuditRecord>& records, std::size_t store,
                                std::uint64_t address) {
    std::vector<std::size_t> owners;
    for (std::size_t index = 0; index < records.size(); ++index) {
        MacAddress current;
        if (records[index].store == store && CurrentAddress(records[index].live, &current) &&
            AddressNumber(current) == address && !SeenBefore(records, index)) {
            owners.push_back(index);
        }
    }
    return owners;
}

Finding LiveFinding(FindingKind kind, const std::vector<std::size_t>& records,
                    std::uint64_t address) {
    Finding finding;
    finding.kind = kind;
    finding.records = records;
    finding.guid = 0;
    finding.address = AddressOfNumber(address);
    finding.reading = kBothReadings;
    return finding;
}

void InterfaceCollisions(const std::vector<AuditRecord>& records, std::size_t adapter,
                         const std::vector<LiveNeighbor>& neighbors,
                         std::vector<Finding>* findings) {
    const InterfaceGuid& interfaceGuid = records[adapter].live.interfaceFacts.guid;
    for (int family : {4, 6}) {
        std::map<std::uint64_t, std::set<std::string>> byLink;
        for (const LiveNeighbor& neighbor : neighbors) {
            MacAddress link;
            if (neighbor.family == family && TakesPart(neighbor, &link) &&
                SameInterfaceGuid(neighbor.interfaceGuid, interfaceGuid)) {
                byLink[AddressNumber(link)].insert(neighbor.address);
            }
        }
        for (const auto& entry : byLink) {
            std::vector<std::size_t> named = Owners(records, records[adapter].store, entry.first);
            if (entry.second.size() < 2 && named.empty()) {
                continue;
            }
            named.push_back(adapter);
            std::sort(named.begin(), named.end());
            named.erase(std::unique(named.begin(), named.end()), named.end());
            findings->push_back(LiveFinding(kNeighborCollision, named, entry.first));
            findings->back().neighbors.assign(entry.second.begin(), entry.second.end());
        }
    }
}

} // namespace

LiveAdapter NoLiveFacts() {
    LiveAdapter live;
    live.interfaceFound = false;
    live.interfaceFacts = LiveInterface{{{0}}, {0, {0}}, {0, {0}}, kLinkUnknown};
    live.state = kLiveNone;
    live.reading = kBothReadings;
    live.expected = NoAddress();
    live.restartNeeded = false;
    return live;
}

bool AsMacAddress(const LinkAddress& link, MacAddress* address) {
    if (link.length != 6) {
        return false;
    }
    std::copy(link.bytes, link.bytes + 6, address->bytes);
    return true;
}

void FindLiveInterface(const LiveTables& tables, AuditRecord* record) {
    InterfaceGuid guid;
    if (tables.availability != kLiveRead || !ParseInterfaceGuid(record->instanceId, &guid)) {
        return;
    }
    for (const LiveInterface& entry : tables.interfaces) {
        if (SameInterfaceGuid(entry.guid, guid)) {
            record->live.interfaceFound = true;
            record->live.interfaceFacts = entry;
            return;
        }
    }
}

void JudgeLiveAdapter(LiveAvailability availability, AuditRecord* record) {
    LiveAdapter& live = record->live;
    live.reading = kBothReadings;
    live.expected = NoAddress();
    live.state = StateOf(*record, availability, &live);
    live.restartNeeded = IsRestartNeeded(*record);
}

bool IsRestartNeeded(const AuditRecord& record) {
    const bool fixChanges = record.state == kStateWouldWrite || record.state == kStateWouldReplace;
    const LiveState state = record.live.state;
    return (fixChanges || state == kLivePendingRestart) && state != kLiveNotPresent;
}

std::vector<Finding> FindNeighborCollisions(const std::vector<AuditRecord>& records,
                                            std::size_t store,
                                            const std::vector<LiveNeighbor>& neighbors) {
    std::vector<Finding> findings;
    for (std::size_t index = 0; index < records.size(); ++index) {
        if (records[index].store == store && records[index].live.interfaceFound &&
            !SeenBefore(records, index)) {
            InterfaceCollisions(records, index, neighbors, &findings);
        }
    }
    return findings;
}

std::vector<Finding> FindLiveCollisions(const std::vector<AuditRecord>& records) {
    std::map<std::uint64_t, std::vector<std::size_t>> byAddress;
    for (std::size_t index = 0; index < records.size(); ++index) {
        MacAddress current;
        if (CurrentAddress(records[index].live, &current) && !SeenBefore(records, index)) {
            byAddress[AddressNumber(current)].push_back(index);
        }
    }
    std::vector<Finding> findings;
    for (const auto& entry : byAddress) {
        if (entry.second.size() > 1) {
            findings.push_back(LiveFinding(kLiveCollision, entry.second, entry.first));
        }
    }
    return findings;
}

const char* LiveStateName(LiveState state) {
    static const char* const names[] = {nullptr,           "unknown",     "in-effect",
                                        "pending-restart", "not-present", "overridden",
                                        "built-in",        "no-mask",     "unexplained"};
    return names[state];
}
