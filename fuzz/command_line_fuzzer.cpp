// Feeds the argument walk with arbitrary arguments: NUL-separated UTF-8 pieces.
#include "cli/command_line.h"
#include "cli/console.h"
#include "cli/utf8.h"
#include "guid/guid_mask.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
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
    RunSettings settings;
    const CommandLineOutcome outcome =
        ParseCommandLine(static_cast<int>(argv.size()), argv.data(), &settings);
    FlushConsole();
    // An accepted command line always carries a valid mask; a refused one ends with 0 or -1.
    if (outcome.run && IsValidGuidMask(settings.silentMask) != 0) {
        std::abort();
    }
    if (!outcome.run && outcome.status != 0 && outcome.status != -1) {
        std::abort();
    }
    return 0;
}
