#include "cli/utf8.h"

namespace {

const unsigned kReplacement = 0xFFFD;

// Length of the well-formed sequence at bytes, or 0; the code point goes to codePoint.
std::size_t DecodeSequence(const unsigned char* bytes, std::size_t available, unsigned* codePoint) {
    const unsigned lead = bytes[0];
    std::size_t length;
    unsigned minimum;
    unsigned value;
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, value = lead & 0x07u;
    } else {
        return 0;
    }
    if (available < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0u) != 0x80u) {
            return 0;
        }
        value = (value << 6) | (bytes[i] & 0x3Fu);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    *codePoint = value;
    return length;
}

void AppendCodePoint(unsigned codePoint, std::string* out) {
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

} // namespace

std::wstring DecodeUtf8(const char* bytes, std::size_t length) {
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes);
    std::wstring out;
    out.reserve(length);
    std::size_t at = 0;
    while (at < length) {
        unsigned codePoint = kReplacement;
        const std::size_t used = DecodeSequence(data + at, length - at, &codePoint);
        at += used != 0 ? used : 1;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (codePoint >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (codePoint & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(codePoint));
        }
    }
    return out;
}

void AppendUtf8(const wchar_t* text, std::size_t length, std::string* out) {
    for (std::size_t at = 0; at < length; ++at) {
        unsigned unit = static_cast<unsigned>(text[at]) & 0xFFFFu;
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool nextIsLow =
            at + 1 < length && (static_cast<unsigned>(text[at + 1]) & 0xFC00u) == 0xDC00u;
        if (high && nextIsLow) {
            const unsigned low = static_cast<unsigned>(text[++at]) & 0x3FFu;
            unit = 0x10000 + ((unit - 0xD800) << 10) + low;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            unit = kReplacement;
        }
        AppendCodePoint(unit, out);
    }
}
