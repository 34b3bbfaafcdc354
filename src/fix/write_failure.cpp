#include "fix/write_failure.h"

#include "console/console.h"
#include "console/console_format.h"

#include <algorithm>

std::wstring WriteFailureLine(LSTATUS status) {
    std::wstring line = L"ipoib-guidmask: \"GUIDMask\" could not be written: ";
    for (std::size_t row = 0; row < kWriteFailureCauseCount; ++row) {
        if (kWriteFailureCauses[row].status == status) {
            return line + kWriteFailureCauses[row].line + L"\n";
        }
    }
    return line + ExpandMessage(kOtherWriteFailure, nullptr, static_cast<unsigned>(status)) + L"\n";
}

void TellWriteFailure(LSTATUS status, WriteFailureLog* log) {
    const std::wstring line = WriteFailureLine(status);
    if (std::find(log->linesTold.begin(), log->linesTold.end(), line) != log->linesTold.end()) {
        return;
    }
    log->linesTold.push_back(line);
    PrintErrorText(line.c_str());
}
