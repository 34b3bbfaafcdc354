#include "text/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

const char16_t kReplacement = 0xFFFD;

bool ContinuationByte(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

// The code point of a well-formed sequence of length bytes.
char32_t SequenceCodePoint(const unsigned char* bytes, std::size_t length) {
    static const unsigned kLeadBits[] = {0, 0x7Fu, 0x1Fu, 0x0Fu, 0x07u};
    char32_t value = bytes[0] & kLeadBits[length];
    for (std::size_t at = 1; at < length; ++at) {
        value = (value << 6) | (bytes[at] & 0x3Fu);
    }
    return value;
}

void AppendCodePoint(char32_t codePoint, std::string* out) {
    if (codePoint < 0x80) {
        out->push_back(static_cast<char>(codePoint));
    } else if (codePoint < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else if (codePoint < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    } else {
        out->push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
    }
}

// Length of the well-formed UTF-8 sequence at bytes (Unicode's table of well-formed byte
// sequences), or 0.
std::size_t Utf8SequenceLength(const unsigned char* bytes, std::size_t available) {
    const unsigned lead = bytes[0];
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned secondLow = 0x80;
    unsigned secondHigh = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        secondLow = lead == 0xE0 ? 0xA0 : 0x80;
        secondHigh = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        secondLow = lead == 0xF0 ? 0x90 : 0x80;
        secondHigh = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (available < length || bytes[1] < secondLow || bytes[1] > secondHigh) {
        return 0;
    }
    for (std::size_t at = 2; at < length; ++at) {
        if (!ContinuationByte(bytes[at])) {
            return 0;
        }
    }
    return length;
}

} // namespace

bool HighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool LowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

char32_t NextUtf8CodePoint(const unsigned char* bytes, std::size_t available, std::size_t* used) {
    *used = Utf8SequenceLength(bytes, available);
    if (*used == 0) {
        *used = 1;
        return kReplacement;
    }
    return SequenceCodePoint(bytes, *used);
}

std::size_t CodePointUnits(char32_t codePoint, char16_t* units) {
    if (codePoint < 0x10000) {
        units[0] = static_cast<char16_t>(codePoint);
        return 1;
    }
    codePoint -= 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
    return 2;
}

void DecodeUtf8(const unsigned char* bytes, std::size_t length, std::u16string* units) {
    units->clear();
    units->reserve(length);
    AppendUtf8Units(bytes, length, SIZE_MAX, units);
}

void AppendUtf8Units(const unsigned char* bytes, std::size_t length, std::size_t limit,
                     std::u16string* units) {
    std::size_t at = 0;
    while (at < length && units->size() <= limit) {
        // A run of ASCII bytes at once, as many as may be taken: most text is ASCII.
        const std::size_t most = at + std::min(length - at - 1, limit - units->size()) + 1;
        std::size_t run = at;
        while (run < most && bytes[run] < 0x80) {
            ++run;
        }
        const std::size_t held = units->size();
        units->resize(held + (run - at));
        std::copy(bytes + at, bytes + run, units->begin() + static_cast<std::ptrdiff_t>(held));
        at = run;
        if (at < most) {
            std::size_t used = 0;
            char16_t pair[2];
            const char32_t codePoint = NextUtf8CodePoint(bytes + at, length - at, &used);
            units->append(pair, CodePointUnits(codePoint, pair));
            at += used;
        }
    }
}

std::size_t Utf8UnitCount(const unsigned char* bytes, std::size_t length) {
    std::size_t count = 0;
    for (std::size_t at = 0, used = 1; at < length; at += used, ++count) {
        if (bytes[at] < 0x80) {
            used = 1; // most text is ASCII
        } else if (NextUtf8CodePoint(bytes + at, length - at, &used) >= 0x10000) {
            ++count; // a surrogate pair
        }
    }
    return count;
}

void AppendUtf8(const char16_t* units, std::size_t length, std::string* out) {
    for (std::size_t at = 0; at < length; ++at) {
        char32_t codePoint = units[at];
        if (HighSurrogate(units[at]) && at + 1 < length && LowSurrogate(units[at + 1])) {
            codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (units[++at] & 0x3FFu);
        } else if (HighSurrogate(units[at]) || LowSurrogate(units[at])) {
            codePoint = kReplacement;
        }
        AppendCodePoint(codePoint, out);
    }
}

void UnpackUtf16Le(const unsigned char* bytes, std::size_t length, char16_t* units) {
    if (length < 2) {
        return; // bytes may then be null, which memcpy must not be given
    }
    if (kLittleEndianHost) {
        std::memcpy(units, bytes, length / 2 * 2);
        return;
    }
    for (std::size_t at = 0; at < length / 2; ++at) {
        units[at] = static_cast<char16_t>(bytes[2 * at] | (bytes[2 * at + 1] << 8));
    }
}

void AppendUtf16Le(const char16_t* units, std::size_t length, std::string* out) {
    for (std::size_t at = 0; at < length; ++at) {
        out->push_back(static_cast<char>(units[at] & 0xFF));
        out->push_back(static_cast<char>(units[at] >> 8));
    }
}

std::wstring DecodeUtf8(const char* bytes, std::size_t length) {
    std::u16string units;
    DecodeUtf8(reinterpret_cast<const unsigned char*>(bytes), length, &units);
    return std::wstring(units.begin(), units.end());
}

void AppendUtf8(const wchar_t* text, std::size_t length, std::string* out) {
    std::u16string units(length, u'\0');
    for (std::size_t at = 0; at < length; ++at) {
        units[at] = static_cast<char16_t>(text[at]);
    }
    AppendUtf8(units.data(), units.size(), out);
}

std::string EncodeUtf8(const std::wstring& text) {
    std::string bytes;
    AppendUtf8(text.data(), text.size(), &bytes);
    return bytes;
}
