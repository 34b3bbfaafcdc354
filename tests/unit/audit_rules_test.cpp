#include "audit/adapter_audit.h"
#include "audit/conflicts.h"
#include "audit/live_audit.h"
#include "audit/live_interfaces.h"
#include "audit/live_state.h"
#include "audit/mac_address.h"

#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(AuditAddress, KeptBytesUnderBothReadings) {
    const struct {
        PortGuid printedAs; // bytes 0 to 7 as printed, byte 0 first
        GuidMask mask;
        const char* lsbFirst;
        const char* msbFirst;
        bool group;
    } rows[] = {
        {0x00aabbccddeeff01, 0xe7, "00-aa-bb-ee-ff-01", "00-aa-bb-ee-ff-01", false},
        {0x00aabbccddeeff01, 0x3f, "00-aa-bb-cc-dd-ee", "bb-cc-dd-ee-ff-01", true},
        {0x00aabbccddeeff01, 0x7e, "aa-bb-cc-dd-ee-ff", "aa-bb-cc-dd-ee-ff", false},
        {0x0102030405060708, 0xfc, "03-04-05-06-07-08", "01-02-03-04-05-06", true},
        {0x0000000000000000, 0xdb, "00-00-00-00-00-00", "00-00-00-00-00-00", false},
    };
    for (const auto& row : rows) {
        PortGuid guid = 0;
        for (int index = 0; index < 8; ++index) {
            guid |= ((row.printedAs >> (8 * (7 - index))) & 0xFFu) << (8 * index);
        }
        const DerivedAddress address = DeriveAddress(guid, row.mask);
        EXPECT_EQ(row.lsbFirst, FormatMacAddress(address.lsbFirst)) << std::hex << +row.mask;
        EXPECT_EQ(row.msbFirst, FormatMacAddress(address.msbFirst)) << std::hex << +row.mask;
        EXPECT_EQ(row.group, HasGroupAddress(address)) << std::hex << +row.mask;
        EXPECT_EQ(std::string(row.lsbFirst) == row.msbFirst, address.symmetric);
    }
}

TEST(AuditAddress, StoredTextIsAMaskOnlyAsAFixWritesIt) {
    const struct {
        const char* text;
        StoredMaskKind kind;
        GuidMask mask;
    } rows[] = {
        {"231", kStoredMask, 0xe7},  {"63", kStoredMask, 0x3f},   {"252", kStoredMask, 0xfc},
        {"0231", kStoredNotMask, 0}, {" 231", kStoredNotMask, 0}, {"0xe7", kStoredNotMask, 0},
        {"255", kStoredNotMask, 0},  {"", kStoredNotMask, 0},     {"487", kStoredNotMask, 0}};
    for (const auto& row : rows) {
        GuidMask mask = 0;
        EXPECT_EQ(row.kind, ReadStoredMask(row.text, &mask)) << row.text;
        if (row.kind == kStoredMask) {
            EXPECT_EQ(row.mask, mask);
        }
    }
}

// One adapter of a rule row: its store, its GUID (as a number), the mask the silent fix writes
// (0x00: the driver's built-in mapping) and whether that is the -d mask.
struct Adapter {
    std::size_t store;
    PortGuid guid;
    GuidMask mask;
    bool fromArgument;
};

AuditReport ReportOf(const std::vector<Adapter>& adapters) {
    AuditReport report;
    report.silentMask = 0xe7;
    report.stores = {{"a", true, "", "", kLiveNoHost, {}}, {"b", true, "", "", kLiveNoHost, {}}};
    for (const Adapter& adapter : adapters) {
        AuditRecord record = AuditRecord();
        record.store = adapter.store;
        record.subkey = "0001";
        record.guid = adapter.guid;
        record.guidClass = adapter.fromArgument ? kClassUnrecognized : kClassKnown;
        record.maskFromArgument = adapter.fromArgument;
        record.silentFixWrites = adapter.mask != 0x00;
        record.afterFix =
            record.silentFixWrites ? DeriveAddress(adapter.guid, adapter.mask) : NoAddress();
        record.state = kStateOk;
        report.records.push_back(record);
    }
    FindConflicts(&report);
    return report;
}

