// The MAC address a GUID mask gives a port GUID: the GUID's bytes kept by the mask's six set
// bits, in the GUID's byte order (byte 0 first).
#pragma once

#include "guid/guid_mask.h"
#include "guid/port_guid.h"

#include <cstdint>
#include <string>

struct MacAddress {
    std::uint8_t bytes[6] = {0, 0, 0, 0, 0, 0};
};

// Which bit keeps which byte is known only for masks that read the same both ways, so an
// address is taken under both readings: bit k keeps byte k (lsbFirst), or bit 7 - k does
// (msbFirst). For a symmetric mask the two are the same address.
struct DerivedAddress {
    bool derived = false; // false: no mask applies (no instance, or the driver's own undocumented
                          // mapping)
    GuidMask mask = 0x00;
    bool symmetric = false;
    MacAddress lsbFirst;
    MacAddress msbFirst;
};

// Which reading an address holds for: a finding's, or the one a live address settled.
enum AddressReading {
    kBothReadings, // every mask involved is symmetric, or nothing settled it
    kLsbFirst,
    kMsbFirst,
};

// 0xe7, 0xdb, 0xbd and 0x7e: the valid masks whose bit k is set exactly when bit 7 - k is.
bool IsSymmetricMask(GuidMask mask);

DerivedAddress DeriveAddress(PortGuid guid, GuidMask mask);

DerivedAddress NoAddress();

// The low bit of the first byte marks a group (multicast) address.
bool IsGroupAddress(const MacAddress& address);

// Under either reading.
bool HasGroupAddress(const DerivedAddress& address);

// "00-aa-bb-ee-ff-01".
std::string FormatMacAddress(const MacAddress& address);

// "0a": two lower-case hexadecimal digits.
std::string HexByte(std::uint8_t byte);

// The valid masks, the symmetric ones first (0xe7 first among them), then the others in
// ascending order.
extern const GuidMask kMaskCandidates[];
extern const std::size_t kMaskCandidateCount;

// An address as a 48-bit number, first byte highest, and back: sets and sorts of addresses.
std::uint64_t AddressNumber(const MacAddress& address);
MacAddress AddressOfNumber(std::uint64_t number);
