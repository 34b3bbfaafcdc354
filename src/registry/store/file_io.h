// The store's file input and output: positioned reads and writes that finish or fail, what
// tells one version of a file from another, and the registry error code for a failed call.
#pragma once

#include "registry/store/registry_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>

// What tells one version of a store file from another: a write replaces the file by a new one.
struct FileIdentity {
    std::uint64_t device;
    std::uint64_t inode;
    std::uint64_t size;
    std::int64_t modifiedSeconds;
    std::int64_t modifiedNanoseconds;
};

FileIdentity IdentityOf(const struct stat& status);

bool SameFileIdentity(const FileIdentity& a, const FileIdentity& b);

// Up to length bytes at offset; fewer at the end of the file. False, with errno set, on error.
bool ReadBytesAt(int fd, std::uint64_t offset, std::size_t length, std::string* bytes);

// The same into length bytes at bytes; got: how many were read.
bool ReadBytesInto(int fd, std::uint64_t offset, char* bytes, std::size_t length, std::size_t* got);

// All length bytes at offset; false, with errno set, when they cannot all be written.
bool WriteBytesAt(int fd, const char* bytes, std::size_t length, std::uint64_t offset);

// The name that opens the file open on fd, while it is open.
std::string ProcessFdPath(int fd);

// The registry error code for a failed file operation's errno.
LSTATUS ErrorFromErrno(int error);

// The directory part of a path ("." when it has none) and the name behind its last slash.
std::string DirectoryOf(const std::string& path);
std::string BaseNameOf(const std::string& path);
