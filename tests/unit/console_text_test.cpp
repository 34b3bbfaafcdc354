#include "console/console_format.h"
#include "console_capture.h"
#include "text/utf8.h"

#include <gtest/gtest.h>

namespace {

TEST(ConsoleFormat, ExpandsTheToolsDirectivesAsPrintfDoes) {
    EXPECT_EQ(L"mask 0xe7.", ExpandMessage(L"mask 0x%02x.", nullptr, 0xE7));
    EXPECT_EQ(L"mask 0x07.", ExpandMessage(L"mask 0x%02x.", nullptr, 0x07));
    EXPECT_EQ(L"mask 0x1e7.", ExpandMessage(L"mask 0x%02x.", nullptr, 0x1E7));
    EXPECT_EQ(L"mask 0xe7 ok", ExpandMessage(L"mask %#x ok", nullptr, 0xE7));
    EXPECT_EQ(L"mask 0 ok", ExpandMessage(L"mask %#x ok", nullptr, 0));
    EXPECT_EQ(L"231", ExpandMessage(L"%d", nullptr, 231));
    EXPECT_EQ(L"0", ExpandMessage(L"%d", nullptr, 0));
    EXPECT_EQ(L"100% done", ExpandMessage(L"100%% done", nullptr, 0));
}

TEST(ConsoleFormat, TextFillsPercentSOnlyAndIsNeverAFormat) {
    EXPECT_EQ(L"id {%s%d%x%n} end", ExpandMessage(L"id %s end", L"{%s%d%x%n}", 0));
    EXPECT_EQ(L"id  end", ExpandMessage(L"id %s end", L"", 0));
}

TEST(ConsoleOutput, IsUtf8WhateverTheText) {
    BeginConsoleCapture();
    PrintMessage(L"[%s]\n", L"z\u00e9\u20ac\xD834\xDD1E");
    PrintText(L"lone \xD834 surrogate\n");
    EXPECT_EQ("[z\xC3\xA9\xE2\x82\xAC\xF0\x9D\x84\x9E]\nlone \xEF\xBF\xBD surrogate\n",
              EndConsoleCapture());
}

TEST(Utf8, DecodesToUtf16UnitsAndReplacesEachBadByte) {
    const struct {
        std::string bytes;
        std::wstring text;
    } rows[] = {
        {"abc", L"abc"},
        {"\xC3\xA9", L"\u00e9"},
        {"\xF0\x9D\x84\x9E", std::wstring{wchar_t(0xD834), wchar_t(0xDD1E)}},
        {"a\xFFz", L"a\uFFFDz"},
        {"\xC3", L"\uFFFD"},
        {"\xC0\xAF", L"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"}, // encoded surrogate
        {"\xE2\x82", L"\uFFFD\uFFFD"},           // cut short
        {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.text, DecodeUtf8(row.bytes.data(), row.bytes.size())) << row.bytes;
    }
}

TEST(Utf8, EncodesWhatItDecodes) {
    const std::string bytes = "ascii \xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xEF\xBF\xBF";
    const std::wstring text = DecodeUtf8(bytes.data(), bytes.size());
    std::string again;
    AppendUtf8(text.data(), text.size(), &again);
    EXPECT_EQ(bytes, again);
}

} // namespace
