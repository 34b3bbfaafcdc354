#include "audit/mac_address.h"

#include <cstddef>

const GuidMask kMaskCandidates[] = {
    0xe7, 0xdb, 0xbd, 0x7e, 0x3f, 0x5f, 0x6f, 0x77, 0x7b, 0x7d, 0x9f, 0xaf, 0xb7, 0xbb,
    0xbe, 0xcf, 0xd7, 0xdd, 0xde, 0xeb, 0xed, 0xee, 0xf3, 0xf5, 0xf6, 0xf9, 0xfa, 0xfc,
};
const std::size_t kMaskCandidateCount = sizeof kMaskCandidates / sizeof kMaskCandidates[0];

namespace {

GuidMask ReversedBits(GuidMask mask) {
    unsigned reversed = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
        if ((static_cast<unsigned>(mask) >> bit) & 1u) {
            reversed |= 1u << (7u - bit);
        }
    }
    return static_cast<GuidMask>(reversed);
}

// Bit k of mask keeps byte k; the kept bytes follow one another in the GUID's order.
MacAddress KeptBytes(PortGuid guid, GuidMask mask) {
    MacAddress address;
    std::size_t next = 0;
    for (int index = 0; index < 8 && next < 6; ++index) {
        if ((static_cast<unsigned>(mask) >> static_cast<unsigned>(index)) & 1u) {
            address.bytes[next++] = PortGuidByte(guid, index);
        }
    }
    return address;
}

} // namespace

bool IsSymmetricMask(GuidMask mask) {
    return IsValidGuidMask(mask) == 0 && ReversedBits(mask) == mask;
}

DerivedAddress DeriveAddress(PortGuid guid, GuidMask mask) {
    DerivedAddress address = NoAddress();
    address.derived = true;
    address.mask = mask;
    address.symmetric = IsSymmetricMask(mask);
    address.lsbFirst = KeptBytes(guid, mask);
    address.msbFirst = KeptBytes(guid, ReversedBits(mask));
    return address;
}

DerivedAddress NoAddress() {
    return DerivedAddress();
}

bool IsGroupAddress(const MacAddress& address) {
    return (address.bytes[0] & 1u) != 0;
}

bool HasGroupAddress(const DerivedAddress& address) {
    return address.derived &&
           (IsGroupAddress(address.lsbFirst) || IsGroupAddress(address.msbFirst));
}

std::string FormatMacAddress(const MacAddress& address) {
    std::string text;
    for (std::size_t index = 0; index < 6; ++index) {
        if (index > 0) {
            text += '-';
        }
        text += HexByte(address.bytes[index]);
    }
    return text;
}

std::string HexByte(std::uint8_t byte) {
    const char digits[] = "0123456789abcdef";
    return std::string{digits[byte >> 4], digits[byte & 0x0F]};
}

std::uint64_t AddressNumber(const MacAddress& address) {
    std::uint64_t number = 0;
    for (std::uint8_t byte : address.bytes) {
        number = (number << 8) | byte;
    }
    return number;
}

MacAddress AddressOfNumber(std::uint64_t number) {
    MacAddress address;
    for (int index = 5; index >= 0; --index) {
        address.bytes[index] = static_cast<std::uint8_t>(number & 0xFFu);
        number >>= 8;
    }
    return address;
}
