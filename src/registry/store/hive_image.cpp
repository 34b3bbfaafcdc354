#include "registry/store/hive_image.h"

#include "registry/store/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

const char* const kHiveLogSuffixes[] = {".LOG1", ".LOG2", ".LOG"};
const std::size_t kHiveLogSuffixCount = sizeof kHiveLogSuffixes / sizeof kHiveLogSuffixes[0];

namespace {

const std::size_t kBinsSizeAt = 0x28;
const std::uint32_t kBinAlignment = 0x1000;

bool ReadWholeFile(int fd, std::vector<unsigned char>* bytes) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    if (static_cast<std::uint64_t>(status.st_size) >= 0xFFFFFFFFu) {
        errno = EFBIG;
        return false;
    }
    std::string read; // fewer bytes when the file is shorter than it was a moment ago
    if (!ReadBytesAt(fd, 0, static_cast<std::size_t>(status.st_size), &read)) {
        return false;
    }
    bytes->assign(read.begin(), read.end());
    return true;
}

// The names in the directory that equal wanted but for the case of letters; the exact
// spelling comes first.
std::vector<std::string> NamesLike(const std::string& directory, const std::string& wanted) {
    std::vector<std::string> names;
    DIR* listing = opendir(directory.c_str());
    if (listing == nullptr) {
        return names;
    }
    for (const dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        if (strcasecmp(entry->d_name, wanted.c_str()) == 0) {
            names.push_back(entry->d_name);
            if (names.back() == wanted) {
                names.front().swap(names.back());
            }
        }
    }
    closedir(listing);
    return names;
}

// A log mapped from its file, or read whole where it cannot be mapped (empty, or no regular
// file).
struct HiveLogFile {
    void* mapping;
    std::size_t mappedLength;
    std::vector<unsigned char> copy;
};

bool MapOrReadLog(int fd, HiveLogFile* log) {
    struct stat status;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        static_cast<std::uint64_t>(status.st_size) < 0xFFFFFFFFu) {
        const std::size_t length = static_cast<std::size_t>(status.st_size);
        void* mapping = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapping != MAP_FAILED) {
            log->mapping = mapping;
            log->mappedLength = length;
            return true;
        }
    }
    return ReadWholeFile(fd, &log->copy);
}

HiveLogBytes LogBytes(const HiveLogFile& log) {
    if (log.mapping != nullptr) {
        return HiveLogBytes{static_cast<const unsigned char*>(log.mapping), log.mappedLength};
    }
    return HiveLogBytes{log.copy.data(), log.copy.size()};
}

void ReleaseHiveLogs(std::vector<HiveLogFile>* logs) {
    for (HiveLogFile& log : *logs) {
        if (log.mapping != nullptr) {
            munmap(log.mapping, log.mappedLength);
        }
    }
    logs->clear();
}

