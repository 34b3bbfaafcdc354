#include "console_capture.h"
#include "guid/guid_classification.h"
#include "guid/guid_mask.h"
#include "guid/port_guid.h"
#include "guid/prefix_tables.h"

#include <gtest/gtest.h>
#include <string>

namespace {

TEST(GuidMask, ValidWhenExactlySixOfTheLowEightBitsAreSet) {
    const struct {
        std::uint32_t value;
        int result;
    } rows[] = {
        {0x00, -1}, {0xFF, -1}, {0xF1, -1}, {0x7F, -1}, {0xE7, 0},       {0x3F, 0},
        {0xFC, 0},  {0x7E, 0},  {0xDB, 0},  {0x1E7, 0}, {0x100, -1},     {0xFFFFFFE7, 0},
        {0x3E, -1}, {0xBF, -1}, {0x77, 0},  {0xEE, 0},  {0x8000003F, 0}, {0xC0, -1},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.result, IsValidGuidMask(row.value)) << std::hex << row.value;
    }
}

TEST(GuidMask, ValidMasksAreTheTwentyEightSixBitBytes) {
    int valid = 0;
    for (std::uint32_t value = 0; value < 256; ++value) {
        valid += IsValidGuidMask(value) == 0 ? 1 : 0;
    }
    EXPECT_EQ(28, valid);
}

TEST(GuidMask, StoredTextIsDecimalWithItsTerminatorCounted) {
    const struct {
        GuidMask mask;
        const wchar_t* text;
        std::uint32_t byteCount;
    } rows[] = {{0xE7, L"231", 8}, {0x3F, L"63", 6},  {0x00, L"0", 4}, {0x07, L"7", 4},
                {0xFF, L"255", 8}, {0x7E, L"126", 8}, {0x0A, L"10", 6}};
    for (const auto& row : rows) {
        const GuidMaskValueText text = FormatGuidMaskValue(row.mask);
        EXPECT_EQ(std::wstring(row.text), std::wstring(text.characters));
        EXPECT_EQ(row.byteCount, text.byteCount);
    }
}

// The known table exactly as the driver release knows it: prefix bytes 1 and 2, then mask.
const unsigned kExpectedKnown[][3] = {
    {0x02, 0xC9, 0x00}, {0x08, 0xF1, 0x00}, {0x06, 0x6A, 0x00}, {0x30, 0x48, 0xE7},
    {0x05, 0xAD, 0xE7}, {0x18, 0x8B, 0xE7}, {0x1A, 0x4B, 0xE7}, {0x17, 0x08, 0xE7},
    {0x1E, 0x0B, 0xE7}, {0x03, 0xBA, 0xE7}, {0x05, 0xAD, 0xE7}, {0x0D, 0x9D, 0xE7},
    {0x11, 0x0A, 0xE7}, {0x11, 0x85, 0xE7}, {0x12, 0x79, 0xE7}, {0x13, 0x21, 0xE7},
    {0x14, 0x38, 0xE7}, {0x16, 0x35, 0xE7}, {0x17, 0x08, 0xE7}, {0x17, 0xA4, 0xE7},
    {0x18, 0x8B, 0xE7}, {0x18, 0xFE, 0xE7}, {0x19, 0xBB, 0xE7}, {0x1A, 0x4B, 0xE7},
    {0x1B, 0x78, 0xE7}, {0x1E, 0x0B, 0xE7}, {0x22, 0x64, 0xE7}, {0x23, 0x7D, 0xE7},
    {0x30, 0x48, 0xE7}, {0x80, 0x5F, 0xE7},
};

TEST(PrefixTables, KnownTableHoldsEveryEntryInOrderThenItsTerminator) {
    const std::size_t count = sizeof kExpectedKnown / sizeof kExpectedKnown[0];
    ASSERT_EQ(30u, count);
    for (std::size_t i = 0; i < count; ++i) {
        SCOPED_TRACE(testing::Message() << "entry " << i + 1);
        EXPECT_EQ(kExpectedKnown[i][0], KnownPrefixTable[i].prefixByte1);
        EXPECT_EQ(kExpectedKnown[i][1], KnownPrefixTable[i].prefixByte2);
        EXPECT_EQ(kExpectedKnown[i][2], KnownPrefixTable[i].mask);
    }
    EXPECT_EQ(0x00, KnownPrefixTable[count].prefixByte1);
    EXPECT_EQ(0x00, KnownPrefixTable[count].prefixByte2);
    EXPECT_EQ(0x00, KnownPrefixTable[count].mask);
}

