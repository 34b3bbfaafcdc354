#include "audit/adapter_audit.h"
#include "audit/conflicts.h"
#include "audit/mac_address.h"

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
    report.stores = {{"a", true, "", ""}, {"b", true, "", ""}};
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

} // namespace
