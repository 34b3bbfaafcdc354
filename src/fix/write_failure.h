// Why a "GUIDMask" write failed and what to do about it: one line on standard error, from the
// error code the registry call returned. Standard output, the report, is left as it is.
#pragma once

#include "registry/registry_api.h"

#include <cstddef>
#include <string>
#include <vector>

// The platform's causes (write_failure_causes-posix.cpp, -win32.cpp): each row's line, and
// the line for any other code, a format with %d for the code.
struct WriteFailureCause {
    LSTATUS status;
    const wchar_t* line;
};
extern const WriteFailureCause kWriteFailureCauses[];
extern const std::size_t kWriteFailureCauseCount;
extern const wchar_t kOtherWriteFailure[];

// The lines a run has already printed: each is printed once, however many writes fail so.
struct WriteFailureLog {
    std::vector<std::wstring> linesTold;
};

// The whole line for a write that failed with status, line feed included.
std::wstring WriteFailureLine(LSTATUS status);

// Prints the line for status on standard error unless the log has it already.
void TellWriteFailure(LSTATUS status, WriteFailureLog* log);
