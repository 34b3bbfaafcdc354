#include "registry/store/hive/hive_store.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_file.h"
#include "registry/store/hive/hive_image.h"
#include "registry/store/store_replace.h"

#include <unistd.h>

std::string OpenFilePath(int fd, const std::string& path) {
    const std::string self = ProcessFdPath(fd);
    return access(self.c_str(), R_OK) == 0 ? self : path;
}

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
