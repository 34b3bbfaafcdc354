#include "registry/store/store_replace.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::size_t kCopyBufferSize = 1 << 20;

struct TemporaryFile {
    int directory;
    int fd;
    std::string name; // within directory
    bool named;       // the name exists and must go if the replacement fails
};

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool WriteAll(int fd, const char* bytes, std::size_t length, std::uint64_t at) {
    while (length > 0) {
        const ssize_t wrote = pwrite(fd, bytes, length, static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            errno = wrote == 0 ? EIO : errno;
            return false;
        }
        bytes += wrote;
        length -= static_cast<std::size_t>(wrote);
        at += static_cast<std::uint64_t>(wrote);
    }
    return true;
}

// Copies bytes [from, to) of one file to outAt in another: in the kernel when it can, else
// through a bounded buffer.
bool CopyRange(int in, int out, std::uint64_t from, std::uint64_t to, std::uint64_t outAt) {
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
    std::vector<char> buffer;
    while (static_cast<std::uint64_t>(inOffset) < to) {
        buffer.resize(kCopyBufferSize);
        const std::size_t left =
            static_cast<std::size_t>(to - static_cast<std::uint64_t>(inOffset));
        const std::size_t want = left < buffer.size() ? left : buffer.size();
        const ssize_t got = pread(in, buffer.data(), want, inOffset);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            errno = got == 0 ? EIO : errno; // the file is shorter than its identity said
            return false;
        }
        const std::size_t length = static_cast<std::size_t>(got);
        if (!WriteAll(out, buffer.data(), length, static_cast<std::uint64_t>(outOffset))) {
            return false;
        }
        inOffset += got;
        outOffset += got;
    }
    return true;
}

// An unnamed file in the directory when the file system has them, else the fixed name; owned
// and readable like the store.
bool CreateTemporaryFile(TemporaryFile* temporary, const StoreLock& lock) {
    temporary->fd = openat(temporary->directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (temporary->fd < 0) {
        if (unlinkat(temporary->directory, temporary->name.c_str(), 0) != 0 && errno != ENOENT) {
            return false;
        }
        temporary->fd = openat(temporary->directory, temporary->name.c_str(),
                               O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
        if (temporary->fd < 0) {
            return false;
        }
        temporary->named = true;
    }
    // Only root may hand a file to another owner; for anyone else the new file stays theirs.
    const int owned = fchown(temporary->fd, lock.owner, lock.group);
    static_cast<void>(owned);
    return fchmod(temporary->fd, lock.mode) == 0;
}

// Gives an unnamed file its temporary name, ready to be renamed over the store.
bool NameTemporaryFile(TemporaryFile* temporary) {
    if (temporary->named) {
        return true;
    }
    if (unlinkat(temporary->directory, temporary->name.c_str(), 0) != 0 && errno != ENOENT) {
        return false;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(temporary->fd);
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
           CopyRange(lock.fd, out, edit.end, lock.identity.size, tailAt) && fsync(out) == 0;
}

} // namespace

std::string TemporaryStorePath(const std::string& path) {
    return DirectoryOf(path) + "/." + BaseNameOf(path) + ".ipoib-guidmask-new";
}

LSTATUS ReplaceStoreFile(const std::string& path, const FileEdit& edit, StoreLock* lock) {
    TemporaryFile temporary;
    temporary.directory = open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    temporary.fd = -1;
    temporary.name = BaseNameOf(TemporaryStorePath(path));
    temporary.named = false;
    if (temporary.directory < 0) {
        return ErrorFromErrno(errno);
    }
    const std::string base = BaseNameOf(path);
    // The new file is locked before it gets a name, so a writer that waited for the old one
    // finds the new one locked in turn.
    const bool replaced =
        CreateTemporaryFile(&temporary, *lock) && WriteEditedCopy(*lock, edit, temporary.fd) &&
        flock(temporary.fd, LOCK_EX) == 0 && NameTemporaryFile(&temporary) &&
        renameat(temporary.directory, temporary.name.c_str(), temporary.directory, base.c_str()) ==
            0;
    int error = replaced ? 0 : errno;
    if (replaced) {
        temporary.named = false; // the name is the store's now
        if (fsync(temporary.directory) != 0) {
            error = errno;
        }
    }
    if (temporary.named) {
        unlinkat(temporary.directory, temporary.name.c_str(), 0);
    }
    close(temporary.directory);
    if (!replaced) {
        if (temporary.fd >= 0) {
            close(temporary.fd);
        }
        return ErrorFromErrno(error);
    }
    UnlockStoreFile(lock);
    lock->fd = temporary.fd;
    if (!DescribeOpenFile(lock->fd, lock) && error == 0) {
        error = errno;
    }
    return error == 0 ? ERROR_SUCCESS : ErrorFromErrno(error);
}
