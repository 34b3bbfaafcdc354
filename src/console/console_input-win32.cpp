// Standard input on Windows. A console is read as the runtime reads it, in text mode, so typing
// works as in every console program: Ctrl-Z then Enter ends the input. A file or a pipe is
// read in binary mode, so that a UTF-16 reply loses no byte to text mode's CR LF rule; its
// other rule, that a Ctrl-Z character ends a file or a pipe, is kept by console_input.cpp.
//
// Ctrl-C at the console first reaches the program as an empty read: the read returns before
// the system's thread for the Ctrl-C handler has run. Taken as the end of input, the pass
// would go on writing later adapters' masks until that thread ended the process. So after an
// empty console read the program waits a moment for the handler's word, and ends at once if
// it comes, as the system's own handler ends a program stopped by Ctrl-C.
#include "console/console_handle-win32.h"
#include "console/input_source.h"

#include <windows.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace {

// Long enough for the handler's thread to be scheduled, short enough not to be noticed at the
// end of typed input.
const DWORD kControlCWaitMilliseconds = 100;

HANDLE gControlCPressed = nullptr;
bool gInputTyped = false;

// The system calls it on its own thread. FALSE hands the event on to the system's handler,
// which ends the process as before.
BOOL WINAPI NoteControlC(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) {
        SetEvent(gControlCPressed);
    }
    return FALSE;
}

void StopIfControlCPressed() {
    if (gControlCPressed != nullptr &&
        WaitForSingleObject(gControlCPressed, kControlCWaitMilliseconds) == WAIT_OBJECT_0) {
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
}

} // namespace

InputSource OpenInputSource() {
    const HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    if (IsConsoleHandle(handle)) {
        gInputTyped = true;
        gControlCPressed = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (gControlCPressed != nullptr) {
            SetConsoleCtrlHandler(NoteControlC, TRUE);
        }
        return InputSource{true, false};
    }
    _setmode(_fileno(stdin), _O_BINARY);
    // Text mode ends a file or a pipe at Ctrl-Z, but not a character device such as NUL.
    return InputSource{false, GetFileType(handle) != FILE_TYPE_CHAR};
}

int ReadInputByte() {
    const int value = std::getchar();
    if (value != EOF) {
        return value;
    }
    if (gInputTyped) {
        StopIfControlCPressed();
    }
    return -1;
}
