// Standard input on Windows. A console is read as the runtime reads it, in text mode, so typing
// works as in every console program: Ctrl-Z then Enter ends the input. A file or a pipe is
// read in binary mode, so that a UTF-16 reply loses no byte to text mode's CR LF rule; its
// other rule, that a Ctrl-Z character ends a file or a pipe, is kept by console_input.cpp.
#include "console/input_source.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

InputSource OpenInputSource() {
    const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0) {
        return InputSource{true, false};
    }
    _setmode(_fileno(stdin), _O_BINARY);
    // Text mode ends a file or a pipe at Ctrl-Z, but not a character device such as NUL.
    return InputSource{false, GetFileType(handle) != FILE_TYPE_CHAR};
}

int ReadInputByte() {
    const int value = std::getchar();
    return value == EOF ? -1 : value;
}
