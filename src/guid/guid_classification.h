// What the tool knows of a port GUID: whether the driver knows its vendor, and which masks go
// with it.
#pragma once

#include "guid/guid_mask.h"
#include "guid/port_guid.h"

struct GuidClassification {
    bool known;
    GuidMask knownMask;
    GuidMask workaroundMask;
};

// Looks the vendor prefix up in both tables; a GUID whose byte 0 is not 0x00 is in neither.
GuidClassification ClassifyPortGuid(PortGuid guid);
