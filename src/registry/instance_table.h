// The IPoIB network instances of the machine, each with its port GUID already classified.
// One table per process: filled once before the adapter pass, read by it, never freed.
#pragma once

#include "guid/guid_mask.h"
#include "guid/port_guid.h"

#include <cstddef>
#include <cstdint>

struct IpoibInstance {
    wchar_t instanceName[256]; // the instance's subkey name, which is its NetCfgInstanceId
    PortGuid portGuid;         // 0 when nothing converts
    std::uint8_t known;        // 1 when the vendor prefix is in the known table
    GuidMask knownMask;
    GuidMask workaroundMask;
};

struct InstanceTable {
    IpoibInstance* records;
    std::size_t count;
};

extern const wchar_t NetworkInstancesKey[];

// Walks the network instances key and fills the process's table; prints nothing. When the key
// cannot be read the table is left empty.
void CollectIpoibInstances();

const InstanceTable* ProcessInstanceTable();
