// The one place the tool writes to the console and reads typed replies. Formats are always
// literals of the program; text from arguments or the registry only ever fills a %s.
#pragma once

#include <cstddef>

// Writes text as it stands.
void PrintText(const wchar_t* text);

// A format with one %s directive, filled with text.
void PrintMessage(const wchar_t* format, const wchar_t* text);

// A format with one %d, %02x or %#x directive, filled with number.
void PrintMessage(const wchar_t* format, unsigned number);

// Writes text as it stands to standard error, after sending what standard output holds, so
// the two keep their order on one terminal.
void PrintErrorText(const wchar_t* text);

// Writes an ASCII literal of the program to standard error without allocating, for the one
// line that is left to say when memory has run out.
void PrintErrorLiteral(const char* text);

// Writes bytes to standard output as they are, with no line-end translation: a file's bytes.
void WriteOutputBytes(const char* bytes, std::size_t length);

// Sends what has been printed so far, before the tool waits for input or ends.
void FlushConsole();

// The next character of standard input, or -1 at the end of input: a byte, or a UTF-16 code
// unit where a reply file or pipe starts with the UTF-16LE mark (console_input.cpp); replies
// are ASCII.
int ReadInputCharacter();

// Gives one character back to standard input, to be read again by the next call.
void UnreadInputCharacter(int character);

// Before an interactive run ends: a console window that is the program's own (started from
// Explorer) stays open until Enter is pressed, so the report can be read. Nowhere else does
// it wait.
void KeepOwnConsoleOpen();
