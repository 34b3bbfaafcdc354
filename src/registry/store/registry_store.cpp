#include "registry/store/registry_store.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_diagnosis.h"
#include "registry/store/hive/hive_layout.h"
#include "registry/store/hive/hive_store.h"
#include "registry/store/reg_file/reg_file_reader.h"
#include "registry/store/reg_file/reg_file_writer.h"
#include "registry/store/store_format_diagnosis.h"
#include "registry/store/store_lock.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// The permission bits that let someone write the file.
const mode_t kWritePermissions = S_IWUSR | S_IWGRP | S_IWOTH;

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
const std::uint64_t kFileTimeEpochSeconds = 11644473600u;

// What a writer must know of the file's format: a .reg file's layout, or where a hive is.
struct StoreShape {
    bool hive;
    RegFileLayout regFile;
    HiveLayout hiveLayout;
    std::string incomplete; // a dirty hive read without its logs: why they could not be replayed
};

struct RegistryStore {
    bool loaded;
    std::string filePath; // the file itself, symbolic links resolved: what is locked and replaced
    std::vector<std::u16string> areas; // what is kept of the file, at the load and each re-read
    KeyTree tree;
    StoreShape shape;
    FileIdentity identity; // of the file as loaded or as last written
};

RegistryStore gStore;

// The format's reader: fills a fresh tree from the file open on fd (at path), a hive file or a
// .reg file by its first bytes.
bool ReadStoreFile(int fd, const std::string& path, const std::vector<std::u16string>& areas,
                   KeyTree* tree, StoreShape* shape, RegFileError* error) {
    std::string start;
    shape->hive = ReadBytesAt(fd, 0, kHiveSignatureLength, &start) &&
                  StartsAsHive(reinterpret_cast<const unsigned char*>(start.data()), start.size());
    shape->hiveLayout = HiveLayout{kNoIndex, kNoIndex};
    shape->incomplete.clear();
    shape->regFile.keysOutsideAreas.clear();
    std::string bytes;
    std::uint64_t size = 0;
    if (ReadStoreFileStart(fd, &bytes, &size) &&
        (LooksLikeHive(bytes) ? DiagnoseHiveFile(bytes, size, &error->what)
                              : DiagnoseStoreFile(bytes, size, &error->what))) {
        error->line = 0;
        return false;
    }
    if (shape->hive) {
        error->line = 0;
        return ReadHiveStore(fd, path, areas, tree, &shape->hiveLayout, &shape->incomplete,
                             &error->what);
    }
    return ReadRegFile(fd, areas, tree, &shape->regFile, error);
}

// Re-reads the locked file when it is not the one this process loaded or last wrote.
LSTATUS RefreshFromLockedFile(const StoreLock& lock) {
    if (SameFileIdentity(lock.identity, gStore.identity)) {
        return ERROR_SUCCESS;
    }
    KeyTree tree;
    StoreShape shape;
    RegFileError error;
    if (!ReadStoreFile(lock.fd, gStore.filePath, gStore.areas, &tree, &shape, &error)) {
        return ERROR_BADDB;
    }
    gStore.tree = std::move(tree);
    gStore.shape = shape;
    gStore.identity = lock.identity;
    return ERROR_SUCCESS;
}

LSTATUS WriteLocked(const char16_t* keyPath, std::size_t keyPathLength, const ValueToWrite& write,
                    StoreLock* lock) {
    if ((lock->mode & kWritePermissions) == 0) {
        return ERROR_ACCESS_DENIED;
    }
    const LSTATUS refreshed = RefreshFromLockedFile(*lock);
    if (refreshed != ERROR_SUCCESS) {
        return refreshed;
    }
    const std::uint32_t key = FindStoreKey(keyPath, keyPathLength);
    if (key == kNoIndex) {
        return ERROR_KEY_DELETED;
    }
    const LSTATUS written = gStore.shape.hive
                                ? WriteHiveStoreValue(gStore.filePath, gStore.shape.hiveLayout, key,
                                                      write, lock, &gStore.tree)
                                : WriteRegFileValue(gStore.filePath, gStore.shape.regFile, key,
                                                    write, lock, &gStore.tree);
    if (written == ERROR_SUCCESS) {
        gStore.identity = lock->identity;
    }
    return written;
}

} // namespace

