// What the live host says of each adapter: its interface (matched by the GUID of its
// "NetCfgInstanceId"), the state the registry's mask explains, whether a restart is needed, and
// the collisions the host's neighbor tables and current addresses show. Pure rules over facts.
#pragma once

#include "audit/audit_record.h"
#include "audit/live_interfaces.h"

#include <cstddef>
#include <string>
#include <vector>

enum LiveState {
    kLiveNone,           // no live host (a store file) and no "NetworkAddress": nothing to say
    kLiveUnknown,        // the interface table could not be read
    kLiveInEffect,       // the current address is the stored mask's
    kLivePendingRestart, // a valid mask is stored, the current address is not its address
    kLiveNotPresent,     // no interface for the instance, or one whose hardware is not present
    kLiveOverridden,     // a "NetworkAddress" value decides the address, not the mask
    kLiveBuiltIn,        // no mask stored, a known GUID the driver maps on its own
    kLiveNoMask,         // no mask stored, the address the predefined or default mask gives
    kLiveUnexplained,    // an address that none of the above explains
};

// The mask the driver is taken to use for an adapter with no mask stored and no predefined one.
const GuidMask kDefaultDriverMask = 0xE7;

struct LiveAdapter {
    std::string networkAddress; // the "NetworkAddress" value; empty: none (every store)
    bool interfaceFound;
    LiveInterface interfaceFacts; // when found
    LiveState state;
    AddressReading reading;  // the reading of a non-symmetric mask that the address settled
    DerivedAddress expected; // the address the mask in question gives (stored, else predefined)
    bool restartNeeded;
};

// The facts alone: the override and, where the host is live, the interface of the record's
// "NetCfgInstanceId" (compared as a GUID). The verdict is JudgeLiveAdapter's.
LiveAdapter LiveFactsOf(const AuditRecord& record, const std::string& networkAddress,
                        const LiveTables& tables);

// Fills state, reading, expected and restartNeeded from the record and its live facts.
void JudgeLiveAdapter(const AuditRecord& record, LiveAvailability availability, LiveAdapter* live);

// A silent fix changes the stored mask (the driver reads it when the adapter starts), or the
// stored mask is not in effect; an interface that is not present reads its mask when enabled.
bool IsRestartNeeded(const AuditRecord& record, const LiveAdapter& live);

enum LiveFindingKind {
    kNeighborCollision, // neighbors with one link-layer address, or with this host's own
    kLiveCollision,     // two adapters whose current addresses are equal
};

struct LiveFinding {
    LiveFindingKind kind;
    std::vector<std::size_t> adapters;  // indexes into the adapters given
    MacAddress address;                 // the link-layer address they share
    std::vector<std::string> neighbors; // the neighbor IP addresses named, sorted
};

// On the neighbor tables of one store's IPoIB interfaces (live[i] holds the live facts of
// records[i]), per interface and address family: two or more neighbor IP addresses with one
// link-layer address, or a neighbor with one of the store's own current addresses. Group,
// zero, incomplete and unreachable entries take no part. The findings name records' indexes.
std::vector<LiveFinding> FindNeighborCollisions(const std::vector<AuditRecord>& records,
                                                const std::vector<LiveAdapter>& live,
                                                std::size_t store,
                                                const std::vector<LiveNeighbor>& neighbors);

// Across every store: two or more present interfaces with one current address (one interface
// that two adapter keys of a store name counts once).
std::vector<LiveFinding> FindLiveCollisions(const std::vector<AuditRecord>& records,
                                            const std::vector<LiveAdapter>& live);

// "in-effect", "pending-restart", "not-present", "overridden", "built-in", "no-mask",
// "unexplained", "unknown"; nullptr for none.
const char* LiveStateName(LiveState state);

const char* LiveFindingName(LiveFindingKind kind);

// A 6-byte link address as a MAC address; false for any other length.
bool AsMacAddress(const LinkAddress& link, MacAddress* address);
