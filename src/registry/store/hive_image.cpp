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
const std::size_t kReplayPieceSize = 256 * 1024; // a multiple of kBinAlignment

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

// A hive's bytes in memory.
struct HiveBytes {
    unsigned char* bytes;
    std::size_t length;   // the file's bytes
    std::size_t capacity; // the room that bytes holds
};

// The image a reader opens instead of the file: a file in memory, mapped while it is mended.
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

// The first length bytes of the file open on fd, in a file in memory, mapped to be mended.
// False, with what saying why, when the file cannot be read or held.
bool CopyIntoMemory(int fd, std::size_t length, MemoryImage* memory, std::string* what) {
    memory->fd = memfd_create("hive", MFD_CLOEXEC);
    if (memory->fd < 0 || ftruncate(memory->fd, static_cast<off_t>(length)) != 0) {
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
    void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, memory->fd, 0);
    if (mapping == MAP_FAILED) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    memory->bytes = HiveBytes{static_cast<unsigned char*>(mapping), copied, length};
    return true;
}

// The mended image, cut to its length, becomes what the reader opens.
bool HandOver(MemoryImage* memory, HiveImage* image, std::string* what) {
    munmap(memory->bytes.bytes, memory->bytes.capacity);
    memory->bytes.bytes = nullptr;
    if (ftruncate(memory->fd, static_cast<off_t>(memory->bytes.length)) != 0) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        DiscardMemoryImage(memory);
        return false;
    }
    image->memoryFd = memory->fd;
    image->readPath = ProcessFdPath(memory->fd);
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

// For each page of the replayed image, the log bytes that it ends up holding, or null where it
// keeps the file's.
std::vector<const unsigned char*> FinalPageSources(const HiveReplayPlan& plan) {
    std::vector<const unsigned char*> sources(plan.length / kBinAlignment, nullptr);
    for (const HivePageWrite& write : plan.writes) {
        for (std::size_t page = 0; page < write.size / kBinAlignment; ++page) {
            sources[write.offset / kBinAlignment + page] = write.bytes + page * kBinAlignment;
        }
    }
    return sources;
}

// Writes the replayed image of the hive on fd (length bytes) into the file in memory, a piece
// at a time: the file's bytes, the log pages over them, the new base block. The bins are walked
// in each piece on its way, which spares reading the image once more; binsEnd: where the walk
// ends. False, with errno set, when a file cannot be read or written.
bool WriteReplayedImage(int fd, std::size_t length, const HiveReplayPlan& plan, int memoryFd,
                        std::uint32_t* binsEnd) {
    const std::vector<const unsigned char*> sources = FinalPageSources(plan);
    std::string piece;
    std::uint64_t at = 0; // the walk's next bin, from the first
    bool walking = true;
    for (std::size_t start = 0; start < plan.length; start += kReplayPieceSize) {
        const std::size_t size = std::min(kReplayPieceSize, plan.length - start);
        const std::size_t wanted = start < length ? std::min(size, length - start) : 0;
        if (!ReadBytesAt(fd, start, wanted, &piece)) {
            return false;
        }
        if (piece.size() != wanted) {
            errno = EIO; // the hive is shorter than it was a moment ago
            return false;
        }
        piece.resize(size, '\0'); // the room an entry added behind the file
        unsigned char* bytes = reinterpret_cast<unsigned char*>(&piece[0]);
        for (std::size_t page = 0; page < size / kBinAlignment; ++page) {
            const unsigned char* source = sources[start / kBinAlignment + page];
            if (source != nullptr) {
                std::memcpy(bytes + page * kBinAlignment, source, kBinAlignment);
            }
        }
        if (start == 0) {
            std::memcpy(bytes, plan.baseBlock, kHiveBaseBlockSize);
        }
        if (!WriteBytesAt(memoryFd, piece.data(), size, start)) {
            return false;
        }
        // Pieces are whole pages and bins start on one, so no bin header straddles two pieces.
        while (walking && at < plan.binsSize && kHiveBinsStart + at >= start &&
               kHiveBinsStart + at + kHiveBinHeaderSize <= start + size) {
            const std::size_t header = kHiveBinsStart + at;
            const std::uint32_t bin =
                HiveBinSizeAt(bytes + (header - start), at, plan.length - header);
            walking = bin != 0;
            at += bin;
        }
    }
    *binsEnd = static_cast<std::uint32_t>(std::min<std::uint64_t>(at, 0xFFFFFFFFu));
    return true;
}

