#include "guid/hex_conversion.h"

namespace {

enum HexStage {
    kBeforeNumber, // white space may still come, or the sign
    kAfterSign,    // a 0x prefix or the first digit
    kAfterZero,    // a lone leading zero: a digit, or the start of the 0x prefix
    kAfterPrefix,  // the prefix was read; a digit must follow
    kInDigits,
    kDone,
};

int HexDigitValue(unsigned character) {
    if (character >= '0' && character <= '9') {
        return static_cast<int>(character - '0');
    }
    if (character >= 'a' && character <= 'f') {
        return static_cast<int>(character - 'a' + 10);
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<int>(character - 'A' + 10);
    }
    return -1;
}

void AddDigit(HexScan* scan, int digit) {
    scan->value = scan->value * 16u + static_cast<unsigned>(digit);
    scan->sawDigit = true;
    scan->stage = kInDigits;
}

bool IsHexWhiteSpace(unsigned character) {
    return character == ' ' || (character >= '\t' && character <= '\r');
}

} // namespace

void BeginHexScan(HexScan* scan) {
    scan->stage = kBeforeNumber;
    scan->negative = false;
    scan->sawDigit = false;
    scan->value = 0;
}

bool TakeHexCharacter(HexScan* scan, unsigned character) {
    const int digit = HexDigitValue(character);
    switch (scan->stage) {
    case kBeforeNumber:
        if (IsHexWhiteSpace(character)) {
            return true;
        }
        if (character == '+' || character == '-') {
            scan->negative = character == '-';
            scan->stage = kAfterSign;
            return true;
        }
        [[fallthrough]];
    case kAfterSign:
        if (character == '0') {
            scan->sawDigit = true;
            scan->stage = kAfterZero;
            return true;
        }
        break;
    case kAfterZero:
        if (character == 'x' || character == 'X') {
            scan->sawDigit = false;
            scan->stage = kAfterPrefix;
            return true;
        }
        break;
    default:
        break;
    }
    if (scan->stage == kDone || digit < 0) {
        scan->stage = kDone;
        return false;
    }
    AddDigit(scan, digit);
    return true;
}

bool FinishHexScan(const HexScan* scan, std::uint64_t* value) {
    if (!scan->sawDigit) {
        return false;
    }
    *value = scan->negative ? 0u - scan->value : scan->value;
    return true;
}

bool ConvertHexText(const wchar_t* text, std::size_t maxCharacters, std::uint64_t* value) {
    HexScan scan;
    BeginHexScan(&scan);
    for (std::size_t i = 0; i < maxCharacters && text[i] != L'\0'; ++i) {
        if (!TakeHexCharacter(&scan, static_cast<unsigned>(text[i]))) {
            break;
        }
    }
    return FinishHexScan(&scan, value);
}