std::string Kinds(const std::vector<Finding>& findings) {
    std::string kinds;
    for (const Finding& finding : findings) {
        kinds += (kinds.empty() ? "" : " ") + std::string(FindingName(finding.kind));
        if (finding.reading != kBothReadings) {
            kinds += std::string("/") + ReadingName(finding.reading);
        }
    }
    return kinds;
}

std::string Masks(const AuditReport& report) {
    if (report.maskDependentCount == 0) {
        return "-";
    }
    std::string masks;
    for (std::size_t index = 0; index < report.suggestedMasks.size() && index < 3; ++index) {
        char text[8];
        std::snprintf(text, sizeof text, "%s%02x", index == 0 ? "" : " ",
                      report.suggestedMasks[index]);
        masks += text;
    }
    if (masks.empty()) {
        return "none";
    }
    return masks + " changes " + std::to_string(report.firstSuggestionChanges);
}

// GUIDs are written as numbers: byte 0 is the lowest byte.
TEST(AuditRules, ConflictsWarningsAndSuggestedMasks) {
    const struct {
        const char* what;
        std::vector<Adapter> adapters;
        const char* conflicts;
        const char* warnings;
        const char* firstSuggested;
    } rows[] = {
        {"bytes 3 and 4 differ only: 0xe7 makes one address, on two hosts",
         {{0, 0x01ffeeddccbbaa00, 0xe7, true}, {1, 0x01ffee1234bbaa00, 0xe7, true}},
         "mac-collision",
         "",
         "db bd 7e changes 2"},
        {"the same pair on one host collides as well",
         {{0, 0x01ffeeddccbbaa00, 0xe7, true}, {0, 0x01ffee1234bbaa00, 0xe7, true}},
         "mac-collision",
         "",
         "db bd 7e changes 2"},
        {"one GUID on two hosts: a conflict, not an address collision",
         {{0, 0x010000ffff483000, 0xe7, false}, {1, 0x010000ffff483000, 0xe7, false}},
         "guid-on-two-hosts",
         "",
         "-"},
        {"one GUID twice on one host, the built-in mapping: a warning only",
         {{0, 0x5ea7030003c90200, 0x00, false}, {0, 0x5ea7030003c90200, 0x00, false}},
         "",
         "guid-twice-on-host",
         "-"},
        {"a zero GUID is warned of and meets no other",
         {{0, 0, 0xe7, true}, {1, 0, 0xe7, true}},
         "",
         "zero-guid zero-guid",
         "-"},
        {"a non-symmetric mask collides under one reading only",
         {{0, 0x0706050403020100, 0x3f, true}, {1, 0x0706050403020198, 0x3f, true}},
         "mac-collision/msb-first",
         "",
         "e7 db bd changes 2"},
        {"a group address under the -d mask; only 0x7e keeps byte 0 out",
         {{0, 0x0706050403020201, 0xe7, true}},
         "group-address",
         "",
         "7e changes 1"},
        {"every byte odd: every mask gives a group address",
         {{0, 0x0101010101010101, 0xe7, true}},
         "group-address",
         "",
         "none"},
        {"a fixed address the -d mask would meet; the first suggestion is that mask",
         {{0, 0x01ffeeddccbbaa00, 0xe7, false}, {1, 0x01ffee9999bbaa00, 0xdb, true}},
         "",
         "",
         "db bd 7e changes 0"},
        {"of three taking the -d mask, 0xdb moves the two that collide and keeps the third (0x7e "
         "would make it a group address)",
         {{0, 0x01ffeeddccbbaa00, 0xe7, true},
          {1, 0x01ffee1234bbaa00, 0xe7, true},
          {1, 0x0505050505050500, 0xe7, true}},
         "mac-collision",
         "",
         "db bd 9f changes 2"},
    };
    for (const auto& row : rows) {
        const AuditReport report = ReportOf(row.adapters);
        EXPECT_EQ(row.conflicts, Kinds(report.conflicts)) << row.what;
        EXPECT_EQ(row.warnings, Kinds(report.warnings)) << row.what;
        EXPECT_EQ(row.firstSuggested, Masks(report)) << row.what;
    }
}

