#include "cli/command_line.h"

#include "console/console.h"
#include "console/exit_status.h"
#include "guid/mask_argument.h"

#include <cstdint>
#include <string>

namespace {

const CommandLineOutcome kAccepted = {true, kExitSuccess};

CommandLineOutcome EndWith(int status) {
    return CommandLineOutcome{false, status};
}

// The -d value, whose refusal ends the run.
CommandLineOutcome TakeMaskArgument(const wchar_t* argument, RunSettings* settings) {
    std::uint32_t mask = 0;
    std::wstring refusal;
    if (!ReadMaskArgument(argument, &mask, &refusal)) {
        PrintText(refusal.c_str());
        return EndWith(kExitFailure);
    }
    settings->silentMask = mask;
    return kAccepted;
}

} // namespace

CommandLineOutcome ParseCommandLine(int argc, const wchar_t* const* argv, RunSettings* settings) {
    *settings = DefaultRunSettings();
    const wchar_t* programPath = argc > 0 ? argv[0] : L"";
    for (int index = 1; index < argc; ++index) {
        const wchar_t* argument = argv[index];
        if (argument[0] != L'-') {
            PrintUsage(programPath);
            return EndWith(kExitSuccess);
        }
        const wchar_t option = argument[1];
        if (index == argc - 1 && option == L'd') {
            PrintUsage(programPath);
            return EndWith(kExitFailure);
        }
        if (option == L'd') {
            const CommandLineOutcome outcome = TakeMaskArgument(argv[++index], settings);
            if (!outcome.run) {
                return outcome;
            }
        } else if (option == L'f') {
            settings->fix = true;
        } else if (option == L'h') {
            PrintUsage(programPath);
            return EndWith(kExitSuccess);
        } else if (option == L's') {
            settings->interactive = false;
        } else {
            PrintUsage(programPath);
            return EndWith(kExitFailure);
        }
    }
    return kAccepted;
}
