// Console text on Windows, standard output and standard error alike. A real console gets the
// UTF-16 text itself through WriteConsoleW, whatever its code page, so every character shows as
// it is. Anything else (a pipe, a file, NUL) gets UTF-8 bytes through the runtime's stdout or
// stderr, which stay in text mode: each line feed leaves as CR LF, as with the platform's other
// console programs. Standard input is left in its own default mode, so the prompt's getchar
// reads the reply's bytes as they are typed.
#include "console/console.h"
#include "console/console_format.h"
#include "console/console_handle-win32.h"
#include "text/utf8.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

enum ConsoleOutputKind { kOutputNotChecked, kOutputToConsole, kOutputToStream };

ConsoleOutputKind gOutputKind = kOutputNotChecked;
ConsoleOutputKind gErrorKind = kOutputNotChecked;

ConsoleOutputKind FindConsoleOutputKind(HANDLE handle) {
    if (!IsConsoleHandle(handle)) {
        return kOutputToStream;
    }
    return kOutputToConsole;
}

// WriteConsoleW may take less than it is given; a chunk never ends between the two halves of
// a surrogate pair, so each call gets whole characters.
void WriteToConsole(HANDLE handle, const wchar_t* text, std::size_t length) {
    const std::size_t maxChunk = 4096;
    while (length > 0) {
        std::size_t chunk = length < maxChunk ? length : maxChunk;
        if (chunk < length && chunk > 1 && text[chunk - 1] >= 0xD800 && text[chunk - 1] <= 0xDBFF) {
            --chunk;
        }
        DWORD written = 0;
        if (WriteConsoleW(handle, text, static_cast<DWORD>(chunk), &written, nullptr) == 0 ||
            written == 0) {
            return;
        }
        text += written;
        length -= written;
    }
}

// Standard output or standard error, told apart by the handle, the kind seen and the stream.
void WriteStandardText(DWORD standardHandle, ConsoleOutputKind* kind, std::FILE* stream,
                       const wchar_t* text, std::size_t length) {
    const HANDLE handle = GetStdHandle(standardHandle);
    if (*kind == kOutputNotChecked) {
        *kind = FindConsoleOutputKind(handle);
    }
    if (*kind == kOutputToConsole) {
        WriteToConsole(handle, text, length);
        return;
    }
    std::string bytes;
    AppendUtf8(text, length, &bytes);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

} // namespace

void WriteConsoleText(const wchar_t* text, std::size_t length) {
    WriteStandardText(STD_OUTPUT_HANDLE, &gOutputKind, stdout, text, length);
}

void WriteErrorText(const wchar_t* text, std::size_t length) {
    WriteStandardText(STD_ERROR_HANDLE, &gErrorKind, stderr, text, length);
}

// Text mode would turn each line feed into CR LF, so the bytes go out in binary mode.
void WriteOutputBytes(const char* bytes, std::size_t length) {
    std::fflush(stdout);
    const int previous = _setmode(_fileno(stdout), _O_BINARY);
    std::fwrite(bytes, 1, length, stdout);
    std::fflush(stdout);
    _setmode(_fileno(stdout), previous);
}

void FlushConsole() {
    std::fflush(stdout);
}