// The live facts of one adapter and what the rules make of them.
MacAddress MacOf(const char* text) {
    MacAddress address = {{0, 0, 0, 0, 0, 0}};
    unsigned bytes[6] = {0, 0, 0, 0, 0, 0};
    std::sscanf(text, "%x-%x-%x-%x-%x-%x", &bytes[0], &bytes[1], &bytes[2], &bytes[3], &bytes[4],
                &bytes[5]);
    for (int index = 0; index < 6; ++index) {
        address.bytes[index] = static_cast<std::uint8_t>(bytes[index]);
    }
    return address;
}

LinkAddress LinkOf(const char* text) {
    LinkAddress link = {0, {0}};
    if (*text != '\0') {
        link.length = 6;
        const MacAddress address = MacOf(text);
        std::copy(address.bytes, address.bytes + 6, link.bytes);
    }
    return link;
}

InterfaceGuid InterfaceOf(int index) {
    InterfaceGuid guid;
    EXPECT_TRUE(ParseInterfaceGuid(
        "{0000000" + std::to_string(index) + "-0000-0000-0000-4E6574446576}", &guid));
    return guid;
}

// GUIDs as printed, byte 0 first.
PortGuid GuidOfPrinted(PortGuid printedAs) {
    PortGuid guid = 0;
    for (int index = 0; index < 8; ++index) {
        guid |= ((printedAs >> (8 * (7 - index))) & 0xFFu) << (8 * index);
    }
    return guid;
}

