#include "registry/store/hive/hive_image.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_log_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const std::size_t kReplayPieceSize = 256 * 1024; // a multiple of kHivePageSize

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
    std::vector<const unsigned char*> sources(plan.length / kHivePageSize, nullptr);
    for (const HivePageWrite& write : plan.writes) {
        for (std::size_t page = 0; page < write.size / kHivePageSize; ++page) {
            sources[write.offset / kHivePageSize + page] = write.bytes + page * kHivePageSize;
        }
    }
    return sources;
}

// Writes the image of the hive on fd (length bytes) that the plan makes into the file in
// memory on memoryFd, a piece at a time: the file's bytes, the log pages over them, the plan's
// base block. The bins are walked in each piece on its way, which spares reading the image once
// more; binsEnd: where the walk ends. False, with errno set, when a file cannot be read or
// written.
bool WriteImage(int fd, std::size_t length, const HiveReplayPlan& plan, int memoryFd,
                std::uint32_t* binsEnd) {
    const std::vector<const unsigned char*> sources = FinalPageSources(plan);
    std::vector<char> piece(kReplayPieceSize);
    HiveBinWalk walk{plan.binsSize, 0, true};
    for (std::size_t start = 0; start < plan.length; start += kReplayPieceSize) {
        const std::size_t size = std::min(kReplayPieceSize, plan.length - start);
        const std::size_t wanted = start < length ? std::min(size, length - start) : 0;
        std::size_t got = 0;
        if (!ReadBytesInto(fd, start, piece.data(), wanted, &got)) {
            return false;
        }
        if (got != wanted) {
            errno = EIO; // the hive is shorter than it was a moment ago
            return false;
        }
        std::memset(piece.data() + wanted, 0, size - wanted); // room an entry added behind it
        unsigned char* bytes = reinterpret_cast<unsigned char*>(piece.data());
        for (std::size_t page = 0; page < size / kHivePageSize; ++page) {
            const unsigned char* source = sources[start / kHivePageSize + page];
            if (source != nullptr) {
                std::memcpy(bytes + page * kHivePageSize, source, kHivePageSize);
            }
        }
        if (start == 0) {
            std::memcpy(bytes, plan.baseBlock, kHiveBaseBlockSize);
        }
        if (!WriteBytesAt(memoryFd, piece.data(), size, start)) {
            return false;
        }
        // Pieces are whole pages and bins start on one, so no bin header straddles two pieces.
        WalkHiveBins(bytes, start, size, plan.length, &walk);
    }
    *binsEnd = WalkedBinsEnd(walk);
    return true;
}

// The image the plan makes of the hive on fd, in a new file in memory whose descriptor imageFd
// then holds; -1 and false, with errno set, when it cannot be made.
bool WriteImageInMemory(int fd, std::size_t length, const HiveReplayPlan& plan, int* imageFd,
                        std::uint32_t* binsEnd) {
    *imageFd = memfd_create("hive", MFD_CLOEXEC);
    if (*imageFd >= 0 && WriteImage(fd, length, plan, *imageFd, binsEnd)) {
        return true;
    }
    const int error = errno;
    if (*imageFd >= 0) {
        close(*imageFd);
    }
    *imageFd = -1;
    errno = error;
    return false;
}

// Windows writes bins in whole pages, so a bins size that is no multiple of one is a damaged
// field, not damaged bins: it becomes the end of the whole bins a reader finds below it, in an
// image in memory. Left as it is, hivex would read the hive but append its next bin at the
// wrong place. imageFd is -1 when the first bin is no bin: the hive is then read as it is.
bool MendBinsSize(int fd, std::size_t length, int* imageFd) {
    HiveReplayPlan plan; // the file as it is
    std::string block;
    if (!ReadBytesAt(fd, 0, kHiveBaseBlockSize, &block)) {
        return false;
    }
    if (block.size() != kHiveBaseBlockSize) {
        errno = EIO; // the hive is shorter than it was a moment ago
        return false;
    }
    std::memcpy(plan.baseBlock, block.data(), kHiveBaseBlockSize);
    plan.length = length;
    plan.binsSize = ReadHiveBaseBlock(plan.baseBlock, kHiveBaseBlockSize).binsSize;
    std::uint32_t walked = 0;
    if (!WriteImageInMemory(fd, length, plan, imageFd, &walked)) {
        return false;
    }
    if (walked == 0) {
        close(*imageFd);
        *imageFd = -1;
        return true;
    }
    PutLittleEndianDword(plan.baseBlock + kHiveBinsSizeAt, walked);
    SealHiveBaseBlock(plan.baseBlock);
    return WriteBytesAt(*imageFd, reinterpret_cast<const char*>(plan.baseBlock), kHiveBaseBlockSize,
                        0);
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
    if (plan.outcome.entries == 0) {
        return true;
    }
    std::uint32_t binsEnd = 0;
    if (!WriteImageInMemory(fd, length, plan, imageFd, &binsEnd)) {
        return false;
    }
    if (binsEnd != plan.binsSize) {
        close(*imageFd);
        *imageFd = -1;
        // The chain's end stays as the plan found it.
        outcome->result = HiveReplayResult::Incomplete;
        outcome->entries = 0;
        outcome->lastSequence = 0;
        outcome->problem = "a bin is damaged after its transaction logs are replayed";
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
    const bool aligned = base.binsSize % kHivePageSize == 0;
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
    int imageFd = -1;
    if (!MendBinsSize(fd, length, &imageFd)) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        if (imageFd >= 0) {
            close(imageFd);
        }
        return false;
    }
    if (imageFd >= 0) {
        image->memoryFd = imageFd;
        image->readPath = ProcessFdPath(imageFd);
    }
    return true;
}

void ReleaseHiveImage(HiveImage* image) {
    if (image->memoryFd >= 0) {
        close(image->memoryFd);
        image->memoryFd = -1;
    }
}
