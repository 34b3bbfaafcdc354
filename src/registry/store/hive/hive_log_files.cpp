#include "registry/store/hive/hive_log_files.h"

#include "registry/store/file_io.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The logs' names beside a hive: its name and these endings, in any case of letters.
const char* const kHiveLogSuffixes[] = {".LOG1", ".LOG2", ".LOG"};
const std::size_t kHiveLogSuffixCount = sizeof kHiveLogSuffixes / sizeof kHiveLogSuffixes[0];

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

} // namespace

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