TEST(AuditRules, LiveStates) {
    const PortGuid known = 0x003048ffff123456;        // 0xe7: 00-30-48-12-34-56
    const PortGuid builtIn = 0x0002c9030003a75e;      // known, predefined 0x00
    const PortGuid unrecognized = 0x0102030405060708; // 0x3f: lsb 01..06, msb 03..08
    const struct {
        const char* what;
        PortGuid printedAs;
        GuidClass guidClass;
        GuidMask predefined;
        const char* stored; // "": none
        AuditState auditState;
        const char* networkAddress;
        LiveAvailability availability;
        bool found;
        LinkStatus status;
        const char* current;
        const char* state; // "-": none
        const char* reading;
        bool restartNeeded;
    } rows[] = {
        {"the stored mask's address", known, kClassKnown, 0xe7, "231", kStateOk, "", kLiveRead,
         true, kLinkUp, "00-30-48-12-34-56", "in-effect", "-", false},
        {"a stored mask not yet in effect", known, kClassKnown, 0xe7, "231", kStateOk, "",
         kLiveRead, true, kLinkUp, "00-30-48-ff-ff-12", "pending-restart", "-", true},
        {"an interface that is down still has its address", known, kClassKnown, 0xe7, "231",
         kStateOk, "", kLiveRead, true, kLinkDown, "00-30-48-12-34-56", "in-effect", "-", false},
        {"a non-symmetric mask settled lsb-first", unrecognized, kClassUnrecognized, 0x00, "63",
         kStateWouldReplace, "", kLiveRead, true, kLinkUp, "01-02-03-04-05-06", "in-effect",
         "lsb-first", true},
        {"a non-symmetric mask settled msb-first", unrecognized, kClassUnrecognized, 0x00, "63",
         kStateWouldReplace, "", kLiveRead, true, kLinkUp, "03-04-05-06-07-08", "in-effect",
         "msb-first", true},
        {"no interface: disabled or absent, the mask is read when it starts", known, kClassKnown,
         0xe7, "", kStateWouldWrite, "", kLiveRead, false, kLinkUp, "", "not-present", "-", false},
        {"an interface whose hardware is not present", known, kClassKnown, 0xe7, "231", kStateOk,
         "", kLiveRead, true, kLinkNotPresent, "00-30-48-ff-ff-12", "not-present", "-", false},
        {"an override decides, on a store file too", known, kClassKnown, 0xe7, "", kStateWouldWrite,
         "02AABBCCDDEE", kLiveNoHost, false, kLinkUp, "", "overridden", "-", true},
        {"an override on a live host", known, kClassKnown, 0xe7, "231", kStateOk, "02AABBCCDDEE",
         kLiveRead, true, kLinkUp, "02-aa-bb-cc-dd-ee", "overridden", "-", false},
        {"a store file has no live state", known, kClassKnown, 0xe7, "", kStateWouldWrite, "",
         kLiveNoHost, false, kLinkUp, "", "-", "-", true},
        {"the calls failed", known, kClassKnown, 0xe7, "231", kStateOk, "", kLiveFailed, false,
         kLinkUp, "", "unknown", "-", false},
        {"the driver's built-in mapping: no guess", builtIn, kClassKnown, 0x00, "", kStateOk, "",
         kLiveRead, true, kLinkUp, "00-02-c9-03-a7-5e", "built-in", "-", false},
        {"no mask stored, the default's address", unrecognized, kClassUnrecognized, 0x00, "",
         kStateWouldWrite, "", kLiveRead, true, kLinkUp, "01-02-03-06-07-08", "no-mask", "-", true},
        {"stored text that is no mask reads as none", unrecognized, kClassUnrecognized, 0x00,
         "0xe7", kStateWouldWrite, "", kLiveRead, true, kLinkUp, "01-02-03-06-07-08", "no-mask",
         "-", true},
        {"no mask stored, an address nothing gives", unrecognized, kClassUnrecognized, 0x00, "",
         kStateWouldWrite, "", kLiveRead, true, kLinkUp, "02-00-00-00-00-01", "unexplained", "-",
         true},
        {"no instance, so no GUID to explain the address", 0, kClassNone, 0x00, "",
         kStateNoInstance, "", kLiveRead, true, kLinkUp, "02-00-00-00-00-01", "unexplained", "-",
         false},
        {"an address of no length", known, kClassKnown, 0xe7, "231", kStateOk, "", kLiveRead, true,
         kLinkUp, "", "unexplained", "-", false},
    };
    for (const auto& row : rows) {
        AuditRecord record = AuditRecord();
        record.instanceId = "{00000003-0000-0000-0000-4e6574446576}";
        record.guid = GuidOfPrinted(row.printedAs);
        record.guidClass = row.guidClass;
        record.predefinedMask = row.predefined;
        record.storedKind =
            *row.stored == '\0' ? kStoredAbsent : ReadStoredMask(row.stored, &record.storedMask);
        record.state = row.auditState;
        record.live.networkAddress = row.networkAddress;
        LiveTables tables;
        tables.availability = row.availability;
        if (row.found) {
            tables.interfaces.push_back(
                LiveInterface{InterfaceOf(3), LinkOf(row.current), LinkOf(""), row.status});
        }
        tables.interfaces.push_back(
            LiveInterface{InterfaceOf(4), LinkOf("00-30-48-12-34-56"), LinkOf(""), kLinkUp});
        FindLiveInterface(tables, &record);
        JudgeLiveAdapter(row.availability, &record);
        const LiveAdapter& live = record.live;
        const char* state = LiveStateName(live.state);
        const char* reading = ReadingName(live.reading);
        EXPECT_EQ(row.state, std::string(state == nullptr ? "-" : state)) << row.what;
        EXPECT_EQ(row.reading, std::string(reading == nullptr ? "-" : reading)) << row.what;
        EXPECT_EQ(row.restartNeeded, live.restartNeeded) << row.what;
        EXPECT_EQ(row.found && row.availability == kLiveRead, live.interfaceFound) << row.what;
    }
}

