#include "cli/tool_main.h"

#include "cli/command_line.h"
#include "cli/console.h"
#include "fix/run.h"
#include "registry/registry_session.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Running out of memory ends the run like any other refusal, in one line and before anything
// more is written; a write in progress is a new file that never takes the store's place.
void RefuseWithoutMemory() {
    std::fputs("ipoib-guidmask: out of memory\n", stderr);
    std::_Exit(-1);
}

} // namespace

int ToolMain(int argc, const wchar_t* const* argv) {
    std::set_new_handler(RefuseWithoutMemory);
    RunSettings settings;
    const CommandLineOutcome outcome = ParseCommandLine(argc, argv, &settings);
    FlushConsole();
    if (!outcome.run) {
        return outcome.status;
    }
    // The registry is only needed once the command line has been accepted.
    if (!OpenRegistry(RunRegistryAreas, RunRegistryAreaCount, settings.fix)) {
        return -1;
    }
    const int status = RunChecks(settings);
    FlushConsole();
    CloseRegistry();
    return status;
}
