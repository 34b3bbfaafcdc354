#include "guid/port_guid.h"

#include "cli/console.h"
#include "guid/prefix_tables.h"

std::uint8_t PortGuidByte(PortGuid guid, int index) {
    return static_cast<std::uint8_t>((guid >> (8 * index)) & 0xFFu);
}

GuidClassification ClassifyPortGuid(PortGuid guid) {
    GuidClassification result = {false, 0x00, 0x00};
    if (PortGuidByte(guid, 0) != 0x00) {
        return result;
    }
    const PrefixLookup known = LookupPrefixMask(KnownPrefixTable, guid);
    if (known.found) {
        result.known = true;
        result.knownMask = known.mask;
    }
    const PrefixLookup workaround = LookupPrefixMask(WorkaroundPrefixTable, guid);
    if (workaround.found) {
        result.workaroundMask = workaround.mask;
    }
    return result;
}

void PrintPortGuid(PortGuid guid) {
    PrintText(L"0x");
    for (int index = 0; index < 8; ++index) {
        PrintMessage(L"%02x", PortGuidByte(guid, index));
    }
}
