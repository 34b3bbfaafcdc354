#include "registry/store/hive_image.h"

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

bool ReadWholeFile(int fd, std::vector<unsigned char>* bytes) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return false;
    }
    if (static_cast<std::uint64_t>(status.st_size) >= 0xFFFFFFFFu) {
        errno = EFBIG;
        return false;
    }
    bytes->resize(static_cast<std::size_t>(status.st_size));
    std::size_t done = 0;
    while (done < bytes->size()) {
        const ssize_t got =
            pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            bytes->resize(done); // the file is shorter than it was a moment ago
            return got == 0;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
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

// The logs beside the hive at path, read whole; one missing is no log.
bool ReadHiveLogs(const std::string& path, std::vector<std::vector<unsigned char>>* logs,
                  std::string* what) {
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
        logs->emplace_back();
        const bool read = fd >= 0 && ReadWholeFile(fd, &logs->back());
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

// Windows writes bins in whole pages, so a bins size that is no multiple of one is a damaged
// field, not damaged bins: it becomes the end of the bins a reader finds below it. Left as it
// is, hivex would read the hive but append its next bin at the wrong place.
bool MendBinsSize(std::vector<unsigned char>* bytes) {
    const HiveBaseBlock block = ReadHiveBaseBlock(bytes->data(), bytes->size());
    if (!block.valid || block.binsSize % kBinAlignment == 0) {
        return false;
    }
    const std::uint32_t walked = WalkedBinsEnd(bytes->data(), bytes->size(), block.binsSize);
    if (walked == 0) {
        return false;
    }
    for (int at = 0; at < 4; ++at) {
        (*bytes)[kBinsSizeAt + static_cast<std::size_t>(at)] =
            static_cast<unsigned char>(walked >> (8 * at));
    }
    SealHiveBaseBlock(bytes->data());
    return true;
}

bool HoldInMemory(const std::vector<unsigned char>& bytes, HiveImage* image) {
    image->memoryFd = memfd_create("hive", MFD_CLOEXEC);
    if (image->memoryFd < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = write(image->memoryFd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    image->readPath = "/proc/self/fd/" + std::to_string(image->memoryFd);
    return true;
}

// A clean hive with a sound bins size is read from its file, without a copy.
bool ReadAsItIs(int fd) {
    unsigned char block[kHiveBaseBlockSize];
    const ssize_t got = pread(fd, block, sizeof block, 0);
    const HiveBaseBlock base =
        ReadHiveBaseBlock(block, got > 0 ? static_cast<std::size_t>(got) : 0);
    return !base.valid ||
           (base.primarySequence == base.secondarySequence && base.binsSize % kBinAlignment == 0);
}

} // namespace

bool PrepareHiveImage(int fd, const std::string& openPath, const std::string& path,
                      HiveImage* image, std::string* what) {
    image->readPath = openPath;
    image->memoryFd = -1;
    image->state = HiveReplayResult::Clean;
    image->problem.clear();
    if (ReadAsItIs(fd)) {
        return true;
    }
    std::vector<unsigned char> bytes;
    std::vector<std::vector<unsigned char>> logs;
    if (!ReadWholeFile(fd, &bytes)) {
        *what = std::string("cannot read the registry hive: ") + std::strerror(errno);
        return false;
    }
    const HiveBaseBlock base = ReadHiveBaseBlock(bytes.data(), bytes.size());
    if (base.primarySequence != base.secondarySequence) {
        if (!ReadHiveLogs(path, &logs, what)) {
            return false;
        }
        const HiveReplay replay = ReplayHiveLogs(&bytes, logs);
        image->state = replay.result;
        image->problem = replay.problem;
        if (replay.result == HiveReplayResult::Incomplete && !ReadWholeFile(fd, &bytes)) {
            *what = std::string("cannot read the registry hive: ") + std::strerror(errno);
            return false;
        }
    }
    logs.clear();
    const bool mended = MendBinsSize(&bytes);
    if (image->state != HiveReplayResult::Replayed && !mended) {
        return true;
    }
    if (!HoldInMemory(bytes, image)) {
        *what = std::string("cannot hold the registry hive in memory: ") + std::strerror(errno);
        ReleaseHiveImage(image);
        return false;
    }
    return true;
}

void ReleaseHiveImage(HiveImage* image) {
    if (image->memoryFd >= 0) {
        close(image->memoryFd);
        image->memoryFd = -1;
    }
}
