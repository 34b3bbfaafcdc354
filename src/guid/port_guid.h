// Port GUIDs as the tool reads them from instance identifiers: a little-endian 64-bit number
// whose byte 0 (the least significant) comes first in print and in every comparison.
#pragma once

#include <cstdint>

typedef std::uint64_t PortGuid;

std::uint8_t PortGuidByte(PortGuid guid, int index);

// Prints "0x" and bytes 0 to 7 as two lower-case hexadecimal digits each, no line feed.
void PrintPortGuid(PortGuid guid);
