// The vendor-prefix tables built into the tool and their lookup. A prefix is bytes 0 to 2 of
// a port GUID; only GUIDs whose byte 0 is 0x00 are looked up, so entries hold bytes 1 and 2.
#pragma once

#include "guid/guid_mask.h"
#include "guid/port_guid.h"

struct PrefixMaskEntry {
    std::uint8_t prefixByte1;
    std::uint8_t prefixByte2;
    GuidMask mask;
};

// Both tables end with an entry whose two prefix bytes are 0x00.
extern const PrefixMaskEntry KnownPrefixTable[];
extern const PrefixMaskEntry WorkaroundPrefixTable[];

struct PrefixLookup {
    bool found;
    GuidMask mask;
};

// The first entry whose prefix bytes equal bytes 1 and 2 of the GUID.
PrefixLookup LookupPrefixMask(const PrefixMaskEntry* table, PortGuid guid);
