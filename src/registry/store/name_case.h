// Registry names match without regard to case, as on Windows: each UTF-16 unit is upper-cased
// by a fixed table (never the C locale) and the results compare as unsigned 16-bit numbers.
#pragma once

#include <cstddef>
#include <cstdint>

char16_t UpcaseBeyondAscii(char16_t unit);

inline char16_t UpcaseUnit(char16_t unit) {
    if (unit < 0x80) {
        return unit >= u'a' && unit <= u'z' ? static_cast<char16_t>(unit - 32) : unit;
    }
    return UpcaseBeyondAscii(unit);
}

// Negative, zero or positive, as a sorts before, equal to or after b; Windows' subkey order.
int CompareNamesIgnoringCase(const char16_t* a, std::size_t aLength, const char16_t* b,
                             std::size_t bLength);

bool NamesMatch(const char16_t* a, std::size_t aLength, const char16_t* b, std::size_t bLength);

// Equal for names that match, whatever their case.
std::uint32_t HashNameIgnoringCase(std::uint32_t seed, const char16_t* name, std::size_t length);
