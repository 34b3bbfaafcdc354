// A console program started from Explorer gets a console window of its own, which closes the
// moment the program ends, report and all. So an interactive run that has such a window to
// itself waits for Enter before it ends. It never waits where nobody may be there to press
// it: not when standard input, output or error is redirected (scripts, pipes, files), not in
// a hidden console or one without a window (a scheduled task, CREATE_NO_WINDOW, Wine on a
// Unix terminal), not in session 0 (services, tasks run whether a user is logged on or not),
// and not when another process shares the console (cmd, PowerShell, a terminal's shell),
// whose window stays open anyway.
//
// The line saying so goes to standard error: standard output is the report, and the same
// whatever the window does. Standard error is that console too whenever the line is written.
#include "console/console.h"
#include "console/console_handle-win32.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

bool IsStandardConsole(DWORD standardHandle) {
    return IsConsoleHandle(GetStdHandle(standardHandle));
}

// user32 is loaded only here, for a process that already has a console window of its own:
// linked in, it would tie every run, a service's too, to a window station and its desktop.
bool IsVisibleWindow(HWND window) {
    typedef BOOL(WINAPI * VisibilityQuery)(HWND);
    const HMODULE user32 = LoadLibraryW(L"user32.dll");
    if (user32 == nullptr) {
        return false;
    }
    const FARPROC found = GetProcAddress(user32, "IsWindowVisible");
    bool visible = false;
    if (found != nullptr) {
        VisibilityQuery query;
        std::memcpy(&query, &found, sizeof query);
        visible = query(window) != 0;
    }
    FreeLibrary(user32);
    return visible;
}

bool HasOwnVisibleConsole() {
    if (!IsStandardConsole(STD_INPUT_HANDLE) || !IsStandardConsole(STD_OUTPUT_HANDLE) ||
        !IsStandardConsole(STD_ERROR_HANDLE)) {
        return false;
    }
    DWORD processes[2];
    if (GetConsoleProcessList(processes, 2) != 1) {
        return false;
    }
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) == 0 || session == 0) {
        return false;
    }
    const HWND window = GetConsoleWindow();
    return window != nullptr && IsVisibleWindow(window);
}

// A line typed ahead during the run would end the wait at once: it is dropped first.
void WaitForEnter() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    wchar_t typed[256];
    DWORD count = 0;
    while (ReadConsoleW(input, typed, 256, &count, nullptr) != 0 && count > 0) {
        if (std::wmemchr(typed, L'\n', count) != nullptr ||
            std::wmemchr(typed, L'\r', count) != nullptr) {
            return;
        }
    }
}

} // namespace

void KeepOwnConsoleOpen() {
    if (!HasOwnVisibleConsole()) {
        return;
    }
    PrintErrorText(L"Press Enter to close this window.\n");
    WaitForEnter();
}
