// Drives the replay of a hive's transaction logs on an arbitrary log. The input is the log; the
// hive is made to fit it: the log's base block, dirty one entry below the log's, over bins of
// one page each up to the log's bins size (at most 64 KiB). The log is replayed alone and then
// given twice. Inputs are kept small, as the hive is copied on every replay: what a log can do
// wrong shows in a few pages. A replayed hive must be clean at the last entry applied, with
// whole bins up to its bins size.
#include "registry/store/hive_log_replay.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const std::uint32_t kMaxBins = 64u << 10;
const std::size_t kMaxLog = 256u << 10;

void PutDword(unsigned char* bytes, std::uint32_t value) {
    for (int at = 0; at < 4; ++at) {
        bytes[at] = static_cast<unsigned char>(value >> (8 * at));
    }
}

std::vector<unsigned char> HiveFor(const unsigned char* log, std::size_t length) {
    const HiveBaseBlock copy = ReadHiveBaseBlock(log, length);
    const std::uint32_t bins =
        copy.binsSize / 0x1000 * 0x1000 > kMaxBins ? kMaxBins : copy.binsSize / 0x1000 * 0x1000;
    std::vector<unsigned char> hive(kHiveBinsStart + bins, 0);
    std::memcpy(hive.data(), log, kHiveBaseBlockSize);
    PutDword(&hive[0x04], copy.primarySequence);
    PutDword(&hive[0x08], copy.primarySequence - 1);
    PutDword(&hive[0x1C], 0);
    PutDword(&hive[0x28], bins);
    SealHiveBaseBlock(hive.data());
    for (std::uint32_t at = 0; at < bins; at += 0x1000) {
        unsigned char* bin = &hive[kHiveBinsStart + at];
        std::memcpy(bin, "hbin", 4);
        PutDword(bin + 4, at);
        PutDword(bin + 8, 0x1000);
    }
    return hive;
}

void Replay(const std::vector<unsigned char>& hive,
            const std::vector<std::vector<unsigned char>>& logs) {
    std::vector<HiveLogBytes> views;
    for (const std::vector<unsigned char>& log : logs) {
        views.push_back(HiveLogBytes{log.data(), log.size()});
    }
    std::vector<unsigned char> image = hive;
    image.resize(HiveReplayCapacity(hive.size(), views.data(), views.size()));
    HiveBytes bytes{image.data(), hive.size(), image.size()};
    const HiveReplay replay = ReplayHiveLogs(&bytes, views.data(), views.size());
    if (bytes.length > bytes.capacity) {
        std::abort();
    }
    if (replay.result != HiveReplayResult::Replayed) {
        return;
    }
    const HiveBaseBlock block = ReadHiveBaseBlock(bytes.bytes, bytes.length);
    if (!block.valid || block.primarySequence != replay.lastSequence ||
        block.secondarySequence != replay.lastSequence || replay.entries == 0 ||
        WalkedBinsEnd(bytes.bytes, bytes.length, block.binsSize) != block.binsSize) {
        std::abort();
    }
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
