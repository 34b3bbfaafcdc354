// What the audit holds of each IPoIB adapter, and of the whole audit: the plan of a silent fix
// run with the given -d mask, adapter by adapter, store by store.
#pragma once

#include "audit/live_adapter.h"
#include "audit/live_interfaces.h"
#include "audit/mac_address.h"
#include "guid/guid_mask.h"
#include "guid/port_guid.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum AuditState {
    kStateOk,           // a silent fix would change nothing
    kStateWouldWrite,   // no mask stored, or stored text that is no mask
    kStateWouldReplace, // a different valid mask is stored
    kStateNoInstance,   // the adapter's network instance is missing
};

enum GuidClass {
    kClassNone, // no instance, so no GUID
    kClassKnown,
    kClassWorkaround,
    kClassUnrecognized,
};

enum StoredMaskKind {
    kStoredAbsent,
    kStoredMask,    // decimal text of a valid mask, as a fix writes it
    kStoredNotMask, // any other text
};

// What an interactive fix (-f) would do.
enum FixAction {
    kFixNone, // no instance: the adapter is not fixed
    kFixWritesPredefined,
    kFixNothingToFix,
    kFixPrompts,
};

struct AuditRecord {
    std::size_t store = 0; // index into AuditReport::stores
    // The registry's text, as UTF-8: a fleet's records are held until the report.
    std::string subkey;
    std::string driverDesc; // empty when absent
    std::string instanceId; // "NetCfgInstanceId"; empty when it cannot be read
    std::string connectionName;
    PortGuid guid = 0;
    GuidClass guidClass = kClassNone;
    GuidMask predefinedMask = 0x00; // known or work-around mask (0x00: nothing to write)
    StoredMaskKind storedKind = kStoredAbsent;
    std::uint32_t storedType = 0; // the stored value's registry type (REG_SZ is 1); 0: absent
    std::string storedText;
    GuidMask storedMask = 0x00;
    bool silentFixWrites = false;
    GuidMask silentFixMask = 0x00;
    bool maskFromArgument = false; // the silent fix writes the -d mask: the address depends on it
    FixAction fixAction = kFixNone;
    AuditState state = kStateNoInstance;
    DerivedAddress afterFix; // not derived: no instance, or the driver's built-in mapping
    DerivedAddress stored;   // from the stored mask, where one is stored
    LiveAdapter live;        // the "NetworkAddress" override, and the live host's facts
};

enum FindingKind {
    kMacCollision,      // conflict: different port GUIDs, one address
    kGuidOnTwoHosts,    // conflict
    kGroupAddress,      // conflict
    kGuidTwiceOnHost,   // warning
    kZeroGuid,          // warning
    kNeighborCollision, // conflict: neighbors with one link-layer address, or with the host's own
    kLiveCollision,     // conflict: two adapters whose current addresses are equal
};

struct Finding {
    FindingKind kind = kZeroGuid;
    std::vector<std::size_t> records; // indexes into AuditReport::records
    PortGuid guid = 0;                // the GUID of the GUID findings
    MacAddress address;               // the address of the address findings
    AddressReading reading = kBothReadings;
    std::vector<std::string> neighbors; // the neighbor IP addresses of a neighbor collision
};

// As UTF-8, as the records' text.
struct StoreOutcome {
    std::string label;
    bool read = false;
    std::string problem; // why it could not be read
    std::string warning; // read, but maybe incomplete (a dirty hive without its logs): why
    LiveAvailability live = kLiveNoHost; // a live host (Windows) or a store file
    std::vector<LiveNeighbor> neighbors; // of the store's IPoIB interfaces
};

struct AuditReport {
    GuidMask silentMask = 0x00; // the -d mask, as the command line gives it
    std::vector<StoreOutcome> stores;
    std::vector<AuditRecord> records;
    std::vector<Finding> conflicts;
    std::vector<Finding> warnings;
    std::size_t maskDependentCount = 0; // adapters whose address depends on the -d mask
    std::vector<GuidMask> suggestedMasks;
    // Of those, the ones whose address the first suggested mask changes (0 with none).
    std::size_t firstSuggestionChanges = 0;
};

bool IsConflict(FindingKind kind);

// The audit's exit status: kExitSuccess when all is ok, else the most serious of
// kAuditChangesDue (a fix would change something, an instance is missing or a restart is
// pending), kAuditConflicts and kAuditTrouble (a store that could not be read); bad usage never
// gets this far.
int AuditStatus(const AuditReport& report);

struct AuditCounts {
    std::size_t unreadable = 0;
    std::size_t byState[4] = {0, 0, 0, 0};
    std::size_t pendingRestart = 0; // adapters whose stored mask is not in effect yet
};

AuditCounts CountAudit(const AuditReport& report);

// The names both reports give: "ok", "would-write", "would-replace", "no-instance"; the
// findings' kinds; "lsb-first", "msb-first" (nullptr for both readings); "known", "workaround",
// "unrecognized" (nullptr for none); "write-predefined", "nothing-to-fix", "prompt" (nullptr
// for none).
const char* StateName(AuditState state);
const char* FindingName(FindingKind kind);
const char* ReadingName(AddressReading reading);
const char* ClassName(GuidClass guidClass);
const char* FixActionName(FixAction action);
