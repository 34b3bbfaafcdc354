// The "%x" reading of a hexadecimal number, shared by the -d argument, the port GUID in an
// instance identifier and the mask prompt: leading white space, an optional sign, an optional
// 0x or 0X prefix, then hexadecimal digits up to the first character that is not one. The
// number wraps modulo 2^64 (callers that want 32 bits keep the low 32), and a minus sign
// negates it in two's complement. A sign or a prefix with no digit behind it converts nothing.
#pragma once

#include <cstddef>
#include <cstdint>

// A number read one character at a time, so that text and the console share one grammar.
struct HexScan {
    int stage;
    bool negative;
    bool sawDigit;
    std::uint64_t value;
};

void BeginHexScan(HexScan* scan);

// Offers the next character (a UTF-16 code unit). Returns true when the character is part of
// the number; the first character refused ends the number and is not consumed.
bool TakeHexCharacter(HexScan* scan, unsigned character);

// True when at least one digit was read; the number is then stored in value.
bool FinishHexScan(const HexScan* scan, std::uint64_t* value);

// Reads at most maxCharacters of text (stopping at its terminating zero). True when a number
// converted.
bool ConvertHexText(const wchar_t* text, std::size_t maxCharacters, std::uint64_t* value);
