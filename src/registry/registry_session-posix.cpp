#include "registry/registry_session.h"

#include "registry/store/registry_store.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char kStoreVariable[] = "IPOIB_GUIDMASK_REGISTRY";

// Standard output belongs to the report; a registry that cannot be had is told on stderr.
void ReportStoreProblem(const std::string& problem) {
    const std::string line = "ipoib-guidmask: " + problem + "\n";
    std::fputs(line.c_str(), stderr);
}

} // namespace

bool OpenRegistry() {
    const char* path = std::getenv(kStoreVariable);
    if (path == nullptr || *path == '\0') {
        ReportStoreProblem(std::string("registry store not named: set ") + kStoreVariable +
                           " to a .reg file or a SYSTEM hive file");
        return false;
    }
    std::string error;
    if (!LoadRegistryStore(path, &error)) {
        ReportStoreProblem(error);
        return false;
    }
    return true;
}

void CloseRegistry() {
    UnloadRegistryStore();
}
