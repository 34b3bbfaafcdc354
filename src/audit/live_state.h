// What the live host says of each adapter: its interface (matched by the GUID of its
// "NetCfgInstanceId"), the state the registry's mask explains, whether a restart is needed, and
// the collisions the host's neighbor tables and current addresses show. Pure rules over facts.
#pragma once

#include "audit/audit_record.h"
#include "audit/live_interfaces.h"

#include <cstddef>
#include <string>
#include <vector>

// The mask the driver is taken to use for an adapter with no mask stored and no predefined one.
const GuidMask kDefaultDriverMask = 0xE7;

// Gives the record the interface of its "NetCfgInstanceId" (compared as a GUID), where the host
// is live. The verdict is JudgeLiveAdapter's.
void FindLiveInterface(const LiveTables& tables, AuditRecord* record);

// Fills the record's live state, reading, expected address and restartNeeded from its facts.
void JudgeLiveAdapter(LiveAvailability availability, AuditRecord* record);

// A silent fix changes the stored mask (the driver reads it when the adapter starts), or the
// stored mask is not in effect; an interface that is not present reads its mask when enabled.
bool IsRestartNeeded(const AuditRecord& record);

// On the neighbor tables of one store's IPoIB interfaces, per interface and address family:
// two or more neighbor IP addresses with one link-layer address, or a neighbor with one of the
// store's own current addresses. Group, zero, incomplete and unreachable entries take no part.
std::vector<Finding> FindNeighborCollisions(const std::vector<AuditRecord>& records,
                                            std::size_t store,
                                            const std::vector<LiveNeighbor>& neighbors);

// Across every store: two or more present interfaces with one current address (one interface
// that two adapter keys of a store name counts once).
std::vector<Finding> FindLiveCollisions(const std::vector<AuditRecord>& records);

// "in-effect", "pending-restart", "not-present", "overridden", "built-in", "no-mask",
// "unexplained", "unknown"; nullptr for none.
const char* LiveStateName(LiveState state);

// A 6-byte link address as a MAC address; false for any other length.
bool AsMacAddress(const LinkAddress& link, MacAddress* address);
