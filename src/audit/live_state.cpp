#include "audit/live_state.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

namespace {

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

std::string GuidKey(const InterfaceGuid& guid) {
    return std::string(guid.bytes, guid.bytes + sizeof guid.bytes);
}

// The store's records that have an interface, the first of each interface only: two adapter
// keys that name one interface are one interface.
std::vector<std::size_t> StoreInterfaces(const std::vector<AuditRecord>& records,
                                         std::size_t store) {
    std::vector<std::size_t> found;
    std::set<std::string> seen;
    for (std::size_t index = 0; index < records.size(); ++index) {
        const LiveAdapter& live = records[index].live;
        if (records[index].store == store && live.interfaceFound &&
            seen.insert(GuidKey(live.interfaceFacts.guid)).second) {
            found.push_back(index);
        }
    }
    return found;
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

// The neighbors of one interface, by family and link-layer address.
typedef std::map<std::pair<int, std::uint64_t>, std::set<std::string>> NeighborsByLink;

NeighborsByLink NeighborsOf(const InterfaceGuid& interfaceGuid,
                            const std::vector<LiveNeighbor>& neighbors) {
    NeighborsByLink byLink;
    for (const LiveNeighbor& neighbor : neighbors) {
        MacAddress link;
        if (TakesPart(neighbor, &link) &&
            SameInterfaceGuid(neighbor.interfaceGuid, interfaceGuid)) {
            byLink[{neighbor.family, AddressNumber(link)}].insert(neighbor.address);
        }
    }
    return byLink;
}

void InterfaceCollisions(const std::vector<AuditRecord>& records,
                         const std::vector<std::size_t>& interfaces, std::size_t adapter,
                         const std::vector<LiveNeighbor>& neighbors,
                         std::vector<Finding>* findings) {
    const NeighborsByLink byLink =
        NeighborsOf(records[adapter].live.interfaceFacts.guid, neighbors);
    for (const auto& entry : byLink) {
        std::vector<std::size_t> named;
        for (std::size_t owner : interfaces) {
            MacAddress current;
            if (CurrentAddress(records[owner].live, &current) &&
                AddressNumber(current) == entry.first.second) {
                named.push_back(owner);
            }
        }
        if (entry.second.size() < 2 && named.empty()) {
            continue;
        }
        named.push_back(adapter);
        std::sort(named.begin(), named.end());
        named.erase(std::unique(named.begin(), named.end()), named.end());
        findings->push_back(LiveFinding(kNeighborCollision, named, entry.first.second));
        findings->back().neighbors.assign(entry.second.begin(), entry.second.end());
    }
}

} // namespace

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
    if (neighbors.empty()) {
        return findings;
    }
    const std::vector<std::size_t> interfaces = StoreInterfaces(records, store);
    for (std::size_t adapter : interfaces) {
        InterfaceCollisions(records, interfaces, adapter, neighbors, &findings);
    }
    return findings;
}

std::vector<Finding> FindLiveCollisions(const std::vector<AuditRecord>& records) {
    std::map<std::uint64_t, std::vector<std::size_t>> byAddress;
    std::set<std::pair<std::size_t, std::string>> seen;
    for (std::size_t index = 0; index < records.size(); ++index) {
        MacAddress current;
        const AuditRecord& record = records[index];
        if (CurrentAddress(record.live, &current) &&
            seen.insert({record.store, GuidKey(record.live.interfaceFacts.guid)}).second) {
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
