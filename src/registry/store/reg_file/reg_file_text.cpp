#include "registry/store/reg_file/reg_file_text.h"

#include "text/utf8.h"

bool DecodeLineText(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length,
                    std::u16string* text) {
    unsigned zeros = 0;
    if (encoding == RegFileEncoding::Utf16Le) {
        text->resize(length / 2);
        UnpackUtf16Le(bytes, length, &(*text)[0]);
        for (std::size_t at = 0; at < text->size(); ++at) {
            zeros |= (*text)[at] == 0 ? 1u : 0u;
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
    DecodeUtf8(bytes, length, text);
    return zeros == 0;
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
        AppendUtf16Le(units, length, bytes);
        return;
    }
    AppendUtf8(units, length, bytes);
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
    char16_t units[2] = {0, 0};
    if (encoding == RegFileEncoding::Utf16Le) {
        UnpackUtf16Le(bytes, length < 4 ? length : 4, units);
    } else {
        for (std::size_t at = 0; at < length && at < 2; ++at) {
            units[at] = bytes[at];
        }
    }
    const char16_t first = units[0];
    const char16_t second = units[1];
    if (first == u'\r') {
        return second == u'\n' ? LineEnding::CrLf : LineEnding::Cr;
    }
    return first == u'\n' ? LineEnding::Lf : LineEnding::None;
}
