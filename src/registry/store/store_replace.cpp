#include "registry/store/store_replace.h"

#include "registry/store/file_io.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

ReplaceStep gFailingReplaceStep = ReplaceStep::None;

namespace {

const std::size_t kCopyBufferSize = 1 << 20;

// True, with errno set, when a test has made this step fail.
bool FailsForTest(ReplaceStep step) {
    if (gFailingReplaceStep != step) {
        return false;
    }
    errno = EIO;
    return true;
}

bool WriteAll(int fd, const char* bytes, std::size_t length, std::uint64_t at) {
    return !FailsForTest(ReplaceStep::Write) && WriteBytesAt(fd, bytes, length, at);
}

// Copies bytes [from, to) of one file to outAt in another: in the kernel when it can, else
// through a bounded buffer.
bool CopyRange(int in, int out, std::uint64_t from, std::uint64_t to, std::uint64_t outAt) {
    if (FailsForTest(ReplaceStep::Copy)) {
        return false;
    }
    loff_t inOffset = static_cast<loff_t>(from);
    loff_t outOffset = static_cast<loff_t>(outAt);
    while (static_cast<std::uint64_t>(inOffset) < to) {
        const std::size_t left =
            static_cast<std::size_t>(to - static_cast<std::uint64_t>(inOffset));
        const ssize_t copied = copy_file_range(in, &inOffset, out, &outOffset, left, 0);
        if (copied > 0) {
            continue;
        }
        if (copied < 0 && errno == EINTR) {
            continue;
        }
        if (copied == 0 || errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
            errno == EOPNOTSUPP) {
            break;
        }
        return false;
    }
    std::string buffer;
    while (static_cast<std::uint64_t>(inOffset) < to) {
        const std::uint64_t left = to - static_cast<std::uint64_t>(inOffset);
        const std::size_t want =
            left < kCopyBufferSize ? static_cast<std::size_t>(left) : kCopyBufferSize;
        if (!ReadBytesAt(in, static_cast<std::uint64_t>(inOffset), want, &buffer)) {
            return false;
        }
        if (buffer.empty()) {
            errno = EIO; // the file is shorter than its identity said
            return false;
        }
        if (!WriteAll(out, buffer.data(), buffer.size(), static_cast<std::uint64_t>(outOffset))) {
            return false;
        }
        inOffset += static_cast<loff_t>(buffer.size());
        outOffset += static_cast<loff_t>(buffer.size());
    }
    return true;
}

// An unnamed file in the directory when the file system has them, else the fixed name; only
// its owner may open it until it is finished.
bool CreateTemporaryFile(StoreReplacement* temporary) {
    if (FailsForTest(ReplaceStep::Create)) {
        return false;
    }
    temporary->fd = openat(temporary->directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (temporary->fd >= 0) {
        return true;
    }
    if (unlinkat(temporary->directory, temporary->name.c_str(), 0) != 0 && errno != ENOENT) {
        return false;
    }
    temporary->fd = openat(temporary->directory, temporary->name.c_str(),
                           O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    temporary->named = temporary->fd >= 0;
    return temporary->named;
}

// Owned and readable like the store.
bool GiveStoreOwnership(int fd, const StoreLock& lock) {
    // Only root may hand a file to another owner; for anyone else the new file stays theirs.
    const int owned = fchown(fd, lock.owner, lock.group);
    static_cast<void>(owned);
    return !FailsForTest(ReplaceStep::Permissions) && fchmod(fd, lock.mode) == 0;
}

// Gives an unnamed file its temporary name, ready to be renamed over the store.
bool NameTemporaryFile(StoreReplacement* temporary) {
    if (temporary->named) {
        return true;
    }
    if (unlinkat(temporary->directory, temporary->name.c_str(), 0) != 0 && errno != ENOENT) {
        return false;
    }
    const std::string self = ProcessFdPath(temporary->fd);
    if (FailsForTest(ReplaceStep::Link)) {
        return false;
    }
    if (linkat(AT_FDCWD, self.c_str(), temporary->directory, temporary->name.c_str(),
               AT_SYMLINK_FOLLOW) != 0 &&
        linkat(temporary->fd, "", temporary->directory, temporary->name.c_str(), AT_EMPTY_PATH) !=
            0) {
        return false;
    }
    temporary->named = true;
    return true;
}

bool WriteEditedCopy(const StoreLock& lock, const FileEdit& edit, int out) {
    const std::uint64_t tailAt = edit.start + edit.bytes.size();
    return CopyRange(lock.fd, out, 0, edit.start, 0) &&
           WriteAll(out, edit.bytes.data(), edit.bytes.size(), edit.start) &&
           CopyRange(lock.fd, out, edit.end, lock.identity.size, tailAt);
}

LSTATUS CreateReplacement(const std::string& path, StoreReplacement* replacement) {
    replacement->directory = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    replacement->fd = -1;
    replacement->name = BaseNameOf(TemporaryStorePath(path));
    replacement->named = false;
    if (replacement->directory < 0) {
        return ErrorFromErrno(errno);
    }
    if (!CreateTemporaryFile(replacement)) {
        const int error = errno;
        AbandonStoreReplacement(replacement);
        return ErrorFromErrno(error);
    }
    return ERROR_SUCCESS;
}

} // namespace

std::string TemporaryStorePath(const std::string& path) {
    return DirectoryOf(path) + "/." + BaseNameOf(path) + ".ipoib-guidmask-new";
}

LSTATUS ReplaceStoreFile(const std::string& path, const FileEdit& edit, StoreLock* lock) {
    StoreReplacement replacement;
    const LSTATUS created = CreateReplacement(path, &replacement);
    if (created != ERROR_SUCCESS) {
        return created;
    }
    if (!WriteEditedCopy(*lock, edit, replacement.fd)) {
        const int error = errno;
        AbandonStoreReplacement(&replacement);
        return ErrorFromErrno(error);
    }
    return FinishStoreReplacement(path, &replacement, lock);
}

LSTATUS BeginStoreReplacement(const std::string& path, StoreReplacement* replacement,
                              std::string* writePath) {
    const LSTATUS created = CreateReplacement(path, replacement);
    if (created != ERROR_SUCCESS) {
        return created;
    }
    // An unnamed file is opened through its descriptor; without /proc it is named at once.
    *writePath = ProcessFdPath(replacement->fd);
    if (!replacement->named && access(writePath->c_str(), W_OK) == 0) {
        return ERROR_SUCCESS;
    }
    if (!NameTemporaryFile(replacement)) {
        const int error = errno;
        AbandonStoreReplacement(replacement);
        return ErrorFromErrno(error);
    }
    *writePath = DirectoryOf(path) + "/" + replacement->name;
    return ERROR_SUCCESS;
}

LSTATUS FinishStoreReplacement(const std::string& path, StoreReplacement* replacement,
                               StoreLock* lock) {
    const std::string base = BaseNameOf(path);
    // The new file is locked before it gets a name, so a writer that waited for the old one
    // finds the new one locked in turn.
    const bool replaced = GiveStoreOwnership(replacement->fd, *lock) &&
                          !FailsForTest(ReplaceStep::Flush) && fsync(replacement->fd) == 0 &&
                          !FailsForTest(ReplaceStep::Lock) &&
                          flock(replacement->fd, LOCK_EX) == 0 && NameTemporaryFile(replacement) &&
                          !FailsForTest(ReplaceStep::Rename) &&
                          renameat(replacement->directory, replacement->name.c_str(),
                                   replacement->directory, base.c_str()) == 0;
    int error = replaced ? 0 : errno;
    if (!replaced) {
        AbandonStoreReplacement(replacement);
        return ErrorFromErrno(error);
    }
    replacement->named = false; // the name is the store's now
    if (fsync(replacement->directory) != 0) {
        error = errno;
    }
    close(replacement->directory);
    replacement->directory = -1;
    UnlockStoreFile(lock);
    lock->fd = replacement->fd;
    replacement->fd = -1;
    if (!DescribeOpenFile(lock->fd, lock) && error == 0) {
        error = errno;
    }
    return error == 0 ? ERROR_SUCCESS : ErrorFromErrno(error);
}

void AbandonStoreReplacement(StoreReplacement* replacement) {
    if (replacement->named) {
        unlinkat(replacement->directory, replacement->name.c_str(), 0);
        replacement->named = false;
    }
    if (replacement->fd >= 0) {
        close(replacement->fd);
        replacement->fd = -1;
    }
    if (replacement->directory >= 0) {
        close(replacement->directory);
        replacement->directory = -1;
    }
}
