#include "cli/tool_main.h"

#include "cli/command_line.h"
#include "cli/console.h"
#include "fix/run.h"
#include "registry/registry_session.h"

int ToolMain(int argc, const wchar_t* const* argv) {
    RunSettings settings;
    const CommandLineOutcome outcome = ParseCommandLine(argc, argv, &settings);
    FlushConsole();
    if (!outcome.run) {
        return outcome.status;
    }
    // The registry is only needed once the command line has been accepted.
    if (!OpenRegistry(RunRegistryAreas, RunRegistryAreaCount)) {
        return -1;
    }
    const int status = RunChecks(settings);
    FlushConsole();
    CloseRegistry();
    return status;
}