// The logs beside the hive at path; one missing is no log.
bool ReadHiveLogs(const std::string& path, std::vector<HiveLogFile>* logs, std::string* what) {
    const std::string directory = DirectoryOf(path);
    const std::string base = BaseNameOf(path);
    for (std::size_t suffix = 0; suffix < kHiveLogSuffixCount; ++suffix) {
        const std::vector<std::string> names =
            NamesLike(directory, base + kHiveLogSuffixes[suffix]);
        if (names.empty()) {
            continue;
        }
        const std::string logPath = directory + "/" + names.front();
        const int fd = open(logPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        logs->push_back(HiveLogFile{nullptr, 0, {}});
        const bool read = fd >= 0 && MapOrReadLog(fd, &logs->back());
        const int error = errno;
        if (fd >= 0) {
            close(fd);
        }
        if (!read) {
            *what = "cannot read the hive's transaction log " + names.front() + ": " +
                    std::strerror(error);
            return false;
        }
    }
    return true;
}

// The image a reader opens instead of the file: a file in memory, mapped while it is worked on,
// sized up front to the room the work may need; what the work leaves unwritten takes no memory.
struct MemoryImage {
    int fd;
    HiveBytes bytes;
};

enum class CopyWay { KernelCopy, SendFile, ReadWrite };

// One step of copying from into to at the same offset: the bytes moved, 0 at the end of from,
// -1 with errno set on failure.
ssize_t CopyStep(CopyWay way, int from, int to, off_t* at, std::size_t left) {
    if (way == CopyWay::KernelCopy) {
        off_t out = *at;
        return copy_file_range(from, at, to, &out, left, 0);
    }
    if (way == CopyWay::SendFile) {
        return lseek(to, *at, SEEK_SET) == *at ? sendfile(to, from, at, left) : -1;
    }
    unsigned char buffer[1 << 16];
    const ssize_t got = pread(from, buffer, std::min(left, sizeof buffer), *at);
    if (got > 0) {
        if (pwrite(to, buffer, static_cast<std::size_t>(got), *at) != got) {
            return -1;
        }
        *at += got;
    }
    return got;
}

// The errors with which the kernel declines to copy between two such files at all.
bool CannotJoin(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// Copies the first length bytes of from into to, in the kernel where it can. copied: the
// bytes from held, fewer than length when it is shorter than it was a moment ago.
bool CopyFileStart(int from, int to, std::size_t length, std::size_t* copied) {
    CopyWay way = CopyWay::KernelCopy;
    off_t at = 0;
    while (static_cast<std::size_t>(at) < length) {
        const ssize_t moved = CopyStep(way, from, to, &at, length - static_cast<std::size_t>(at));
        if (moved < 0 && errno == EINTR) {
            continue;
        }
        if (moved < 0 && way != CopyWay::ReadWrite && CannotJoin(errno)) {
            way = way == CopyWay::KernelCopy ? CopyWay::SendFile : CopyWay::ReadWrite;
            continue;
        }
        if (moved <= 0) {
            *copied = static_cast<std::size_t>(at);
            return moved == 0;
        }
    }
    *copied = static_cast<std::size_t>(at);
    return true;
}

void DiscardMemoryImage(MemoryImage* memory) {
    if (memory->bytes.bytes != nullptr) {
        munmap(memory->bytes.bytes, memory->bytes.capacity);
    }
    if (memory->fd >= 0) {
        close(memory->fd);
    }
    *memory = MemoryImage{-1, HiveBytes{nullptr, 0, 0}};
}

// The first length bytes of the file open on fd, in a file in memory with room for capacity.
// False, with errno set and what saying why, when the file cannot be read or held.
bool CopyIntoMemory(int fd, std::size_t length, std::size_t capacity, MemoryImage* memory,
                    std::string* what) {
    memory->fd = memfd_create("hive", MFD_CLOEXEC);
    if (memory->fd < 0 || ftruncate(memory->fd, static_cast<off_t>(capacity)) != 0) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    std::size_t copied = 0;
    if (!CopyFileStart(fd, memory->fd, length, &copied)) {
        *what = std::string("cannot read the registry hive: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    void* mapping = mmap(nullptr, capacity, PROT_READ | PROT_WRITE, MAP_SHARED, memory->fd, 0);
    if (mapping == MAP_FAILED) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    memory->bytes = HiveBytes{static_cast<unsigned char*>(mapping), copied, capacity};
    return true;
}

// The image, cut to its length, becomes what the reader opens.
bool HandOver(MemoryImage* memory, HiveImage* image, std::string* what) {
    munmap(memory->bytes.bytes, memory->bytes.capacity);
    memory->bytes.bytes = nullptr;
    if (ftruncate(memory->fd, static_cast<off_t>(memory->bytes.length)) != 0) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    image->memoryFd = memory->fd;
    image->readPath = "/proc/self/fd/" + std::to_string(memory->fd);
    return true;
}

// Windows writes bins in whole pages, so a bins size that is no multiple of one is a damaged
// field, not damaged bins: it becomes the end of the bins a reader finds below it. Left as it
// is, hivex would read the hive but append its next bin at the wrong place.
bool MendBinsSize(HiveBytes* bytes) {
    const HiveBaseBlock block = ReadHiveBaseBlock(bytes->bytes, bytes->length);
    if (!block.valid || block.binsSize % kBinAlignment == 0) {
        return false;
    }
    const std::uint32_t walked = WalkedBinsEnd(bytes->bytes, bytes->length, block.binsSize);
    if (walked == 0) {
        return false;
    }
    for (int at = 0; at < 4; ++at) {
        bytes->bytes[kBinsSizeAt + static_cast<std::size_t>(at)] =
            static_cast<unsigned char>(walked >> (8 * at));
    }
    SealHiveBaseBlock(bytes->bytes);
    return true;
}

// The hive's base block; a file too short for one gives one that is not valid.
HiveBaseBlock ReadFileBaseBlock(int fd) {
    unsigned char block[kHiveBaseBlockSize];
    const ssize_t got = pread(fd, block, sizeof block, 0);
    return ReadHiveBaseBlock(block, got > 0 ? static_cast<std::size_t>(got) : 0);
}

bool HiveFileLength(int fd, std::size_t* length, std::string* what) {
    struct stat status;
    int error = fstat(fd, &status) == 0 ? 0 : errno;
    if (error == 0 && static_cast<std::uint64_t>(status.st_size) >= 0xFFFFFFFFu) {
        error = EFBIG;
    }
    if (error != 0) {
        *what = std::string("cannot read the registry hive: ") + std::strerror(error);
        return false;
    }
    *length = static_cast<std::size_t>(status.st_size);
    return true;
}

// Replays the dirty hive open on fd from the logs beside path into memory, which is left
// empty when the hive cannot be brought up to date.
bool ReplayIntoMemory(int fd, std::size_t length, const std::string& path, MemoryImage* memory,
                      HiveImage* image, std::string* what) {
    std::vector<HiveLogFile> files;
    if (!ReadHiveLogs(path, &files, what)) {
        ReleaseHiveLogs(&files);
        return false;
    }
    std::vector<HiveLogBytes> logs;
    for (const HiveLogFile& file : files) {
        logs.push_back(LogBytes(file));
    }
    if (!CopyIntoMemory(fd, length, HiveReplayCapacity(length, logs.data(), logs.size()), memory,
                        what)) {
        ReleaseHiveLogs(&files);
        return false;
    }
    const HiveReplay replay = ReplayHiveLogs(&memory->bytes, logs.data(), logs.size());
    ReleaseHiveLogs(&files);
    image->state = replay.result;
    image->problem = replay.problem;
    if (replay.result == HiveReplayResult::Incomplete) {
        DiscardMemoryImage(memory); // it may hold part of a replay
    }
    return true;
}

} // namespace

bool PrepareHiveImage(int fd, const std::string& openPath, const std::string& path,
                      HiveImage* image, std::string* what) {
    image->readPath = openPath;
    image->memoryFd = -1;
    image->state = HiveReplayResult::Clean;
    image->problem.clear();
    const HiveBaseBlock base = ReadFileBaseBlock(fd);
    const bool dirty = base.primarySequence != base.secondarySequence;
    // A clean hive with a sound bins size is read from its file, without a copy.
    if (!base.valid || (!dirty && base.binsSize % kBinAlignment == 0)) {
        return true;
    }
    std::size_t length = 0;
    MemoryImage memory{-1, HiveBytes{nullptr, 0, 0}};
    if (!HiveFileLength(fd, &length, what) ||
        (dirty && !ReplayIntoMemory(fd, length, path, &memory, image, what))) {
        return false;
    }
    // So is a dirty one that cannot be replayed, unless its bins size needs mending.
    if (memory.fd < 0) {
        if (base.binsSize % kBinAlignment == 0) {
            return true;
        }
        if (!CopyIntoMemory(fd, length, length, &memory, what)) {
            return false;
        }
    }
    const bool mended = MendBinsSize(&memory.bytes);
    if (image->state != HiveReplayResult::Replayed && !mended) {
        DiscardMemoryImage(&memory);
        return true;
    }
    return HandOver(&memory, image, what);
}

void ReleaseHiveImage(HiveImage* image) {
    if (image->memoryFd >= 0) {
        close(image->memoryFd);
        image->memoryFd = -1;
    }
}
