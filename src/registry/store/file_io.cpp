#include "registry/store/file_io.h"

#include <cerrno>
#include <unistd.h>

FileIdentity IdentityOf(const struct stat& status) {
    FileIdentity identity;
    identity.device = status.st_dev;
    identity.inode = status.st_ino;
    identity.size = static_cast<std::uint64_t>(status.st_size);
    identity.modifiedSeconds = status.st_mtim.tv_sec;
    identity.modifiedNanoseconds = status.st_mtim.tv_nsec;
    return identity;
}

bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size &&
           a.modifiedSeconds == b.modifiedSeconds && a.modifiedNanoseconds == b.modifiedNanoseconds;
}

bool ReadBytesInto(int fd, std::uint64_t offset, char* bytes, std::size_t length,
                   std::size_t* got) {
    *got = 0;
    while (*got < length) {
        const ssize_t read =
            pread(fd, bytes + *got, length - *got, static_cast<off_t>(offset + *got));
        if (read < 0 && errno == EINTR) {
            continue;
        }
        if (read < 0) {
            return false;
        }
        if (read == 0) {
            break;
        }
        *got += static_cast<std::size_t>(read);
    }
    return true;
}

bool ReadBytesAt(int fd, std::uint64_t offset, std::size_t length, std::string* bytes) {
    bytes->assign(length, '\0');
    std::size_t got = 0;
    const bool read = ReadBytesInto(fd, offset, &(*bytes)[0], length, &got);
    bytes->resize(got);
    return read;
}

bool WriteBytesAt(int fd, const char* bytes, std::size_t length, std::uint64_t offset) {
    while (length > 0) {
        const ssize_t wrote = pwrite(fd, bytes, length, static_cast<off_t>(offset));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            errno = wrote == 0 ? EIO : errno;
            return false;
        }
        bytes += wrote;
        length -= static_cast<std::size_t>(wrote);
        offset += static_cast<std::uint64_t>(wrote);
    }
    return true;
}

std::string ProcessFdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

LSTATUS ErrorFromErrno(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    default:
        return ERROR_WRITE_FAULT;
    }
}

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
