// Replaces a locked store file by an edited copy, atomically: the copy is written beside it
// with its permissions, flushed, renamed over it and the directory flushed, so a crash leaves
// the old file or the new one, and a failure leaves the old one and no temporary file.
#pragma once

#include "registry/store/store_lock.h"

#include <cstdint>
#include <string>

// Bytes [start, end) of a store file replaced by bytes.
struct FileEdit {
    std::uint64_t start;
    std::uint64_t end;
    std::string bytes;
};

// The name of the temporary file beside a store, used when the file system cannot create an
// unnamed one; it is removed before use, so one left by a killed run does no harm.
std::string TemporaryStorePath(const std::string& path);

// On success lock holds the new file, locked, and describes it; the old one is released.
LSTATUS ReplaceStoreFile(const std::string& path, const FileEdit& edit, StoreLock* lock);
