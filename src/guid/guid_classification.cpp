#include "guid/guid_classification.h"

#include "guid/prefix_tables.h"

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