TEST(AuditRules, InterfaceGuidsCompareAsGuids) {
    const struct {
        const char* text;
        bool valid;
        bool sameAsThree;
    } rows[] = {
        {"{00000003-0000-0000-0000-4E6574446576}", true, true},
        {"{00000003-0000-0000-0000-4e6574446576}", true, true},
        {"{00000030-0000-0000-0000-4E6574446576}", true, false},
        {"00000003-0000-0000-0000-4E6574446576", false, false},
        {"{00000003-0000-0000-0000-4E6574446576} ", false, false},
        {"{0000000g-0000-0000-0000-4E6574446576}", false, false},
        {"{000000030-000-0000-0000-4E6574446576}", false, false},
        {"{00000003-0000-0000-00004-E6574446576}", false, false},
        {"", false, false},
    };
    for (const auto& row : rows) {
        InterfaceGuid guid;
        EXPECT_EQ(row.valid, ParseInterfaceGuid(row.text, &guid)) << row.text;
        if (row.valid) {
            EXPECT_EQ(row.sameAsThree, SameInterfaceGuid(guid, InterfaceOf(3))) << row.text;
        }
    }
    EXPECT_EQ("{00000003-0000-0000-0000-4E6574446576}", FormatInterfaceGuid(InterfaceOf(3)));
}

TEST(AuditRules, LinkAddressText) {
    const struct {
        const char* text;
        bool valid;
        std::size_t length;
    } rows[] = {
        {"00-30-48-12-34-56", true, 6},
        {"", true, 0},
        {"0a", true, 1},
        {"80-00-00-48-fe-80-00-00-00-00-00-00-00-02-c9-03-00-0a-b1-c3", true, 20},
        {"00-30-48-12-34-5", false, 0},
        {"00:30:48:12:34:56", false, 0},
        {"00-30-48-12-34-5g", false, 0},
        {"00-30-48-12-34-56-", false, 0},
        {"00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-00-"
         "00-"
         "00-00-00",
         false, 0},
    };
    for (const auto& row : rows) {
        LinkAddress address;
        EXPECT_EQ(row.valid, ParseLinkAddress(row.text, &address)) << row.text;
        if (row.valid) {
            EXPECT_EQ(row.length, address.length) << row.text;
            EXPECT_EQ(row.text, FormatLinkAddress(address));
        }
    }
}

TEST(AuditRules, IpAddressText) {
    const struct {
        int family;
        std::uint8_t bytes[16];
        const char* text;
    } rows[] = {
        {4, {192, 168, 50, 2}, "192.168.50.2"},
        {6, {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "fe80::1"},
        {6, {0}, "::"},
        {6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, "::1"},
        {6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}, "2001:db8::1:0:0:1"},
        {6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}, "2001:db8:0:1:1:1:1:1"},
        {6, {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}, "2001:db8:0:0:1::"},
        {6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 192, 0, 2, 1}, "::ffff:192.0.2.1"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.text, FormatIpAddress(row.family, row.bytes));
    }
}

// Adapters on stores 0 and 1, each on its interface (by index) with its current address.
struct LiveHostAdapter {
    std::size_t store;
    int interfaceIndex; // 0: no interface
    const char* current;
    LinkStatus status;
};

struct NeighborRow {
    std::size_t store;
    int interfaceIndex;
    int family;
    const char* address;
    const char* link;
    NeighborState state;
};

std::string LiveFindings(const std::vector<Finding>& findings) {
    std::string text;
    for (const Finding& finding : findings) {
        text += (text.empty() ? "" : " | ") + std::string(FindingName(finding.kind)) + " " +
                FormatMacAddress(finding.address);
        for (std::size_t adapter : finding.records) {
            text += " #" + std::to_string(adapter);
        }
        for (const std::string& neighbor : finding.neighbors) {
            text += " " + neighbor;
        }
    }
    return text;
}