// Replays the dirty hive open on fd, length bytes long, from the logs beside path.
bool ReplayFromLogsBeside(int fd, std::size_t length, const std::string& path, HiveImage* image,
                          std::string* what) {
    std::vector<HiveLogFile> files;
    if (!ReadHiveLogs(path, &files, what)) {
        ReleaseHiveLogs(&files);
        return false;
    }
    std::vector<HiveLogBytes> logs;
    for (const HiveLogFile& file : files) {
        logs.push_back(LogBytes(file));
    }
    HiveReplay outcome;
    int imageFd = -1;
    const bool replayed = ReplayHiveFile(fd, length, logs.data(), logs.size(), &outcome, &imageFd);
    const int error = errno;
    ReleaseHiveLogs(&files);
    if (!replayed) {
        *what = std::string("cannot replay the registry hive in memory: ") + std::strerror(error);
        return false;
    }
    image->state = outcome.result;
    image->problem = outcome.problem;
    if (imageFd >= 0) {
        image->memoryFd = imageFd;
        image->readPath = ProcessFdPath(imageFd);
    }
    return true;
}

} // namespace

bool ReplayHiveFile(int fd, std::size_t length, const HiveLogBytes* logs, std::size_t logCount,
                    HiveReplay* outcome, int* imageFd) {
    *imageFd = -1;
    std::string block;
    if (!ReadBytesAt(fd, 0, kHiveBaseBlockSize, &block)) {
        return false;
    }
    HiveReplayPlan plan;
    PlanHiveReplay(reinterpret_cast<const unsigned char*>(block.data()),
                   block.size() < kHiveBaseBlockSize ? block.size() : length, logs, logCount,
                   &plan);
    *outcome = plan.outcome;
    if (plan.outcome.result != HiveReplayResult::Replayed) {
        return true;
    }
    *imageFd = memfd_create("hive", MFD_CLOEXEC);
    std::uint32_t binsEnd = 0;
    if (*imageFd < 0 || !WriteReplayedImage(fd, length, plan, *imageFd, &binsEnd)) {
        const int error = errno;
        if (*imageFd >= 0) {
            close(*imageFd);
        }
        *imageFd = -1;
        errno = error;
        return false;
    }
    if (binsEnd != plan.binsSize) {
        close(*imageFd);
        *imageFd = -1;
        *outcome = HiveReplay{HiveReplayResult::Incomplete, 0, 0,
                              "a bin is damaged after its transaction logs are replayed"};
    }
    return true;
}

bool PrepareHiveImage(int fd, const std::string& openPath, const std::string& path,
                      HiveImage* image, std::string* what) {
    image->readPath = openPath;
    image->memoryFd = -1;
    image->state = HiveReplayResult::Clean;
    image->problem.clear();
    const HiveBaseBlock base = ReadFileBaseBlock(fd);
    const bool dirty = base.primarySequence != base.secondarySequence;
    const bool aligned = base.binsSize % kBinAlignment == 0;
    // A clean hive with a sound bins size is read from its file, without a copy.
    if (!base.valid || (!dirty && aligned)) {
        return true;
    }
    std::size_t length = 0;
    if (!HiveFileLength(fd, &length, what) ||
        (dirty && !ReplayFromLogsBeside(fd, length, path, image, what))) {
        return false;
    }
    // So is one that cannot be replayed, unless its bins size needs mending.
    if (image->memoryFd >= 0 || aligned) {
        return true;
    }
    MemoryImage memory{-1, HiveBytes{nullptr, 0, 0}};
    if (!CopyIntoMemory(fd, length, &memory, what)) {
        return false;
    }
    if (!MendBinsSize(&memory.bytes)) {
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
