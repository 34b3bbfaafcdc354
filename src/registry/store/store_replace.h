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

// A replacement whose contents another writer puts in the new file (a library that writes
// only to a file it opens by name): begun, written through writePath, then finished or
// abandoned.
struct StoreReplacement {
    int directory;
    int fd;           // the new file, open for reading and writing
    std::string name; // the temporary name within directory
    bool named;       // the name exists and must go if the replacement fails
};

// Creates the new, empty file beside the store at path; writePath names it for opening.
LSTATUS BeginStoreReplacement(const std::string& path, StoreReplacement* replacement,
                              std::string* writePath);

// Flushes the new file, gives it the store's owner and permissions and renames it over the
// store; lock then holds the new file as ReplaceStoreFile leaves it. On failure the store is
// as it was and the new file is gone.
LSTATUS FinishStoreReplacement(const std::string& path, StoreReplacement* replacement,
                               StoreLock* lock);

// Removes the new file; the store is as it was.
void AbandonStoreReplacement(StoreReplacement* replacement);

// The steps of a replacement that touch the file system, in their order.
enum class ReplaceStep { None, Create, Copy, Write, Permissions, Flush, Lock, Link, Rename };

// For tests only: the step that fails, as though its system call had failed with EIO. None in
// the program, which never sets it.
extern ReplaceStep gFailingReplaceStep;
