#include "cli/tool_main.h"

#include "cli/command_line.h"
#include "console/console.h"
#include "fix/run.h"
#include "registry/registry_opening_text.h"
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

const char kLinePrefix[] = "ipoib-guidmask: ";

// The program's lines for standard error (UTF-8) about opening the registry: why it could not
// be opened, or what the run may miss. A store without the keys the run reads is most often an
// export of the wrong key: the run goes on (it finds nothing), and one line says what the store
// holds and what is needed. Of the machine's registry the run's own report says what is missing.
std::string RegistryLines(const RegistryOpening& opening) {
    switch (opening.problem) {
    case kStoreNotNamed:
        return std::string(kLinePrefix) + "registry store not named: set IPOIB_GUIDMASK_REGISTRY "
                                          "to a .reg file or a SYSTEM hive file\n";
    case kStoreUnreadable:
        return std::string(kLinePrefix) + StorePlace(opening) + ": " + opening.what + "\n";
    case kStoreNotUpToDate:
        return std::string(kLinePrefix) + opening.path + ": " + NotUpToDateText(opening) + "\n";
    case kRegistryOpened:
        break;
    }
    std::string lines;
    if (!opening.incomplete.empty()) {
        lines += std::string(kLinePrefix) + opening.path + ": warning: " + IncompleteText(opening) +
                 "\n";
    }
    if (!opening.missingAreas.empty() && !opening.path.empty()) {
        std::string key;
        const std::string holds = MissingAreasText(opening, &key);
        lines += std::string(kLinePrefix) + opening.path + ": warning: the store " + holds +
                 ": the run needs an export of that key (reg export HKLM\\" + key +
                 " FILE.reg) or the image's SYSTEM hive\n";
    }
    return lines;
}

// Standard output belongs to the report; what stands in the way of the registry goes to stderr.
bool OpenRunRegistry(bool forWrites) {
    const RegistryOpening opening =
        OpenRegistry(kRunRegistryAreas, kRunRegistryAreaCount, forWrites);
    const std::string lines = RegistryLines(opening);
    if (!lines.empty()) {
        PrintErrorText(DecodeUtf8(lines.data(), lines.size()).c_str());
    }
    return opening.opened;
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
