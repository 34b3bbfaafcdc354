#include "console/console.h"
#include "console/console_format.h"
#include "text/utf8.h"

#include <cstdio>
#include <string>

// UTF-8 whatever the locale: the bytes are the same under LANG=C and a UTF-8 locale.
namespace {

void WriteUtf8(const wchar_t* text, std::size_t length, std::FILE* stream) {
    std::string bytes;
    AppendUtf8(text, length, &bytes);
    std::fwrite(bytes.data(), 1, bytes.size(), stream);
}

} // namespace

void WriteConsoleText(const wchar_t* text, std::size_t length) {
    WriteUtf8(text, length, stdout);
}

void WriteErrorText(const wchar_t* text, std::size_t length) {
    WriteUtf8(text, length, stderr);
}

void WriteOutputBytes(const char* bytes, std::size_t length) {
    std::fwrite(bytes, 1, length, stdout);
}

void FlushConsole() {
    std::fflush(stdout);
}
