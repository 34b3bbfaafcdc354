// The pass over the network adapter class: one report, and maybe one write, per IPoIB adapter.
#pragma once

#include "cli/command_line.h"
#include "registry/instance_table.h"
#include "registry/registry_api.h"

#include <cstddef>

extern const wchar_t AdapterClassKey[];

struct PassCounters {
    unsigned ipoibAdaptersSeen; // adapters whose ComponentId matched
    unsigned changesMade;       // writes reported to the user as successful
    unsigned failedWrites;      // every failed "GUIDMask" write, in either mode
};

// Also the state the pass carries from one adapter to the next.
struct PassState {
    RunSettings settings;
    PassCounters counters;
    bool inputEnded; // the mask prompt met the end of input: no further prompt reads
};

PassCounters CheckAndFixAdapters(const RunSettings& settings);

// The first record whose instanceName equals the identifier exactly, or nullptr.
const IpoibInstance* FindInstance(const InstanceTable* table, const wchar_t* netCfgInstanceId);

// Writes "GUIDMask" into the adapter's subkey below the class key, opening it for writing
// just for this.
bool WriteGuidMask(HKEY classKey, const wchar_t* adapterName, GuidMask mask);
