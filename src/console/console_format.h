// Expansion of the tool's message formats: %s, %d, %02x, %#x and %% as printf gives them.
#pragma once

#include <string>

std::wstring ExpandMessage(const wchar_t* format, const wchar_t* text, unsigned number);

// Writes wide text to standard output in the platform's own way.
void WriteConsoleText(const wchar_t* text, std::size_t length);

// The same for standard error.
void WriteErrorText(const wchar_t* text, std::size_t length);
