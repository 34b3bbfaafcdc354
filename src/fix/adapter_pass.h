// The pass over the network adapter class: one report, and maybe one write, per IPoIB adapter.
#pragma once

#include "cli/command_line.h"
#include "fix/write_failure.h"
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
    WriteFailureLog failuresTold;
};

PassCounters CheckAndFixAdapters(const RunSettings& settings);

// The first record whose instanceName equals the identifier exactly, or nullptr.
const IpoibInstance* FindInstance(const InstanceTable* table, const wchar_t* netCfgInstanceId);

// Writes "GUIDMask" into the adapter's subkey below the class key, opening it for writing
// just for this. ERROR_SUCCESS, or the error code of the registry call that failed.
LSTATUS WriteGuidMask(HKEY classKey, const wchar_t* adapterName, GuidMask mask);

// Counts a failed write and says why on standard error, once for each cause in the pass.
void NoteFailedWrite(LSTATUS status, PassState* state);
