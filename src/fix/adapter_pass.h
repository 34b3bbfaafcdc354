// The pass over the network adapter class: one report, and maybe one write, per IPoIB adapter.
#pragma once

#include "fix/pass_state.h"
#include "fix/run_settings.h"
#include "registry/instance_table.h"

extern const wchar_t AdapterClassKey[];

PassCounters CheckAndFixAdapters(const RunSettings& settings);

// An IPoIB adapter's "ComponentId" begins with "iba\\ipoib", case counting.
bool IsIpoibComponentId(const wchar_t* componentId);

// The first record whose instanceName equals the identifier exactly, or nullptr.
const IpoibInstance* FindInstance(const InstanceTable* table, const wchar_t* netCfgInstanceId);
