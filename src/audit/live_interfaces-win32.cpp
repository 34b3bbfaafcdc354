#include "audit/live_interfaces.h"

// The IP Helper API's declarations need the socket headers first.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <iphlpapi.h>
#include <netioapi.h>
// clang-format on

#include <cstring>
#include <utility>

namespace {

InterfaceGuid GuidBytes(const GUID& guid) {
    InterfaceGuid bytes;
    for (int index = 0; index < 4; ++index) {
        bytes.bytes[index] = static_cast<std::uint8_t>(guid.Data1 >> (24 - 8 * index));
    }
    bytes.bytes[4] = static_cast<std::uint8_t>(guid.Data2 >> 8);
    bytes.bytes[5] = static_cast<std::uint8_t>(guid.Data2);
    bytes.bytes[6] = static_cast<std::uint8_t>(guid.Data3 >> 8);
    bytes.bytes[7] = static_cast<std::uint8_t>(guid.Data3);
    std::memcpy(bytes.bytes + 8, guid.Data4, 8);
    return bytes;
}

LinkAddress LinkOf(const UCHAR* bytes, ULONG length) {
    LinkAddress address;
    address.length = length < sizeof address.bytes ? length : sizeof address.bytes;
    std::memcpy(address.bytes, bytes, address.length);
    return address;
}

LinkStatus StatusOf(IF_OPER_STATUS status) {
    const int number = static_cast<int>(status);
    return number >= 1 && number <= 7 ? static_cast<LinkStatus>(number - 1) : kLinkUnknown;
}

NeighborState StateOf(NL_NEIGHBOR_STATE state) {
    const int number = static_cast<int>(state);
    return number >= 0 && number <= 6 ? static_cast<NeighborState>(number) : kNeighborUnreachable;
}

// The interfaces, and the GUID of each interface index for the neighbor tables.
bool ReadInterfaces(LiveTables* tables,
                    std::vector<std::pair<NET_IFINDEX, InterfaceGuid>>* byIndex) {
    PMIB_IF_TABLE2 table = nullptr;
    const DWORD error = GetIfTable2(&table);
    if (error != NO_ERROR) {
        tables->failures.push_back(LiveFailure{kInterfaceTable, error});
        return false;
    }
    for (ULONG index = 0; index < table->NumEntries; ++index) {
        const MIB_IF_ROW2& row = table->Table[index];
        LiveInterface entry;
        entry.guid = GuidBytes(row.InterfaceGuid);
        entry.current = LinkOf(row.PhysicalAddress, row.PhysicalAddressLength);
        entry.permanent = LinkOf(row.PermanentPhysicalAddress, row.PhysicalAddressLength);
        entry.status = StatusOf(row.OperStatus);
        tables->interfaces.push_back(entry);
        byIndex->emplace_back(row.InterfaceIndex, entry.guid);
    }
    FreeMibTable(table);
    return true;
}

// One family's table; the API is asked for one family at a time, as every platform answers it.
void ReadNeighbors(ADDRESS_FAMILY family, LiveTable which,
                   const std::vector<std::pair<NET_IFINDEX, InterfaceGuid>>& byIndex,
                   LiveTables* tables) {
    PMIB_IPNET_TABLE2 table = nullptr;
    const DWORD error = GetIpNetTable2(family, &table);
    if (error == ERROR_NOT_FOUND) {
        return; // no neighbors of that family
    }
    if (error != NO_ERROR) {
        tables->failures.push_back(LiveFailure{which, error});
        return;
    }
    for (ULONG index = 0; index < table->NumEntries; ++index) {
        const MIB_IPNET_ROW2& row = table->Table[index];
        for (const std::pair<NET_IFINDEX, InterfaceGuid>& known : byIndex) {
            if (known.first != row.InterfaceIndex || row.Address.si_family != family) {
                continue;
            }
            LiveNeighbor neighbor;
            neighbor.interfaceGuid = known.second;
            neighbor.family = family == AF_INET ? 4 : 6;
            neighbor.address =
                family == AF_INET
                    ? FormatIpAddress(
                          4, reinterpret_cast<const std::uint8_t*>(&row.Address.Ipv4.sin_addr))
                    : FormatIpAddress(
                          6, reinterpret_cast<const std::uint8_t*>(&row.Address.Ipv6.sin6_addr));
            neighbor.link = LinkOf(row.PhysicalAddress, row.PhysicalAddressLength);
            neighbor.state = StateOf(row.State);
            tables->neighbors.push_back(neighbor);
        }
    }
    FreeMibTable(table);
}

} // namespace

LiveTables ReadLiveTables() {
    LiveTables tables;
    std::vector<std::pair<NET_IFINDEX, InterfaceGuid>> byIndex;
    if (!ReadInterfaces(&tables, &byIndex)) {
        tables.availability = kLiveFailed;
        return tables;
    }
    tables.availability = kLiveRead;
    ReadNeighbors(AF_INET, kIpv4NeighborTable, byIndex, &tables);
    ReadNeighbors(AF_INET6, kIpv6NeighborTable, byIndex, &tables);
    return tables;
}
