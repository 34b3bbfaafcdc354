// A build with hive support: the .reg store and the hive built from the same text.
#include "store_backend.h"

#include "hive_builder.h"
#include "store_files.h"

#include <unistd.h>

std::vector<StoreBackend> StoreBackends() {
    return {StoreBackend::Reg, StoreBackend::Hive};
}

const char* StoreFileName(StoreBackend backend) {
    return backend == StoreBackend::Reg ? "store.reg" : "SYSTEM";
}

bool WriteBackendStore(StoreBackend backend, const std::string& regText, const std::string& path) {
    if (backend == StoreBackend::Reg) {
        WriteFileBytes(path, regText);
        return true;
    }
    const std::string regPath = path + ".source.reg";
    WriteFileBytes(regPath, regText);
    std::string error;
    const bool built = BuildHiveFromRegFile(regPath, path, kStandardHive, &error);
    return unlink(regPath.c_str()) == 0 && built;
}
