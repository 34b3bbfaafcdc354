#include "registry/store/registry_store.h"

#include "registry/store/reg_file_reader.h"
#include "registry/store/reg_file_writer.h"
#include "registry/store/store_lock.h"
#include "registry/store/store_replace.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Seconds from 1601-01-01, where FILETIME counts from, to 1970-01-01.
const std::uint64_t kFileTimeEpochSeconds = 11644473600u;

struct RegistryStore {
    bool loaded;
    std::string filePath; // the file itself, symbolic links resolved: what is locked and replaced
    KeyTree tree;
    RegFileLayout layout;
    FileIdentity identity; // of the file as loaded or as last written
};

RegistryStore gStore;

// The format's reader: fills a fresh tree from the file open on fd.
bool ReadStoreFile(int fd, KeyTree* tree, RegFileLayout* layout, RegFileError* error) {
    return ReadRegFile(fd, tree, layout, error);
}

// The format's writer: the edit of the file that sets one value.
LSTATUS PlanStoreWrite(std::uint32_t key, const char16_t* name, std::size_t nameLength, DWORD type,
                       const unsigned char* data, std::size_t dataLength, const StoreLock& lock,
                       RegFileValueEdit* edit) {
    return PlanRegFileValueWrite(gStore.tree, key, name, nameLength, type, data, dataLength,
                                 gStore.layout, lock.fd, lock.identity.size, edit);
}

std::string ErrorText(const char* path, const RegFileError& error) {
    std::string text = path;
    if (error.line != 0) {
        text += ":" + std::to_string(error.line);
    }
    return text + ": " + error.what;
}

// Re-reads the locked file when it is not the one this process loaded or last wrote.
LSTATUS RefreshFromLockedFile(const StoreLock& lock) {
    if (SameFileIdentity(lock.identity, gStore.identity)) {
        return ERROR_SUCCESS;
    }
    KeyTree tree;
    RegFileLayout layout;
    RegFileError error;
    if (!ReadStoreFile(lock.fd, &tree, &layout, &error)) {
        return ERROR_BADDB;
    }
    gStore.tree = std::move(tree);
    gStore.layout = layout;
    gStore.identity = lock.identity;
    return ERROR_SUCCESS;
}

// The tree takes on what the edit did to the file.
void ApplyValueEdit(std::uint32_t key, const char16_t* name, std::size_t nameLength, DWORD type,
                    const unsigned char* data, std::size_t dataLength,
                    const RegFileValueEdit& edit) {
    const std::int64_t delta = static_cast<std::int64_t>(edit.file.bytes.size()) -
                               static_cast<std::int64_t>(edit.file.end - edit.file.start);
    ShiftSourceOffsets(&gStore.tree, static_cast<std::uint32_t>(edit.file.start),
                       static_cast<std::uint32_t>(edit.file.end), delta);
    const std::uint32_t value =
        SetValue(&gStore.tree, key, name, nameLength, type, data, dataLength);
    gStore.tree.values[value].sourceStart = edit.sourceStart;
    gStore.tree.values[value].sourceEnd = edit.sourceEnd;
    if (edit.newValueAt != kNoOffset) {
        gStore.tree.keys[key].newValueAt = edit.newValueAt;
    }
}

LSTATUS WriteLocked(const char16_t* keyPath, std::size_t keyPathLength, const char16_t* name,
                    std::size_t nameLength, DWORD type, const unsigned char* data,
                    std::size_t dataLength, StoreLock* lock) {
    if ((lock->mode & 0222u) == 0) {
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
    RegFileValueEdit edit;
    const LSTATUS planned =
        PlanStoreWrite(key, name, nameLength, type, data, dataLength, *lock, &edit);
    if (planned != ERROR_SUCCESS) {
        return planned;
    }
    const LSTATUS replaced = ReplaceStoreFile(gStore.filePath, edit.file, lock);
    if (replaced != ERROR_SUCCESS) {
        return replaced;
    }
    ApplyValueEdit(key, name, nameLength, type, data, dataLength, edit);
    gStore.identity = lock->identity;
    return ERROR_SUCCESS;
}

} // namespace

bool LoadRegistryStore(const char* path, std::string* error) {
    UnloadRegistryStore();
    RegFileError failure{0, ""};
    char* resolved = realpath(path, nullptr);
    const int fd = resolved == nullptr ? -1 : open(resolved, O_RDONLY | O_CLOEXEC);
    StoreLock described;
    if (fd < 0 || !DescribeOpenFile(fd, &described)) {
        failure.what = std::string("cannot open the registry store: ") + std::strerror(errno);
    } else if (described.identity.size >= kNoOffset) {
        failure.what = "the registry store is too large (4 GiB or more)";
    } else if (ReadStoreFile(fd, &gStore.tree, &gStore.layout, &failure)) {
        gStore.loaded = true;
        gStore.filePath = resolved;
        gStore.identity = described.identity;
    }
    if (fd >= 0) {
        close(fd);
    }
    std::free(resolved);
    if (!gStore.loaded) {
        InitKeyTree(&gStore.tree);
        *error = ErrorText(path, failure);
    }
    return gStore.loaded;
}

void UnloadRegistryStore() {
    gStore.loaded = false;
    gStore.filePath.clear();
    InitKeyTree(&gStore.tree);
}

bool RegistryStoreLoaded() {
    return gStore.loaded;
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
        key = FindChildKey(gStore.tree, key, path + start, end - start);
        start = end + 1;
    }
    return key;
}

bool StoreFileWritable() {
    struct stat status;
    return gStore.loaded && stat(gStore.filePath.c_str(), &status) == 0 &&
           (status.st_mode & 0222u) != 0;
}

FILETIME StoreLastWriteTime() {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(gStore.identity.modifiedSeconds) + kFileTimeEpochSeconds) *
            10000000u +
        static_cast<std::uint64_t>(gStore.identity.modifiedNanoseconds) / 100u;
    return FILETIME{static_cast<DWORD>(ticks & 0xFFFFFFFFu), static_cast<DWORD>(ticks >> 32)};
}

LSTATUS WriteStoreValue(const char16_t* keyPath, std::size_t keyPathLength, const char16_t* name,
                        std::size_t nameLength, DWORD type, const unsigned char* data,
                        std::size_t dataLength) {
    if (!gStore.loaded) {
        return ERROR_INVALID_HANDLE;
    }
    StoreLock lock;
    const LSTATUS locked = LockStoreFile(gStore.filePath, &lock);
    if (locked != ERROR_SUCCESS) {
        return locked;
    }
    const LSTATUS status =
        WriteLocked(keyPath, keyPathLength, name, nameLength, type, data, dataLength, &lock);
    UnlockStoreFile(&lock);
    return status;
}
