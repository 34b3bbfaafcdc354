#include "registry/store/name_case.h"

namespace {

// Lower-case units from first to last, every step-th one, become unit + delta. Only pairs
// within one script are listed: the few Unicode mappings that cross into ASCII or another
// script (micro sign, dotless i, long s) are left alone, so names that look different never
// merge.
struct UpcaseRange {
    char16_t first;
    char16_t last;
    unsigned step;
    int delta;
};

const UpcaseRange kUpcaseRanges[] = {
    {u'\u00E0', u'\u00F6', 1, -32}, {u'\u00F8', u'\u00FE', 1, -32},
    {u'\u00FF', u'\u00FF', 1, 121}, // y with diaeresis -> U+0178
    {u'\u0101', u'\u012F', 2, -1},  {u'\u0133', u'\u0137', 2, -1},
    {u'\u013A', u'\u0148', 2, -1},  {u'\u014B', u'\u0177', 2, -1},
    {u'\u017A', u'\u017E', 2, -1},  {u'\u03AC', u'\u03AC', 1, -38},
    {u'\u03AD', u'\u03AF', 1, -37}, {u'\u03B1', u'\u03C1', 1, -32},
    {u'\u03C2', u'\u03C2', 1, -31}, // final sigma -> capital sigma
    {u'\u03C3', u'\u03CB', 1, -32}, {u'\u03CC', u'\u03CC', 1, -64},
    {u'\u03CD', u'\u03CE', 1, -63}, {u'\u03E3', u'\u03EF', 2, -1},
    {u'\u0430', u'\u044F', 1, -32}, {u'\u0450', u'\u045F', 1, -80},
    {u'\u0461', u'\u0481', 2, -1},  {u'\u048B', u'\u04BF', 2, -1},
    {u'\u04C2', u'\u04CE', 2, -1},  {u'\u04CF', u'\u04CF', 1, -15},
    {u'\u04D1', u'\u052F', 2, -1},  {u'\uFF41', u'\uFF5A', 1, -32},
};

} // namespace

char16_t UpcaseBeyondAscii(char16_t unit) {
    for (const UpcaseRange& range : kUpcaseRanges) {
        if (unit >= range.first && unit <= range.last &&
            (static_cast<unsigned>(unit - range.first) % range.step) == 0) {
            return static_cast<char16_t>(static_cast<int>(unit) + range.delta);
        }
    }
    return unit;
}

int CompareNamesIgnoringCase(const char16_t* a, std::size_t aLength, const char16_t* b,
                             std::size_t bLength) {
    const std::size_t shorter = aLength < bLength ? aLength : bLength;
    for (std::size_t at = 0; at < shorter; ++at) {
        if (a[at] == b[at]) {
            continue;
        }
        const int difference = static_cast<int>(UpcaseUnit(a[at])) - UpcaseUnit(b[at]);
        if (difference != 0) {
            return difference;
        }
    }
    return aLength < bLength ? -1 : (aLength > bLength ? 1 : 0);
}

bool NamesMatch(const char16_t* a, std::size_t aLength, const char16_t* b, std::size_t bLength) {
    return aLength == bLength && CompareNamesIgnoringCase(a, aLength, b, bLength) == 0;
}

std::uint32_t HashNameIgnoringCase(std::uint32_t seed, const char16_t* name, std::size_t length) {
    // FNV-1a over the upper-cased units.
    std::uint32_t hash = 2166136261u ^ seed;
    for (std::size_t at = 0; at < length; ++at) {
        hash = (hash ^ UpcaseUnit(name[at])) * 16777619u;
    }
    return hash;
}
