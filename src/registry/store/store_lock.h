// The lock that serializes writers of one store file. It is an flock on the store file itself,
// so it leaves nothing behind and dies with a killed process; a writer that replaced the file
// while another waited is detected by checking, once locked, that the path still names the
// locked file.
#pragma once

#include "registry/store/file_io.h"

#include <cstdint>
#include <string>

struct StoreLock {
    int fd; // open for reading on the locked file; -1 when not locked
    FileIdentity identity;
    std::uint32_t mode; // permission bits
    std::uint32_t owner;
    std::uint32_t group;
    // Only a regular file is a store: a FIFO would block a run and a device could feed it
    // without end.
    bool regularFile;
};

// Fills identity and the fields of lock that describe the file open on fd.
bool DescribeOpenFile(int fd, StoreLock* lock);

// Opens path and holds an exclusive lock on the file it names; ERROR_BADDB when that is no
// regular file.
LSTATUS LockStoreFile(const std::string& path, StoreLock* lock);

// Releases the lock and closes the file.
void UnlockStoreFile(StoreLock* lock);
