#include "registry/store/store_lock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Each pass follows one replacement of the file by another writer, so this bounds only a
// pathological stream of writers.
const int kLockAttempts = 1000;

} // namespace

bool DescribeOpenFile(int fd, StoreLock* lock) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    lock->identity = IdentityOf(status);
    lock->mode = status.st_mode & 07777u;
    lock->owner = status.st_uid;
    lock->group = status.st_gid;
    lock->regularFile = S_ISREG(status.st_mode);
    return true;
}

LSTATUS LockStoreFile(const std::string& path, StoreLock* lock) {
    lock->fd = -1;
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            return ErrorFromErrno(errno);
        }
        int locked;
        do {
            locked = flock(fd, LOCK_EX);
        } while (locked != 0 && errno == EINTR);
        struct stat named;
        if (locked != 0 || !DescribeOpenFile(fd, lock) || stat(path.c_str(), &named) != 0) {
            const int error = errno;
            close(fd);
            return ErrorFromErrno(error);
        }
        if (!lock->regularFile) {
            close(fd);
            return ERROR_BADDB;
        }
        if (named.st_dev == lock->identity.device && named.st_ino == lock->identity.inode) {
            lock->fd = fd;
            return ERROR_SUCCESS;
        }
        close(fd); // replaced while we waited: lock the file that the path names now
    }
    return ERROR_WRITE_FAULT;
}

void UnlockStoreFile(StoreLock* lock) {
    if (lock->fd >= 0) {
        close(lock->fd);
        lock->fd = -1;
    }
}
