#include "cli/tool_main.h"

#include "cli/command_line.h"
#include "console/console.h"
#include "fix/run.h"
#include "registry/registry_session.h"
#include "text/utf8.h"

#include <cstdlib>
#include <new>
#include <string>

namespace {

// Running out of memory ends the run like any other refusal, in one line and before anything
// more is written; a write in progress is a new file that never takes the store's place.
void RefuseWithoutMemory() {
    PrintErrorLiteral("ipoib-guidmask: out of memory\n");
    std::_Exit(kExitFailure);
}

// Standard output belongs to the report; what stands in the way of the registry goes to stderr.
bool OpenRunRegistry(bool forWrites) {
    std::string report;
    const bool opened = OpenRegistry(kRunRegistryAreas, kRunRegistryAreaCount, forWrites, &report);
    if (!report.empty()) {
        PrintErrorText(DecodeUtf8(report.data(), report.size()).c_str());
    }
    return opened;
}

int RunCommandLine(int argc, const wchar_t* const* argv, RunSettings* settings) {
    const CommandLineOutcome outcome = ParseCommandLine(argc, argv, settings);
    FlushConsole();
    if (!outcome.run) {
        return outcome.status;
    }
    // The registry is only needed once the command line has been accepted.
    if (!OpenRunRegistry(settings->fix)) {
        return kExitFailure;
    }
    const int status = RunChecks(*settings);
    FlushConsole();
    CloseRegistry();
    return status;
}

} // namespace

int ToolMain(int argc, const wchar_t* const* argv) {
    std::set_new_handler(RefuseWithoutMemory);
    RunSettings settings = DefaultRunSettings();
    const int status = RunCommandLine(argc, argv, &settings);
    if (settings.interactive) {
        KeepOwnConsoleOpen();
    }
    return status;
}
