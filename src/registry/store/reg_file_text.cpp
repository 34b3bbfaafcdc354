#include "registry/store/reg_file_text.h"

#include "cli/utf8.h"

#include <cstring>

namespace {

const bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

bool ContinuationByte(unsigned char byte) {
    return (byte & 0xC0u) == 0x80u;
}

// Length of the well-formed UTF-8 sequence at bytes (Unicode's table of well-formed byte
// sequences), or 0; DecodeUtf8 gives such a sequence its units and any other byte one U+FFFD.
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

bool HighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool LowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

} // namespace

bool DecodeLineText(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length,
                    std::u16string* text) {
    unsigned zeros = 0;
    if (encoding == RegFileEncoding::Utf16Le) {
        text->resize(length / 2);
        char16_t* units = &(*text)[0];
        if (kLittleEndianHost) {
            std::memcpy(units, bytes, length / 2 * 2);
        } else {
            for (std::size_t at = 0; at < length / 2; ++at) {
                units[at] = static_cast<char16_t>(bytes[2 * at] | (bytes[2 * at + 1] << 8));
            }
        }
        for (std::size_t at = 0; at < length / 2; ++at) {
            zeros |= units[at] == 0 ? 1u : 0u;
        }
        return zeros == 0;
    }
    unsigned highBits = 0;
    for (std::size_t at = 0; at < length; ++at) {
        highBits |= bytes[at];
        zeros |= bytes[at] == 0 ? 1u : 0u;
    }
    if (highBits < 0x80) {
        text->resize(length);
        for (std::size_t at = 0; at < length; ++at) {
            (*text)[at] = bytes[at];
        }
        return zeros == 0;
    }
    const std::wstring wide = DecodeUtf8(reinterpret_cast<const char*>(bytes), length);
    text->resize(wide.size());
    for (std::size_t at = 0; at < wide.size(); ++at) {
        (*text)[at] = static_cast<char16_t>(wide[at]);
    }
    return zeros == 0;
}

std::size_t LineByteOffset(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length,
                           std::size_t unitIndex) {
    if (encoding == RegFileEncoding::Utf16Le) {
        return 2 * unitIndex;
    }
    std::size_t at = 0;
    std::size_t units = 0;
    while (units < unitIndex && at < length) {
        const std::size_t sequence = Utf8SequenceLength(bytes + at, length - at);
        at += sequence == 0 ? 1 : sequence;
        units += sequence == 4 ? 2 : 1;
    }
    return at;
}

bool EncodableText(RegFileEncoding encoding, const char16_t* units, std::size_t length) {
    if (encoding == RegFileEncoding::Utf16Le) {
        return true;
    }
    for (std::size_t at = 0; at < length; ++at) {
        if (HighSurrogate(units[at]) && at + 1 < length && LowSurrogate(units[at + 1])) {
            ++at;
        } else if (HighSurrogate(units[at]) || LowSurrogate(units[at])) {
            return false;
        }
    }
    return true;
}

void EncodeText(RegFileEncoding encoding, const char16_t* units, std::size_t length,
                std::string* bytes) {
    if (encoding == RegFileEncoding::Utf16Le) {
        for (std::size_t at = 0; at < length; ++at) {
            bytes->push_back(static_cast<char>(units[at] & 0xFF));
            bytes->push_back(static_cast<char>(units[at] >> 8));
        }
        return;
    }
    const std::wstring wide(units, units + length);
    AppendUtf8(wide.data(), wide.size(), bytes);
}

const char16_t* LineEndingText(LineEnding ending) {
    switch (ending) {
    case LineEnding::CrLf:
        return u"\r\n";
    case LineEnding::Lf:
        return u"\n";
    case LineEnding::Cr:
        return u"\r";
    case LineEnding::None:
        break;
    }
    return u"";
}

LineEnding LineEndingAt(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length) {
    const std::size_t unitSize = encoding == RegFileEncoding::Utf16Le ? 2 : 1;
    const std::size_t units = length / unitSize;
    char16_t first = 0;
    char16_t second = 0;
    if (units >= 1) {
        first = static_cast<char16_t>(unitSize == 2 ? bytes[0] | (bytes[1] << 8) : bytes[0]);
    }
    if (units >= 2) {
        second = static_cast<char16_t>(unitSize == 2 ? bytes[2] | (bytes[3] << 8) : bytes[1]);
    }
    if (first == u'\r') {
        return second == u'\n' ? LineEnding::CrLf : LineEnding::Cr;
    }
    return first == u'\n' ? LineEnding::Lf : LineEnding::None;
}