bool LoadRegistryStore(const char* path, std::string* error) {
    StoreLoadError failure;
    if (LoadRegistryStore(path, std::vector<std::u16string>(), &failure)) {
        return true;
    }
    *error = path;
    if (failure.line != 0) {
        *error += ":" + std::to_string(failure.line);
    }
    *error += ": " + failure.what;
    return false;
}

bool LoadRegistryStore(const char* path, const std::vector<std::u16string>& areas,
                       StoreLoadError* error) {
    UnloadRegistryStore();
    RegFileError failure{0, ""};
    char* resolved = realpath(path, nullptr);
    const int fd = resolved == nullptr ? -1 : open(resolved, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    StoreLock described;
    if (fd < 0 || !DescribeOpenFile(fd, &described)) {
        failure.what = std::string("cannot open the registry store: ") + std::strerror(errno);
    } else if (!described.regularFile) {
        failure.what = "the registry store is not a regular file";
    } else if (described.identity.size >= kNoOffset) {
        failure.what = "the registry store is too large (4 GiB or more)";
    } else if (ReadStoreFile(fd, resolved, areas, &gStore.tree, &gStore.shape, &failure)) {
        gStore.loaded = true;
        gStore.areas = areas;
        gStore.filePath = resolved;
        gStore.identity = described.identity;
    }
    if (fd >= 0) {
        close(fd);
    }
    std::free(resolved);
    if (!gStore.loaded) {
        InitKeyTree(&gStore.tree);
        error->line = failure.line;
        error->what = failure.what;
    }
    return gStore.loaded;
}

void UnloadRegistryStore() {
    gStore.loaded = false;
    gStore.shape.hive = false;
    gStore.shape.hiveLayout = HiveLayout{kNoIndex, kNoIndex};
    gStore.shape.incomplete.clear();
    gStore.filePath.clear();
    gStore.areas.clear();
    InitKeyTree(&gStore.tree);
}

bool RegistryStoreLoaded() {
    return gStore.loaded;
}

const std::string& StoreIncompleteReason() {
    return gStore.shape.incomplete;
}

std::vector<std::u16string> StoreAreasMissing() {
    std::vector<std::u16string> missing;
    for (const std::u16string& area : gStore.areas) {
        if (FindStoreKey(area.data(), area.size()) == kNoIndex) {
            missing.push_back(area);
        }
    }
    return missing;
}

const std::vector<std::u16string>& StoreKeysOutsideAreas() {
    return gStore.shape.regFile.keysOutsideAreas;
}

const KeyTree& StoreTree() {
    return gStore.tree;
}

std::uint32_t FindStoreKey(const char16_t* path, std::size_t length) {
    if (!gStore.loaded) {
        return kNoIndex;
    }
    const std::u16string root = kRootKeyNames[0];
    std::uint32_t key = FindChildKey(gStore.tree, kTopKey, root.data(), root.size());
    std::size_t start = 0;
    while (key != kNoIndex && start < length) {
        std::size_t end = start;
        while (end < length && path[end] != u'\\') {
            ++end;
        }
        const std::uint32_t linked =
            HiveLinkTarget(gStore.shape.hiveLayout, key, path + start, end - start);
        key =
            linked != kNoIndex ? linked : FindChildKey(gStore.tree, key, path + start, end - start);
        start = end + 1;
    }
    return key;
}

bool StoreFileWritable() {
    struct stat status;
    return gStore.loaded && stat(gStore.filePath.c_str(), &status) == 0 &&
           (status.st_mode & kWritePermissions) != 0;
}

FILETIME StoreLastWriteTime() {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(gStore.identity.modifiedSeconds) + kFileTimeEpochSeconds) *
            10000000u +
        static_cast<std::uint64_t>(gStore.identity.modifiedNanoseconds) / 100u;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

LSTATUS WriteStoreValue(const char16_t* keyPath, std::size_t keyPathLength,
                        const ValueToWrite& write) {
    if (!gStore.loaded) {
        return ERROR_INVALID_HANDLE;
    }
    StoreLock lock;
    const LSTATUS locked = LockStoreFile(gStore.filePath, &lock);
    if (locked != ERROR_SUCCESS) {
        return locked;
    }
    const LSTATUS status = WriteLocked(keyPath, keyPathLength, write, &lock);
    UnlockStoreFile(&lock);
    return status;
}
