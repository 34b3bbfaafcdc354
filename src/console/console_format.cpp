#include "console/console_format.h"

#include "console/console.h"

#include <cstdio>
#include <cwchar>

namespace {

void AppendNumber(std::wstring* out, unsigned number, unsigned base, std::size_t minDigits) {
    wchar_t digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = L"0123456789abcdef"[number % base];
        number /= base;
    } while (number != 0);
    for (; count < minDigits; ++count) {
        digits[count] = L'0';
    }
    while (count > 0) {
        out->push_back(digits[--count]);
    }
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix) {
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

} // namespace

std::wstring ExpandMessage(const wchar_t* format, const wchar_t* text, unsigned number) {
    std::wstring out;
    for (const wchar_t* at = format; *at != L'\0'; ++at) {
        if (*at != L'%') {
            out.push_back(*at);
        } else if (StartsWith(at, L"%s")) {
            out.append(text != nullptr ? text : L"");
            at += 1;
        } else if (StartsWith(at, L"%d")) {
            AppendNumber(&out, number, 10, 1);
            at += 1;
        } else if (StartsWith(at, L"%02x")) {
            AppendNumber(&out, number, 16, 2);
            at += 3;
        } else if (StartsWith(at, L"%#x")) {
            // As printf: the 0x prefix is left out for zero.
            out.append(number != 0 ? L"0x" : L"");
            AppendNumber(&out, number, 16, 1);
            at += 2;
        } else {
            out.push_back(L'%');
            at += at[1] == L'%' ? 1 : 0;
        }
    }
    return out;
}

void PrintText(const wchar_t* text) {
    WriteConsoleText(text, std::wcslen(text));
}

void PrintErrorText(const wchar_t* text) {
    FlushConsole();
    WriteErrorText(text, std::wcslen(text));
}

// Standard error is unbuffered: fputs hands the bytes straight to the system.
void PrintErrorLiteral(const char* text) {
    std::fputs(text, stderr);
}

void PrintMessage(const wchar_t* format, const wchar_t* text) {
    const std::wstring message = ExpandMessage(format, text, 0);
    WriteConsoleText(message.data(), message.size());
}

void PrintMessage(const wchar_t* format, unsigned number) {
    const std::wstring message = ExpandMessage(format, nullptr, number);
    WriteConsoleText(message.data(), message.size());
}
