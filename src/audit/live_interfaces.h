// The live state of the host's network interfaces, as Windows gives it through the IP Helper
// API: each interface's GUID, addresses and operational status, and the neighbor tables. A
// POSIX store is a file, not a live host: there is nothing to read there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A GUID as its text writes it: "{00000003-0000-0000-0000-4E6574446576}" gives the bytes
// 00 00 00 03 00 00 ... in that order, whatever the case of the hexadecimal digits.
struct InterfaceGuid {
    std::uint8_t bytes[16] = {0};
};

// A link-layer address of any length the platform reports (up to 32 bytes).
struct LinkAddress {
    std::size_t length = 0;
    std::uint8_t bytes[32] = {0};
};

// The interface's operational status, in the order of the platform's IF_OPER_STATUS (1 to 7).
enum LinkStatus {
    kLinkUp,
    kLinkDown,
    kLinkTesting,
    kLinkUnknown,
    kLinkDormant,
    kLinkNotPresent,
    kLinkLowerLayerDown,
};

struct LiveInterface {
    InterfaceGuid guid; // the adapter's "NetCfgInstanceId"
    LinkAddress current;
    LinkAddress permanent;
    LinkStatus status = kLinkUnknown;
};

// The neighbor's state, in the order of the platform's NL_NEIGHBOR_STATE (0 to 6).
enum NeighborState {
    kNeighborUnreachable,
    kNeighborIncomplete,
    kNeighborProbe,
    kNeighborDelay,
    kNeighborStale,
    kNeighborReachable,
    kNeighborPermanent,
};

struct LiveNeighbor {
    InterfaceGuid interfaceGuid; // the interface whose table holds it
    int family = 4;              // 4 or 6
    std::string address;         // "192.168.50.2", "fe80::1"
    LinkAddress link;
    NeighborState state = kNeighborUnreachable;
};

// Which table could not be read, and the platform's error code.
enum LiveTable {
    kInterfaceTable,
    kIpv4NeighborTable,
    kIpv6NeighborTable,
};

struct LiveFailure {
    LiveTable table = kInterfaceTable;
    unsigned long error = 0;
};

enum LiveAvailability {
    kLiveNoHost, // a store file: no live state exists
    kLiveRead,   // the interface table was read (a neighbor table may still have failed)
    kLiveFailed, // the interface table could not be read
};

struct LiveTables {
    LiveAvailability availability = kLiveNoHost;
    std::vector<LiveInterface> interfaces;
    std::vector<LiveNeighbor> neighbors; // of every interface, both families
    std::vector<LiveFailure> failures;
};

// Reads this host's interface and neighbor tables (each address family on its own). The
// neighbor tables are read only where the interface table was.
LiveTables ReadLiveTables();

// Parses the text of a GUID, "{" 8-4-4-4-12 hexadecimal digits "}"; false for anything else.
bool ParseInterfaceGuid(const std::string& text, InterfaceGuid* guid);

bool SameInterfaceGuid(const InterfaceGuid& left, const InterfaceGuid& right);

// "{00000003-0000-0000-0000-4E6574446576}", as Windows writes a NetCfgInstanceId.
std::string FormatInterfaceGuid(const InterfaceGuid& guid);

// "00-30-48-12-34-56"; empty for an address of length 0.
std::string FormatLinkAddress(const LinkAddress& address);

// "00-30-48-12-34-56" (any length up to 32 bytes; "" is length 0); false for other text.
bool ParseLinkAddress(const std::string& text, LinkAddress* address);

// "192.168.50.2" from 4 bytes; from 16 bytes the text RFC 5952 gives ("fe80::1").
std::string FormatIpAddress(int family, const std::uint8_t* bytes);

// "up", "down", "testing", "unknown", "dormant", "not-present", "lower-layer-down".
const char* LinkStatusName(LinkStatus status);

// "unreachable", "incomplete", "probe", "delay", "stale", "reachable", "permanent".
const char* NeighborStateName(NeighborState state);

// The statuses and states by those names; false for another text.
bool LinkStatusOfName(const std::string& name, LinkStatus* status);
bool NeighborStateOfName(const std::string& name, NeighborState* state);
