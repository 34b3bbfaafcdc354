#include "guid/port_guid.h"

#include "console/console.h"

std::uint8_t PortGuidByte(PortGuid guid, int index) {
    return static_cast<std::uint8_t>((guid >> (8 * index)) & 0xFFu);
}

void PrintPortGuid(PortGuid guid) {
    PrintText(L"0x");
    for (int index = 0; index < 8; ++index) {
        PrintMessage(L"%02x", PortGuidByte(guid, index));
    }
}
