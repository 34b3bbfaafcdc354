#include "registry/store/hive/hive_image.h"

#include "registry/store/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
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
    std::string name;
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
        return HiveLogBytes{static_cast<const unsigned char*>(log.mapping), log.mappedLength,
                            log.name.c_str()};
    }
    return HiveLogBytes{log.copy.data(), log.copy.size(), log.name.c_str()};
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
        logs->push_back(HiveLogFile{nullptr, 0, {}, names.front()});
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

// Writes the image of the hive on fd (length bytes) that the plan makes into the file in
// memory on memoryFd, a piece at a time: the file's bytes, the log pages over them, the plan's
// base block. The bins are walked in each piece on its way, which spares reading the image once
// more; binsEnd: where the walk ends. False, with errno set, when a file cannot be read or
// written.
bool WriteImage(int fd, std::size_t length, const HiveReplayPlan& plan, int memoryFd,
                std::uint32_t* binsEnd) {
    const std::vector<const unsigned char*> sources = FinalPageSources(plan);
    std::vector<char> piece(kReplayPieceSize);
    std::uint64_t at = 0; // the walk's next bin, from the first
    bool walking = true;
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
    for (int at = 0; at < 4; ++at) {
        plan.baseBlock[kBinsSizeAt + static_cast<std::size_t>(at)] =
            static_cast<unsigned char>(walked >> (8 * at));
    }
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
