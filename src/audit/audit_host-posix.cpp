#include "audit/audit_host.h"

#include "fix/run.h"
#include "text/utf8.h"

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

// The files of the stores audited so far (device and inode), which an import file must never
// replace: in an export's own folder, --reg-dir . would otherwise write over the export.
std::vector<std::pair<dev_t, ino_t>> gStoreFiles;

void RememberStoreFile(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        gStoreFiles.emplace_back(status.st_dev, status.st_ino);
    }
}

bool IsStoreFile(const std::string& path) {
    struct stat status;
    if (stat(path.c_str(), &status) != 0) {
        return false;
    }
    for (const std::pair<dev_t, ino_t>& file : gStoreFiles) {
        if (file.first == status.st_dev && file.second == status.st_ino) {
            return true;
        }
    }
    return false;
}

} // namespace

bool AuditTakesStores() {
    return true;
}

RegistryOpening OpenHostRegistry(const wchar_t* store, std::string* label) {
    std::string path;
    if (store != nullptr) {
        path = EncodeUtf8(store);
    } else if (const char* named = std::getenv("IPOIB_GUIDMASK_REGISTRY")) {
        path = named;
    }
    *label = path;
    if (store == nullptr && path.empty()) {
        RegistryOpening opening;
        opening.problem = kStoreNotNamed;
        return opening;
    }
    RememberStoreFile(path);
    return OpenRegistryStore(path.c_str(), kRunRegistryAreas, kRunRegistryAreaCount, false);
}

std::FILE* OpenOutputFile(const std::wstring& path, std::wstring* problem) {
    const std::string name = EncodeUtf8(path);
    if (IsStoreFile(name)) {
        *problem = L"it is one of the stores audited, which the audit never writes";
        return nullptr;
    }
    return std::fopen(name.c_str(), "wb");
}
