// A build without hive support: the .reg store alone.
#include "store_backend.h"

#include "store_files.h"

std::vector<StoreBackend> StoreBackends() {
    return {StoreBackend::Reg};
}

const char* StoreFileName(StoreBackend) {
    return "store.reg";
}

bool WriteBackendStore(StoreBackend backend, const std::string& regText, const std::string& path) {
    if (backend != StoreBackend::Reg) {
        return false;
    }
    WriteFileBytes(path, regText);
    return true;
}
