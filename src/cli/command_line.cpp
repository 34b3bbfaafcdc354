#include "cli/command_line.h"

#include "console/console.h"
#include "console/exit_status.h"
#include "guid/guid_mask.h"
#include "guid/hex_conversion.h"

#include <cstddef>

namespace {

const CommandLineOutcome kAccepted = {true, kExitSuccess};

CommandLineOutcome EndWith(int status) {
    return CommandLineOutcome{false, status};
}

// The -d value: a number whose low 8 bits must be a valid mask.
CommandLineOutcome TakeMaskArgument(const wchar_t* argument, RunSettings* settings) {
    std::uint64_t number = 0;
    if (!ConvertHexText(argument, static_cast<std::size_t>(-1), &number)) {
        PrintMessage(L"Could not convert argument %s. GUID mask is a 2-digit hexadecimal number.\n",
                     argument);
        return EndWith(kExitFailure);
    }
    const std::uint32_t value = static_cast<std::uint32_t>(number);
    if (IsValidGuidMask(value) != 0) {
        PrintMessage(L"Invalid GUID mask 0x%02x. GUID mask must contain exactly 6 non-zero bits.\n",
                     value & 0xFFu);
        return EndWith(kExitFailure);
    }
    settings->silentMask = value;
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
