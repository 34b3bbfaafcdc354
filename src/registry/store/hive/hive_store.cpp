#include "registry/store/hive/hive_store.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_file.h"
#include "registry/store/hive/hive_image.h"
#include "registry/store/store_replace.h"

#include <unistd.h>

namespace {

// A name that opens the file open on fd, for a library that opens files by name; path when
// the system has no such name.
std::string OpenFilePath(int fd, const std::string& path) {
    const std::string self = ProcessFdPath(fd);
    return access(self.c_str(), R_OK) == 0 ? self : path;
}

// Sets the value of the key at keyPath (names below the hive's root) in the hive at path, open
// and locked in lock. An existing value must be named as the hive spells it.
LSTATUS CommitHiveStoreValue(const std::string& path, const std::vector<std::u16string>& keyPath,
                             const ValueToWrite& write, StoreLock* lock) {
    // The commit starts from the hive as Windows would load it, so that what only the logs
    // hold is written into the new file, which is clean and above every entry of the logs.
    HiveImage image;
    std::string problem;
    if (!PrepareHiveImage(lock->fd, OpenFilePath(lock->fd, path), path, &image, &problem) ||
        image.state == HiveReplayResult::Incomplete) {
        ReleaseHiveImage(&image);
        return ERROR_BADDB;
    }
    StoreReplacement replacement;
    std::string writePath;
    LSTATUS status = BeginStoreReplacement(path, &replacement, &writePath);
    if (status == ERROR_SUCCESS) {
        status = CommitHiveValue(image.readPath.c_str(), writePath.c_str(), keyPath, write);
        if (status != ERROR_SUCCESS) {
            AbandonStoreReplacement(&replacement);
        }
    }
    ReleaseHiveImage(&image);
    if (status != ERROR_SUCCESS) {
        return status;
    }
    return FinishStoreReplacement(path, &replacement, lock);
}

} // namespace

bool ReadHiveStore(int fd, const std::string& path, const std::vector<std::u16string>& areas,
                   KeyTree* tree, HiveLayout* layout, std::string* incomplete, std::string* what) {
    HiveImage image;
    std::uint32_t systemKey = kNoIndex;
    const bool read = PrepareHiveImage(fd, OpenFilePath(fd, path), path, &image, what) &&
                      ReadHiveFile(image.readPath.c_str(), areas, tree, &systemKey, what) &&
                      FindCurrentControlSet(*tree, systemKey, layout, what);
    ReleaseHiveImage(&image);
    if (!read) {
        InitKeyTree(tree);
        return false;
    }
    *incomplete = image.state == HiveReplayResult::Incomplete ? image.problem : "";
    return true;
}

LSTATUS WriteHiveStoreValue(const std::string& path, const HiveLayout& layout, std::uint32_t key,
                            const ValueToWrite& write, StoreLock* lock, KeyTree* tree) {
    std::vector<std::u16string> keyPath;
    if (!HiveKeyPath(*tree, layout, key, &keyPath)) {
        return ERROR_ACCESS_DENIED; // above the hive: no value is ever written there
    }
    // hivex matches value names in ASCII case only: an existing value goes by its own spelling.
    const std::uint32_t existing = FindValue(*tree, key, write.name, write.nameLength);
    const std::u16string valueName =
        existing == kNoIndex
            ? std::u16string(write.name, write.nameLength)
            : std::u16string(tree->values[existing].name, tree->values[existing].nameLength);
    const ValueToWrite spelled{valueName.data(), valueName.size(), write.type, write.data,
                               write.dataLength};
    const LSTATUS status = CommitHiveStoreValue(path, keyPath, spelled, lock);
    if (status == ERROR_SUCCESS) {
        SetValue(tree, key, spelled.name, spelled.nameLength, spelled.type, spelled.data,
                 spelled.dataLength);
    }
    return status;
}
