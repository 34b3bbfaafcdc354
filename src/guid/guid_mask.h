// GUID masks: which six of a port GUID's eight bytes the IPoIB driver takes for the MAC address.
#pragma once

#include <cstdint>

typedef std::uint8_t GuidMask;

// 0 when the low 8 bits of value are a valid mask (exactly six bits set), -1 otherwise.
int IsValidGuidMask(std::uint32_t value);

// The text stored in a "GUIDMask" value: the mask in decimal, zero-terminated.
struct GuidMaskValueText {
    wchar_t characters[4];
    std::uint32_t byteCount; // UTF-16 bytes, the terminating zero included
};

GuidMaskValueText FormatGuidMaskValue(GuidMask mask);