TEST(AuditRules, NeighborAndLiveCollisions) {
    const std::vector<LiveHostAdapter> host = {{0, 3, "00-30-48-12-34-56", kLinkUp},
                                               {0, 5, "00-30-48-12-34-99", kLinkUp}};
    const struct {
        const char* what;
        std::vector<LiveHostAdapter> adapters;
        std::vector<NeighborRow> neighbors;
        const char* neighborFindings; // store 0's
        const char* liveFindings;
    } rows[] = {
        {"two neighbors with one address",
         host,
         {{0, 3, 4, "192.168.50.2", "00-11-22-33-44-55", kNeighborPermanent},
          {0, 3, 4, "192.168.50.3", "00-11-22-33-44-55", kNeighborStale},
          {0, 3, 4, "192.168.50.9", "00-11-22-33-44-66", kNeighborReachable}},
         "neighbor-collision 00-11-22-33-44-55 #0 192.168.50.2 192.168.50.3",
         ""},
        {"one peer's IPv4 and IPv6 addresses are no collision",
         host,
         {{0, 3, 4, "192.168.50.2", "00-11-22-33-44-55", kNeighborPermanent},
          {0, 3, 6, "fe80::1", "00-11-22-33-44-55", kNeighborPermanent}},
         "",
         ""},
        {"incomplete, unreachable, group and zero entries take no part",
         host,
         {{0, 3, 4, "192.168.50.2", "00-11-22-33-44-55", kNeighborIncomplete},
          {0, 3, 4, "192.168.50.3", "00-11-22-33-44-55", kNeighborReachable},
          {0, 3, 4, "192.168.50.4", "00-11-22-33-44-55", kNeighborUnreachable},
          {0, 3, 4, "224.0.0.22", "01-00-5e-00-00-16", kNeighborPermanent},
          {0, 3, 4, "239.0.0.22", "01-00-5e-00-00-16", kNeighborPermanent},
          {0, 3, 4, "192.168.50.5", "", kNeighborPermanent},
          {0, 3, 4, "192.168.50.6", "00-00-00-00-00-00", kNeighborPermanent},
          {0, 3, 4, "192.168.50.7", "00-00-00-00-00-00", kNeighborPermanent}},
         "",
         ""},
        {"a neighbor with this interface's own address",
         host,
         {{0, 3, 4, "192.168.50.4", "00-30-48-12-34-56", kNeighborPermanent}},
         "neighbor-collision 00-30-48-12-34-56 #0 192.168.50.4",
         ""},
        {"a neighbor with another IPoIB interface's address",
         host,
         {{0, 3, 6, "fe80::4", "00-30-48-12-34-99", kNeighborStale}},
         "neighbor-collision 00-30-48-12-34-99 #0 #1 fe80::4",
         ""},
        {"neighbors of interfaces that are not IPoIB, or of another store",
         host,
         {{0, 7, 4, "10.0.0.2", "00-11-22-33-44-55", kNeighborPermanent},
          {0, 7, 4, "10.0.0.3", "00-11-22-33-44-55", kNeighborPermanent},
          {1, 3, 4, "192.168.50.2", "00-11-22-33-44-55", kNeighborPermanent},
          {1, 3, 4, "192.168.50.3", "00-11-22-33-44-55", kNeighborPermanent}},
         "",
         ""},
        {"one current address on two hosts",
         {{0, 3, "00-30-48-12-34-56", kLinkUp}, {1, 3, "00-30-48-12-34-56", kLinkDown}},
         {},
         "",
         "live-collision 00-30-48-12-34-56 #0 #1"},
        {"two adapter keys naming one interface, and an interface not present",
         {{0, 3, "00-30-48-12-34-56", kLinkUp},
          {0, 3, "00-30-48-12-34-56", kLinkUp},
          {1, 4, "00-30-48-12-34-56", kLinkNotPresent},
          {1, 0, "", kLinkUp}},
         {},
         "",
         ""},
    };
    for (const auto& row : rows) {
        std::vector<AuditRecord> records;
        for (const LiveHostAdapter& adapter : row.adapters) {
            AuditRecord record = AuditRecord();
            record.store = adapter.store;
            record.live.interfaceFound = adapter.interfaceIndex != 0;
            record.live.interfaceFacts =
                LiveInterface{InterfaceOf(adapter.interfaceIndex), LinkOf(adapter.current),
                              LinkOf(""), adapter.status};
            records.push_back(record);
        }
        std::vector<LiveNeighbor> neighbors[2];
        for (const NeighborRow& neighbor : row.neighbors) {
            neighbors[neighbor.store].push_back(
                LiveNeighbor{InterfaceOf(neighbor.interfaceIndex), neighbor.family,
                             neighbor.address, LinkOf(neighbor.link), neighbor.state});
        }
        EXPECT_EQ(row.neighborFindings,
                  LiveFindings(FindNeighborCollisions(records, 0, neighbors[0])))
            << row.what;
        EXPECT_EQ(row.liveFindings, LiveFindings(FindLiveCollisions(records))) << row.what;
    }
}

