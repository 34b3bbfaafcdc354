// The program's text codec. Text is held as UTF-16 code units (char16_t) and read from or
// written as UTF-8 or UTF-16LE bytes; the console's wide text holds the same units, one per
// wchar_t element, whatever the width of wchar_t.
#pragma once

#include <cstddef>
#include <string>

// UTF-16LE bytes can then be read as units where they lie.
const bool kLittleEndianHost = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

bool HighSurrogate(char16_t unit);
bool LowSurrogate(char16_t unit);

// The code point of the UTF-8 sequence at bytes (available > 0) and in *used its length; a byte
// that starts no well-formed sequence is U+FFFD, of length 1.
char32_t NextUtf8CodePoint(const unsigned char* bytes, std::size_t available, std::size_t* used);

// The one or two units of a code point into units; returns how many.
std::size_t CodePointUnits(char32_t codePoint, char16_t* units);

// Each byte that does not start a well-formed UTF-8 sequence becomes U+FFFD.
void DecodeUtf8(const unsigned char* bytes, std::size_t length, std::u16string* units);

// Appends the units of the bytes, decoded as DecodeUtf8 does, but stops once units holds more
// than limit: enough to tell text longer than limit without decoding all of it.
void AppendUtf8Units(const unsigned char* bytes, std::size_t length, std::size_t limit,
                     std::u16string* units);

// The number of units DecodeUtf8 makes of the bytes.
std::size_t Utf8UnitCount(const unsigned char* bytes, std::size_t length);

// A surrogate that is not half of a pair becomes U+FFFD.
void AppendUtf8(const char16_t* units, std::size_t length, std::string* out);

// The length / 2 units that UTF-16LE bytes hold, into units.
void UnpackUtf16Le(const unsigned char* bytes, std::size_t length, char16_t* units);

void AppendUtf16Le(const char16_t* units, std::size_t length, std::string* out);

// The console's wide text, from and to UTF-8 as above.
std::wstring DecodeUtf8(const char* bytes, std::size_t length);
void AppendUtf8(const wchar_t* text, std::size_t length, std::string* out);
std::string EncodeUtf8(const std::wstring& text);
