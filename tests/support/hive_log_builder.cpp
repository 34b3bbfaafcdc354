#include "hive_log_builder.h"

#include "registry/store/file_io.h"
#include "registry/store/hive/hive_format.h"
#include "registry/store/hive/hive_image.h"
#include "registry/store/hive/hive_log_replay.h"
#include "registry/store/hive/marvin32.h"

#include <cerrno>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace {

const std::size_t kPage = 0x1000;

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

void PutQword(std::string* bytes, std::size_t at, std::uint64_t value) {
    PutHiveDword(bytes, at, static_cast<std::uint32_t>(value));
    PutHiveDword(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

bool PageDiffers(const std::string& before, const std::string& after, std::size_t at) {
    return at + kPage > before.size() || before.compare(at, kPage, after, at, kPage) != 0;
}

} // namespace

std::uint32_t HiveDword(const std::string& bytes, std::size_t at) {
    return LittleEndianDword(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

void PutHiveDword(std::string* bytes, std::size_t at, std::uint32_t value) {
    PutLittleEndianDword(reinterpret_cast<unsigned char*>(&(*bytes)[at]), value);
}

std::vector<PageRun> DifferingPageRuns(const std::string& before, const std::string& after) {
    std::vector<PageRun> runs;
    const std::size_t end = kHiveBinsStart + HiveDword(after, kHiveBinsSizeAt);
    for (std::size_t at = kHiveBinsStart; at < end; at += kPage) {
        if (!PageDiffers(before, after, at)) {
            continue;
        }
        const std::uint32_t relative = static_cast<std::uint32_t>(at - kHiveBinsStart);
        if (!runs.empty() && runs.back().offset + runs.back().size == relative) {
            runs.back().size += kPage;
        } else {
            runs.push_back(PageRun{relative, kPage});
        }
    }
    return runs;
}

std::string HiveLogStart(const std::string& hive, std::uint32_t sequence) {
    std::string start = hive.substr(0, kHiveBaseBlockSize);
    PutHiveDword(&start, 0x04, sequence);
    PutHiveDword(&start, 0x08, sequence);
    PutHiveDword(&start, 0x1C, 6);
    SealHiveBaseBlock(reinterpret_cast<unsigned char*>(&start[0]));
    return start;
}

std::string HiveLogEntry(const std::string& after, const std::vector<PageRun>& runs,
                         std::uint32_t sequence, std::uint32_t binsSize) {
    std::string entry(0x28, '\0');
    entry.replace(0, 4, "HvLE");
    PutHiveDword(&entry, 0x08, HiveDword(after, 0x90) & 1u);
    PutHiveDword(&entry, 0x0C, sequence);
    PutHiveDword(&entry, 0x10, binsSize);
    PutHiveDword(&entry, 0x14, static_cast<std::uint32_t>(runs.size()));
    for (const PageRun& run : runs) {
        std::string reference(8, '\0');
        PutHiveDword(&reference, 0, run.offset);
        PutHiveDword(&reference, 4, run.size);
        entry += reference;
    }
    for (const PageRun& run : runs) {
        entry += after.substr(kHiveBinsStart + run.offset, run.size);
    }
    entry.resize((entry.size() + 511) / 512 * 512, '\0');
    PutHiveDword(&entry, 0x04, static_cast<std::uint32_t>(entry.size()));
    SealHiveLogEntry(&entry, 0);
    return entry;
}

void SealHiveLogEntry(std::string* log, std::size_t at) {
    const std::size_t size = HiveDword(*log, at + 0x04);
    PutQword(log, at + 0x18, Marvin32(kHiveLogMarvinSeed, Bytes(*log) + at + 0x28, size - 0x28));
    PutQword(log, at + 0x20, Marvin32(kHiveLogMarvinSeed, Bytes(*log) + at, 0x20));
}

void SetHiveSequence(std::string* hive, std::uint32_t primary, std::uint32_t secondary) {
    PutHiveDword(hive, 0x04, primary);
    PutHiveDword(hive, 0x08, secondary);
    SealHiveBaseBlock(reinterpret_cast<unsigned char*>(&(*hive)[0]));
}

HiveReplay ReplayInVector(std::vector<unsigned char>* image,
                          const std::vector<std::vector<unsigned char>>& logs) {
    std::vector<HiveLogBytes> views;
    for (const std::vector<unsigned char>& log : logs) {
        views.push_back(HiveLogBytes{log.data(), log.size(), nullptr});
    }
    const int hive = memfd_create("hive", MFD_CLOEXEC);
    HiveReplay replay{HiveReplayResult::Incomplete,
                      0,
                      0,
                      "the hive cannot be held in memory",
                      HiveChainEnd::LogEnd,
                      HiveDeclinedEntry{0, 0, 0, "", 0}};
    int replayed = -1;
    if (hive < 0 ||
        !WriteBytesAt(hive, reinterpret_cast<const char*>(image->data()), image->size(), 0) ||
        !ReplayHiveFile(hive, image->size(), views.data(), views.size(), &replay, &replayed)) {
        replay.problem = std::string("cannot replay: ") + std::strerror(errno);
    }
    std::string bytes;
    if (replayed >= 0 &&
        ReadBytesAt(replayed, 0, static_cast<std::size_t>(lseek(replayed, 0, SEEK_END)), &bytes)) {
        image->assign(bytes.begin(), bytes.end());
    }
    if (replayed >= 0) {
        close(replayed);
    }
    if (hive >= 0) {
        close(hive);
    }
    return replay;
}
