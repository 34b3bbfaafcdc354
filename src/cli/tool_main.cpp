#include "cli/tool_main.h"

#include "cli/command_line.h"
#include "cli/console.h"

int ToolMain(int argc, const wchar_t* const* argv) {
    RunSettings settings;
    const CommandLineOutcome outcome = ParseCommandLine(argc, argv, &settings);
    FlushConsole();
    if (!outcome.run) {
        return outcome.status;
    }
    return 0;
}