TEST(PrefixTables, WorkaroundTableHoldsOnlyItsTerminator) {
    EXPECT_EQ(0x00, WorkaroundPrefixTable[0].prefixByte1);
    EXPECT_EQ(0x00, WorkaroundPrefixTable[0].prefixByte2);
}

PortGuid GuidWithPrefix(unsigned byte1, unsigned byte2) {
    return 0x3412FFFF00000000u | (static_cast<PortGuid>(byte2) << 16) |
           (static_cast<PortGuid>(byte1) << 8);
}

TEST(PrefixTables, LookupFindsTheFirstMatchAndStopsAtTheTerminator) {
    const PrefixMaskEntry table[] = {
        {0x11, 0x22, 0x3F}, {0x33, 0x44, 0xFC}, {0x11, 0x22, 0x7E},
        {0x00, 0x00, 0x00}, {0x55, 0x66, 0xE7},
    };
    PrefixLookup lookup = LookupPrefixMask(table, GuidWithPrefix(0x11, 0x22));
    EXPECT_TRUE(lookup.found);
    EXPECT_EQ(0x3F, lookup.mask);
    lookup = LookupPrefixMask(table, GuidWithPrefix(0x33, 0x44));
    EXPECT_TRUE(lookup.found);
    EXPECT_EQ(0xFC, lookup.mask);
    lookup = LookupPrefixMask(table, GuidWithPrefix(0x55, 0x66));
    EXPECT_FALSE(lookup.found) << "entries behind the terminator are never read";
    lookup = LookupPrefixMask(table, GuidWithPrefix(0x22, 0x11));
    EXPECT_FALSE(lookup.found) << "byte order counts";
    EXPECT_EQ(0x00, lookup.mask);
}

TEST(PrefixTables, EveryKnownPrefixLooksUpToItsMask) {
    for (const auto& entry : kExpectedKnown) {
        const PrefixLookup lookup =
            LookupPrefixMask(KnownPrefixTable, GuidWithPrefix(entry[0], entry[1]));
        EXPECT_TRUE(lookup.found);
        EXPECT_EQ(entry[2], lookup.mask);
    }
}

TEST(PortGuid, ClassifiesByVendorPrefix) {
    const struct {
        PortGuid guid;
        bool known;
        GuidMask knownMask;
    } rows[] = {
        {0x5EA7030003C90200u, true, 0x00},  // 00-02-C9
        {0x563412FFFF483000u, true, 0xE7},  // 00-30-48
        {0x0000000000F10800u, true, 0x00},  // 00-08-F1
        {0x0000000000FE1800u, true, 0xE7},  // 00-18-FE
        {0x5EA7030003C90201u, false, 0x00}, // byte 0 is not 0x00
        {0x0000000000C90000u, false, 0x00}, // 00-00-C9
        {0x0000000000000000u, false, 0x00}, // nothing converted
        {0x00000000002C9000u, false, 0x00}, // 00-90-2C
    };
    for (const auto& row : rows) {
        const GuidClassification result = ClassifyPortGuid(row.guid);
        EXPECT_EQ(row.known, result.known) << std::hex << row.guid;
        EXPECT_EQ(row.knownMask, result.knownMask) << std::hex << row.guid;
        EXPECT_EQ(0x00, result.workaroundMask);
    }
}

TEST(PortGuid, PrintsByteZeroFirst) {
    const struct {
        PortGuid guid;
        const char* text;
    } rows[] = {
        {0x5EA7030003C90200u, "0x0002c9030003a75e"},
        {0x0000000000000000u, "0x0000000000000000"},
        {0xFFFFFFFFFFFFFFFFu, "0xffffffffffffffff"},
        {0x0123456789ABCDEFu, "0xefcdab8967452301"},
    };
    for (const auto& row : rows) {
        BeginConsoleCapture();
        PrintPortGuid(row.guid);
        EXPECT_EQ(row.text, EndConsoleCapture());
    }
}

} // namespace
