#include "audit/live_interfaces.h"

#include <cstdio>
#include <cstring>

namespace {

// The positions of the hyphens in "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
bool IsHyphenAt(std::size_t at) {
    return at == 9 || at == 14 || at == 19 || at == 24;
}

int HexValue(char character) {
    if (character >= '0' && character <= '9') {
        return character - '0';
    }
    if (character >= 'a' && character <= 'f') {
        return character - 'a' + 10;
    }
    if (character >= 'A' && character <= 'F') {
        return character - 'A' + 10;
    }
    return -1;
}

std::string HexByte(unsigned byte, const char* format) {
    char text[4];
    std::snprintf(text, sizeof text, format, byte & 0xFFu);
    return text;
}

// The longest run of two or more zero groups (the first of equal runs), for "::".
void LongestZeroRun(const unsigned* groups, int* start, int* length) {
    *start = -1;
    *length = 0;
    for (int at = 0; at < 8;) {
        int end = at;
        while (end < 8 && groups[end] == 0) {
            ++end;
        }
        if (end - at > *length && end - at >= 2) {
            *start = at;
            *length = end - at;
        }
        at = end == at ? at + 1 : end;
    }
}

std::string Ipv4Text(const std::uint8_t* bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

bool IsIpv4Mapped(const std::uint8_t* bytes) {
    static const std::uint8_t prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    return std::memcmp(bytes, prefix, sizeof prefix) == 0;
}

std::string Ipv6Text(const std::uint8_t* bytes) {
    if (IsIpv4Mapped(bytes)) {
        return "::ffff:" + Ipv4Text(bytes + 12);
    }
    unsigned groups[8];
    for (int index = 0; index < 8; ++index) {
        groups[index] = static_cast<unsigned>(bytes[2 * index] << 8 | bytes[2 * index + 1]);
    }
    int zeroStart = 0;
    int zeroLength = 0;
    LongestZeroRun(groups, &zeroStart, &zeroLength);
    std::string text;
    for (int index = 0; index < 8; ++index) {
        if (index == zeroStart) {
            text += "::";
            index += zeroLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        char group[8];
        std::snprintf(group, sizeof group, "%x", groups[index]);
        text += group;
    }
    return text;
}

} // namespace

bool ParseInterfaceGuid(const std::string& text, InterfaceGuid* guid) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') {
        return false;
    }
    std::size_t next = 0;
    for (std::size_t at = 1; at < 37; ++at) {
        if (IsHyphenAt(at)) {
            if (text[at] != '-') {
                return false;
            }
            continue;
        }
        const int high = HexValue(text[at]);
        const int low = HexValue(text[at + 1]);
        if (high < 0 || low < 0 || IsHyphenAt(at + 1)) {
            return false;
        }
        guid->bytes[next++] = static_cast<std::uint8_t>(high << 4 | low);
        ++at;
    }
    return next == 16;
}

bool SameInterfaceGuid(const InterfaceGuid& left, const InterfaceGuid& right) {
    return std::memcmp(left.bytes, right.bytes, sizeof left.bytes) == 0;
}

std::string FormatInterfaceGuid(const InterfaceGuid& guid) {
    std::string text = "{";
    for (std::size_t index = 0; index < 16; ++index) {
        if (index == 4 || index == 6 || index == 8 || index == 10) {
            text += '-';
        }
        text += HexByte(guid.bytes[index], "%02X");
    }
    return text + "}";
}

std::string FormatLinkAddress(const LinkAddress& address) {
    std::string text;
    for (std::size_t index = 0; index < address.length && index < sizeof address.bytes; ++index) {
        text += (index == 0 ? "" : "-") + HexByte(address.bytes[index], "%02x");
    }
    return text;
}

std::string FormatIpAddress(int family, const std::uint8_t* bytes) {
    return family == 4 ? Ipv4Text(bytes) : Ipv6Text(bytes);
}

const char* LinkStatusName(LinkStatus status) {
    static const char* const names[] = {"up",      "down",        "testing",         "unknown",
                                        "dormant", "not-present", "lower-layer-down"};
    return names[status];
}

const char* NeighborStateName(NeighborState state) {
    static const char* const names[] = {"unreachable", "incomplete", "probe",    "delay",
                                        "stale",       "reachable",  "permanent"};
    return names[state];
}

bool ParseLinkAddress(const std::string& text, LinkAddress* address) {
    *address = LinkAddress();
    if (text.empty()) {
        return true;
    }
    if (text.size() % 3 != 2 || text.size() / 3 + 1 > sizeof address->bytes) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); at += 3) {
        const int high = HexValue(text[at]);
        const int low = HexValue(text[at + 1]);
        if (high < 0 || low < 0 || (at + 2 < text.size() && text[at + 2] != '-')) {
            return false;
        }
        address->bytes[address->length++] = static_cast<std::uint8_t>(high << 4 | low);
    }
    return true;
}

bool LinkStatusOfName(const std::string& name, LinkStatus* status) {
    for (int index = kLinkUp; index <= kLinkLowerLayerDown; ++index) {
        if (name == LinkStatusName(static_cast<LinkStatus>(index))) {
            *status = static_cast<LinkStatus>(index);
            return true;
        }
    }
    return false;
}

bool NeighborStateOfName(const std::string& name, NeighborState* state) {
    for (int index = kNeighborUnreachable; index <= kNeighborPermanent; ++index) {
        if (name == NeighborStateName(static_cast<NeighborState>(index))) {
            *state = static_cast<NeighborState>(index);
            return true;
        }
    }
    return false;
}