// Where a host's live address settled the reading of a non-symmetric mask, the other reading
// of that adapter's address meets no other.
TEST(AuditRules, LiveReadingDecidesCollisions) {
    const struct {
        const char* what;
        const char* current; // host a's interface; nullptr: no live host
        const char* conflicts;
    } rows[] = {
        {"the address reads lsb-first: no msb-first collision", "00-01-02-03-04-05", ""},
        {"the address reads msb-first: the collision stands", "02-03-04-05-06-07",
         "mac-collision/msb-first"},
        {"no live host: both readings count", nullptr, "mac-collision/msb-first"},
    };
    for (const auto& row : rows) {
        AuditReport report;
        report.silentMask = 0x3f;
        report.maskDependentCount = 0;
        report.stores = {{"a", true, "", "", row.current ? kLiveRead : kLiveNoHost, {}},
                         {"b", true, "", "", kLiveNoHost, {}}};
        for (PortGuid guid : {0x0706050403020100u, 0x0706050403020198u}) {
            AuditRecord record = AuditRecord();
            record.store = report.records.size();
            record.guid = guid;
            record.guidClass = kClassUnrecognized;
            record.maskFromArgument = true;
            record.silentFixWrites = true;
            record.silentFixMask = 0x3f;
            record.afterFix = DeriveAddress(guid, 0x3f);
            record.storedKind = kStoredMask;
            record.storedMask = 0x3f;
            record.state = kStateOk;
            if (record.store == 0 && row.current != nullptr) {
                record.live.interfaceFound = true;
                record.live.interfaceFacts =
                    LiveInterface{InterfaceOf(3), LinkOf(row.current), LinkOf(""), kLinkUp};
            }
            report.records.push_back(record);
        }
        FindConflicts(&report);
        EXPECT_EQ(row.conflicts, Kinds(report.conflicts)) << row.what;
    }
}

TEST(AuditRules, PendingRestartIsCountedAndChangesTheStatus) {
    for (LiveState state : {kLiveInEffect, kLivePendingRestart, kLiveNotPresent}) {
        AuditReport report;
        report.stores = {{"a", true, "", "", kLiveRead, {}}};
        AuditRecord record = AuditRecord();
        record.state = kStateOk;
        record.live.state = state;
        report.records.push_back(record);
        const bool pending = state == kLivePendingRestart;
        EXPECT_EQ(pending ? 1u : 0u, CountAudit(report).pendingRestart) << LiveStateName(state);
        EXPECT_EQ(pending ? 1 : 0, AuditStatus(report)) << LiveStateName(state);
    }
}

TEST(AuditRules, LiveTablesNotReadAreSaidInOneLine) {
    LiveTables tables;
    tables.availability = kLiveRead;
    EXPECT_EQ("", LiveFailureLine(tables));
    tables.failures = {{kIpv4NeighborTable, 5}, {kIpv6NeighborTable, 1}};
    EXPECT_EQ("ipoib-guidmask-audit: the live state was not read whole: the IPv4 neighbor table "
              "(GetIpNetTable2, error 5), the IPv6 neighbor table (GetIpNetTable2, error 1)\n",
              LiveFailureLine(tables));
    tables.availability = kLiveFailed;
    tables.failures = {{kInterfaceTable, 8}};
    EXPECT_EQ("ipoib-guidmask-audit: the live state could not be read: the interface table "
              "(GetIfTable2, error 8)\n",
              LiveFailureLine(tables));
}

} // namespace
