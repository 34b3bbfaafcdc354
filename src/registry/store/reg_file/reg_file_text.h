// The text of a .reg file: UTF-16LE (with its byte-order mark) or UTF-8, read line by line.
#pragma once

#include <cstddef>
#include <string>

enum class RegFileEncoding { Utf8, Utf16Le };

enum class LineEnding { None, CrLf, Lf, Cr };

// The units of one line's bytes. A UTF-8 byte that starts no well-formed sequence is U+FFFD.
// False when the line holds a NUL character.
bool DecodeLineText(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length,
                    std::u16string* text);

// False when the units cannot be stored in the encoding as they are (UTF-8 holds no lone
// surrogate).
bool EncodableText(RegFileEncoding encoding, const char16_t* units, std::size_t length);

void EncodeText(RegFileEncoding encoding, const char16_t* units, std::size_t length,
                std::string* bytes);

// The units of a line ending ("" for None).
const char16_t* LineEndingText(LineEnding ending);

// The line ending that starts at bytes, None when there is none.
LineEnding LineEndingAt(RegFileEncoding encoding, const unsigned char* bytes, std::size_t length);
