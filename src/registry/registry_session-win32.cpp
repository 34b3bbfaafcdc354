#include "registry/registry_session.h"

bool OpenRegistry(const wchar_t* const*, std::size_t, bool, std::string*) {
    return true;
}

bool OpenRegistryStore(const char* path, const char* programName, const wchar_t* const*,
                       std::size_t, bool, std::string* report) {
    report->append(std::string(programName) + ": " + path +
                   ": registry files are read by POSIX builds only; this program reads the "
                   "machine's registry\n");
    return false;
}

void CloseRegistry() {}
