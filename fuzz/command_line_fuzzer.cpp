// Feeds the argument walk with arbitrary arguments: NUL-separated UTF-8 pieces. A refused
// command line says why (the usage text or a message) and ends with 0 or -1; an accepted one
// prints nothing, carries a valid mask (0xe7 without -d) and the operation and mode that its
// -f and -s arguments ask for.
#include "cli/command_line.h"
#include "console/console.h"
#include "guid/guid_mask.h"
#include "text/utf8.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

// Standard output goes to a memory file, so that what a walk prints can be measured.
bool CaptureStandardOutput() {
    const int memory = memfd_create("stdout", 0);
    return memory >= 0 && dup2(memory, STDOUT_FILENO) == STDOUT_FILENO;
}

off_t PrintedSoFar() {
    FlushConsole();
    return lseek(STDOUT_FILENO, 0, SEEK_CUR);
}

// The settings an accepted command line stands for, by a walk of its own: each -d takes the
// next argument as its value.
RunSettings SettingsAskedFor(const std::vector<std::wstring>& arguments, bool* maskGiven) {
    RunSettings settings = DefaultRunSettings();
    *maskGiven = false;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        const wchar_t option = arguments[index][1];
        if (option == L'd') {
            *maskGiven = true;
            ++index;
        } else if (option == L'f') {
            settings.fix = true;
        } else if (option == L's') {
            settings.interactive = false;
        }
    }
    return settings;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool captured = CaptureStandardOutput();
    if (!captured) {
        std::abort();
    }
    std::vector<std::wstring> arguments = {L"C:\\tools\\ipoib-guidmask.exe"};
    std::size_t start = 0;
    for (std::size_t at = 0; at <= size; ++at) {
        if (at == size || data[at] == 0) {
            arguments.push_back(
                DecodeUtf8(reinterpret_cast<const char*>(data) + start, at - start));
            start = at + 1;
        }
    }
    std::vector<const wchar_t*> argv;
    for (const std::wstring& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    const off_t before = PrintedSoFar();
    RunSettings settings;
    const CommandLineOutcome outcome =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings);
    const bool printed = PrintedSoFar() != before;
    if (lseek(STDOUT_FILENO, 0, SEEK_SET) != 0 || ftruncate(STDOUT_FILENO, 0) != 0) {
        std::abort();
    }
    if (!outcome.run) {
        if (!printed || (outcome.status != 0 && outcome.status != -1)) {
            std::abort();
        }
        return 0;
    }
    bool maskGiven = false;
    const RunSettings asked = SettingsAskedFor(arguments, &maskGiven);
    if (printed || IsValidGuidMask(settings.silentMask) != 0 || settings.fix != asked.fix ||
        settings.interactive != asked.interactive || (!maskGiven && settings.silentMask != 0xE7)) {
        std::abort();
    }
    return 0;
}
