// Port GUIDs as the tool reads them from instance identifiers: a little-endian 64-bit number
// whose byte 0 (the least significant) comes first in print and in every comparison.
#pragma once

#include "guid/guid_mask.h"

#include <cstdint>

typedef std::uint64_t PortGuid;

std::uint8_t PortGuidByte(PortGuid guid, int index);

struct GuidClassification {
    bool known;
    GuidMask knownMask;
    GuidMask workaroundMask;
};

// Looks the vendor prefix up in both tables; a GUID whose byte 0 is not 0x00 is in neither.
GuidClassification ClassifyPortGuid(PortGuid guid);

// Prints "0x" and bytes 0 to 7 as two lower-case hexadecimal digits each, no line feed.
void PrintPortGuid(PortGuid guid);
