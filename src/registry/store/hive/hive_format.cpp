#include "registry/store/hive/hive_format.h"

#include <algorithm>

namespace {

// The XOR of the base block's first 127 dwords, which its last dword holds.
std::uint32_t HiveBaseBlockChecksum(const unsigned char* bytes) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at < kHiveChecksumAt; at += 4) {
        sum ^= LittleEndianDword(bytes + at);
    }
    return sum;
}

// The size of the bin whose kHiveBinHeaderSize header bytes are at header, the bin being at
// offset at from the first bin with room bytes from there to the image's end; 0 when it is no
// whole bin that knows its own place.
std::uint32_t HiveBinSizeAt(const unsigned char* header, std::uint64_t at, std::uint64_t room) {
    const std::uint32_t size = LittleEndianDword(header + kHiveBinSizeAt);
    if (!HiveMarked(header, "hbin") || LittleEndianDword(header + kHiveBinOffsetAt) != at ||
        size == 0 || size % kHivePageSize != 0 || size > room) {
        return 0;
    }
    return size;
}

} // namespace

void SealHiveBaseBlock(unsigned char* bytes) {
    PutLittleEndianDword(bytes + kHiveChecksumAt, HiveBaseBlockChecksum(bytes));
}

HiveBaseBlock ReadHiveBaseBlock(const unsigned char* bytes, std::size_t length) {
    HiveBaseBlock block{false, 0, 0, 0};
    if (length < kHiveBaseBlockSize || !HiveMarked(bytes, "regf")) {
        return block;
    }
    // Windows stores 1 for a sum of 0 and 0xFFFFFFFE for 0xFFFFFFFF; hivex stores the sum.
    const std::uint32_t sum = HiveBaseBlockChecksum(bytes);
    const std::uint32_t stored = LittleEndianDword(bytes + kHiveChecksumAt);
    block.valid =
        stored == sum || (sum == 0 && stored == 1) || (sum == 0xFFFFFFFFu && stored == 0xFFFFFFFEu);
    block.primarySequence = LittleEndianDword(bytes + kHivePrimarySequenceAt);
    block.secondarySequence = LittleEndianDword(bytes + kHiveSecondarySequenceAt);
    block.binsSize = LittleEndianDword(bytes + kHiveBinsSizeAt);
    return block;
}

void WalkHiveBins(const unsigned char* bytes, std::size_t start, std::size_t size,
                  std::size_t imageLength, HiveBinWalk* walk) {
    while (walk->walking && walk->at < walk->binsSize && kHiveBinsStart + walk->at >= start &&
           kHiveBinsStart + walk->at + kHiveBinHeaderSize <= start + size) {
        const std::size_t header = kHiveBinsStart + walk->at;
        const std::uint32_t bin =
            HiveBinSizeAt(bytes + (header - start), walk->at, imageLength - header);
        walk->walking = bin != 0;
        walk->at += bin;
    }
}

std::uint32_t WalkedBinsEnd(const HiveBinWalk& walk) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(walk.at, 0xFFFFFFFFu));
}
