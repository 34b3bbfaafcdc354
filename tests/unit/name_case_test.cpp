// Registry names compared as Windows compares them: upper-cased by a fixed table.
#include "registry/store/name_case.h"

#include <gtest/gtest.h>
#include <string>

namespace {

struct UpcaseCase {
    char16_t unit;
    char16_t upper;
};

const UpcaseCase kUpcaseCases[] = {
    {u'a', u'A'},           {u'z', u'Z'},           {u'A', u'A'},           {u'{', u'{'},
    {u'\u00E0', u'\u00C0'}, {u'\u00F7', u'\u00F7'}, {u'\u00FE', u'\u00DE'}, {u'\u00FF', u'\u0178'},
    {u'\u00DF', u'\u00DF'}, {u'\u00B5', u'\u00B5'}, {u'\u0101', u'\u0100'}, {u'\u0100', u'\u0100'},
    {u'\u0131', u'\u0131'}, {u'\u013A', u'\u0139'}, {u'\u0149', u'\u0149'}, {u'\u017E', u'\u017D'},
    {u'\u017F', u'\u017F'}, {u'\u03B1', u'\u0391'}, {u'\u03C2', u'\u03A3'}, {u'\u03AC', u'\u0386'},
    {u'\u03CE', u'\u038F'}, {u'\u0430', u'\u0410'}, {u'\u044F', u'\u042F'}, {u'\u0451', u'\u0401'},
    {u'\u0461', u'\u0460'}, {u'\u04CF', u'\u04C0'}, {u'\u04D1', u'\u04D0'}, {u'\uFF41', u'\uFF21'},
    {u'\u4E00', u'\u4E00'},
};

TEST(NameCase, UpcasesByTheTable) {
    for (const UpcaseCase& row : kUpcaseCases) {
        EXPECT_EQ(static_cast<int>(row.upper), static_cast<int>(UpcaseUnit(row.unit)))
            << std::hex << static_cast<int>(row.unit);
    }
}

struct OrderCase {
    const char16_t* a;
    const char16_t* b;
    int order; // -1, 0 or 1
};

const OrderCase kOrderCases[] = {
    {u"a", u"B", -1},          {u"_", u"b", 1},       {u"ab", u"AB", 0},         {u"a", u"ab", -1},
    {u"\u00E4", u"\u00C4", 0}, {u"Z", u"\u00E4", -1}, {u"\u044F", u"\u042F", 0}, {u"", u"", 0},
    {u"b", u"a", 1},
};

int Sign(int number) {
    return (number > 0) - (number < 0);
}

TEST(NameCase, ComparesOnUpperCasedUnits) {
    for (const OrderCase& row : kOrderCases) {
        const std::u16string a = row.a;
        const std::u16string b = row.b;
        SCOPED_TRACE(testing::Message() << "pair #" << (&row - kOrderCases));
        EXPECT_EQ(row.order,
                  Sign(CompareNamesIgnoringCase(a.data(), a.size(), b.data(), b.size())));
        EXPECT_EQ(row.order == 0, NamesMatch(a.data(), a.size(), b.data(), b.size()));
        if (row.order == 0) {
            EXPECT_EQ(HashNameIgnoringCase(7, a.data(), a.size()),
                      HashNameIgnoringCase(7, b.data(), b.size()));
        }
    }
}

} // namespace
