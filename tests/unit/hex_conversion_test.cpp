#include "guid/hex_conversion.h"

#include <gtest/gtest.h>

namespace {

struct HexCase {
    const wchar_t* text;
    bool converts;
    std::uint64_t value;
};

const HexCase kHexCases[] = {
    {L"e7", true, 0xE7},
    {L"E7", true, 0xE7},
    {L"0x3F", true, 0x3F},
    {L"0X3f", true, 0x3F},
    {L"  \t\n\r\v\f3f", true, 0x3F},
    {L"+3f", true, 0x3F},
    {L"-f", true, 0xFFFFFFFFFFFFFFF1u},
    {L"-0x1", true, 0xFFFFFFFFFFFFFFFFu},
    {L"3fzz", true, 0x3F},
    {L"1e7", true, 0x1E7},
    {L"0", true, 0},
    {L"00", true, 0},
    {L"0z", true, 0},
    {L"0x0", true, 0},
    {L"1234567e7", true, 0x1234567E7},
    {L"ffffffffffffffff1", true, 0xFFFFFFFFFFFFFFF1u},
    {L"", false, 0},
    {L"zz", false, 0},
    {L"-", false, 0},
    {L"+", false, 0},
    {L"0x", false, 0},
    {L"0xzz", false, 0},
    {L"-0x", false, 0},
    {L"- 5", false, 0},
    {L"+-5", false, 0},
    {L"x5", false, 0},
    {L"0x0x5", true, 0},
};

TEST(HexConversion, ReadsTheHexadecimalGrammar) {
    for (const HexCase& row : kHexCases) {
        SCOPED_TRACE(testing::Message() << "text #" << (&row - kHexCases));
        std::uint64_t value = 12345;
        ASSERT_EQ(row.converts, ConvertHexText(row.text, 100, &value));
        if (row.converts) {
            EXPECT_EQ(row.value, value);
        } else {
            EXPECT_EQ(12345u, value) << "a failed conversion leaves the value alone";
        }
    }
}

TEST(HexConversion, StopsAfterTheCharacterLimit) {
    std::uint64_t value = 0;
    ASSERT_TRUE(ConvertHexText(L"5ea7030003c90200ff", 16, &value));
    EXPECT_EQ(0x5EA7030003C90200u, value);
    ASSERT_TRUE(ConvertHexText(L"   12", 4, &value));
    EXPECT_EQ(0x1u, value);
    EXPECT_FALSE(ConvertHexText(L"    12", 4, &value));
}

TEST(HexConversion, WholeWidthValuesWrap) {
    std::uint64_t value = 0;
    ASSERT_TRUE(ConvertHexText(L"1ffffffffe7", 100, &value));
    EXPECT_EQ(0xFFFFFFE7u, static_cast<std::uint32_t>(value));
}

TEST(HexConversion, RefusedCharacterIsNotConsumed) {
    HexScan scan;
    BeginHexScan(&scan);
    EXPECT_TRUE(TakeHexCharacter(&scan, '\n'));
    EXPECT_TRUE(TakeHexCharacter(&scan, '7'));
    EXPECT_TRUE(TakeHexCharacter(&scan, 'e'));
    EXPECT_FALSE(TakeHexCharacter(&scan, 'g'));
    EXPECT_FALSE(TakeHexCharacter(&scan, '1')) << "the number has ended";
    std::uint64_t value = 0;
    ASSERT_TRUE(FinishHexScan(&scan, &value));
    EXPECT_EQ(0x7Eu, value);
}

TEST(HexConversion, NonAsciiCharactersEndTheNumber) {
    std::uint64_t value = 0;
    ASSERT_TRUE(ConvertHexText(L"3f\u0661", 100, &value));
    EXPECT_EQ(0x3Fu, value);
    EXPECT_FALSE(ConvertHexText(L"\u00a03f", 100, &value));
}

} // namespace
