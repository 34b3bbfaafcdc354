// Whether a standard handle is a console, which is read and written as a console and not as a
// file or a pipe. Windows builds only.
#pragma once

#include <windows.h>

inline bool IsConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetConsoleMode(handle, &mode) != 0;
}
