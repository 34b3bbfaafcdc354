// UTF-8 to and from wide text whose elements are UTF-16 code units (how the tool holds all
// text, whatever the width of wchar_t).
#pragma once

#include <cstddef>
#include <string>

// Each byte that does not start a well-formed UTF-8 sequence becomes U+FFFD.
std::wstring DecodeUtf8(const char* bytes, std::size_t length);

// A surrogate that is not half of a pair becomes U+FFFD.
void AppendUtf8(const wchar_t* text, std::size_t length, std::string* out);
