// Drives the replay of a hive's transaction logs on an arbitrary log. The input is the log; the
// hive is made to fit it: the log's base block, dirty one entry below the log's, over bins of
// one page each up to the log's bins size (at most 64 KiB). The log is replayed alone and then
// given twice. Inputs are kept small, as the hive is copied on every replay: what a log can do
// wrong shows in a few pages.
#include "registry/store/hive/hive_format.h"
#include "registry/store/hive/hive_image.h"
#include "registry/store/hive/hive_log_replay.h"
#include "registry/store/hive/marvin32.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

const std::uint32_t kMaxBins = 64u << 10;
const std::size_t kMaxLog = 256u << 10;

std::vector<unsigned char> HiveFor(const unsigned char* log, std::size_t length) {
    const HiveBaseBlock copy = ReadHiveBaseBlock(log, length);
    const std::uint32_t bins = std::min(copy.binsSize / kHivePageSize * kHivePageSize, kMaxBins);
    std::vector<unsigned char> hive(kHiveBinsStart + bins, 0);
    std::memcpy(hive.data(), log, kHiveBaseBlockSize);
    PutLittleEndianDword(&hive[kHivePrimarySequenceAt], copy.primarySequence);
    PutLittleEndianDword(&hive[kHiveSecondarySequenceAt], copy.primarySequence - 1);
    PutLittleEndianDword(&hive[kHiveFileTypeAt], 0);
    PutLittleEndianDword(&hive[kHiveBinsSizeAt], bins);
    SealHiveBaseBlock(hive.data());
    for (std::uint32_t at = 0; at < bins; at += kHivePageSize) {
        unsigned char* bin = &hive[kHiveBinsStart + at];
        std::memcpy(bin, "hbin", 4);
        PutLittleEndianDword(bin + kHiveBinOffsetAt, at);
        PutLittleEndianDword(bin + kHiveBinSizeAt, kHivePageSize);
    }
    return hive;
}

// The plan applied the plain way: the whole image in memory, each write in its turn.
std::vector<unsigned char> AppliedPlainly(const std::vector<unsigned char>& hive,
                                          const HiveReplayPlan& plan) {
    std::vector<unsigned char> image = hive;
    image.resize(plan.length, 0);
    for (const HivePageWrite& write : plan.writes) {
        std::memcpy(image.data() + write.offset, write.bytes, write.size);
    }
    std::memcpy(image.data(), plan.baseBlock, kHiveBaseBlockSize);
    return image;
}

// A declined entry is one Windows' rules would take: its signature, both hashes right, a bins
// size of whole pages, and the number that follows the last entry applied. Only then is the
// replay incomplete.
bool TakenByWindowsRules(const HiveLogBytes* logs, const HiveReplay& replay) {
    const HiveDeclinedEntry& entry = replay.declined;
    const unsigned char* header = logs[entry.log].bytes + entry.at;
    const std::size_t size =
        entry.at + 0x28 <= logs[entry.log].length ? std::size_t{LittleEndianDword(header + 4)} : 0;
    return replay.result == HiveReplayResult::Incomplete && size >= 0x28 &&
           size <= logs[entry.log].length - entry.at && std::memcmp(header, "HvLE", 4) == 0 &&
           Marvin32(kHiveLogMarvinSeed, header, 0x20) == LittleEndianQword(header + 0x20) &&
           Marvin32(kHiveLogMarvinSeed, header + 0x28, size - 0x28) ==
               LittleEndianQword(header + 0x18) &&
           LittleEndianDword(header + 0x0C) == entry.sequence &&
           LittleEndianDword(header + 0x10) % 0x1000 == 0 &&
           (replay.entries == 0 || entry.sequence == replay.lastSequence + 1);
}

std::vector<unsigned char> FileBytes(int fd) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)));
    if (pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
        std::abort();
    }
    return bytes;
}

// The image written piece by piece must be the plan applied plainly, its bins walked alike,
// clean at the last entry applied, and no larger than the hive and its logs; both must end the
// chain alike, and a declined entry be one that Windows' rules take.
void Replay(const std::vector<unsigned char>& hive,
            const std::vector<std::vector<unsigned char>>& logs) {
    std::vector<HiveLogBytes> views;
    std::size_t room = hive.size();
    for (const std::vector<unsigned char>& log : logs) {
        views.push_back(HiveLogBytes{log.data(), log.size(), nullptr});
        room += log.size();
    }
    const int hiveFd = memfd_create("hive", MFD_CLOEXEC);
    if (hiveFd < 0 ||
        pwrite(hiveFd, hive.data(), hive.size(), 0) != static_cast<ssize_t>(hive.size())) {
        std::abort();
    }
    HiveReplay replay;
    int imageFd = -1;
    if (!ReplayHiveFile(hiveFd, hive.size(), views.data(), views.size(), &replay, &imageFd)) {
        std::abort();
    }
    close(hiveFd);
    HiveReplayPlan plan;
    PlanHiveReplay(hive.data(), hive.size(), views.data(), views.size(), &plan);
    const HiveDeclinedEntry& declined = plan.outcome.declined;
    if (replay.end != plan.outcome.end || replay.declined.log != declined.log ||
        replay.declined.at != declined.at || replay.declined.sequence != declined.sequence ||
        replay.declined.laterEntries != declined.laterEntries ||
        (plan.outcome.end == HiveChainEnd::Declined &&
         !TakenByWindowsRules(views.data(), plan.outcome)) ||
        (plan.outcome.result == HiveReplayResult::Replayed &&
         plan.outcome.end != HiveChainEnd::LogEnd)) {
        std::abort();
    }
    if (plan.outcome.entries == 0) {
        if (imageFd >= 0 || replay.result != plan.outcome.result) {
            std::abort();
        }
        return;
    }
    const std::vector<unsigned char> plain = AppliedPlainly(hive, plan);
    HiveBinWalk walk{plan.binsSize, 0, true};
    WalkHiveBins(plain.data(), 0, plain.size(), plain.size(), &walk);
    const bool whole = WalkedBinsEnd(walk) == plan.binsSize;
    if (whole != (imageFd >= 0) || plain.size() > room ||
        (whole && replay.result != plan.outcome.result)) {
        std::abort();
    }
    if (imageFd < 0) {
        return;
    }
    const HiveBaseBlock block = ReadHiveBaseBlock(plain.data(), plain.size());
    if (FileBytes(imageFd) != plain || !block.valid ||
        block.primarySequence != replay.lastSequence ||
        block.secondarySequence != replay.lastSequence || replay.entries == 0) {
        std::abort();
    }
    close(imageFd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const HiveBaseBlock copy = ReadHiveBaseBlock(data, size);
    if (!copy.valid || size > kMaxLog) {
        return 0;
    }
    const std::vector<unsigned char> hive = HiveFor(data, size);
    const std::vector<unsigned char> log(data, data + size);
    Replay(hive, {log});
    Replay(hive, {log, log});
    return 0;
}
