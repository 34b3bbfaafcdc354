// A hive file's layout on disk, as far as the program reads and writes it itself: the base
// block's fields, the bins behind it and a bin's header, all in little-endian numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The base block: the file's first bytes.
const std::size_t kHiveBaseBlockSize = 512;
const std::size_t kHivePrimarySequenceAt = 0x04;
const std::size_t kHiveSecondarySequenceAt = 0x08;
const std::size_t kHiveMajorVersionAt = 0x14;
const std::size_t kHiveMinorVersionAt = 0x18;
const std::size_t kHiveFileTypeAt = 0x1C; // 0: a hive; 1, 2 or 6: a transaction log
const std::size_t kHiveBinsSizeAt = 0x28; // the bytes of all bins
const std::size_t kHiveFlagsAt = 0x90;
const std::size_t kHiveChecksumAt = 0x1FC;

// The bins: from the second page on, each a whole number of pages, each starting with a header
// that gives its own offset from the first bin and its size.
const std::size_t kHiveBinsStart = 0x1000;
const std::uint32_t kHivePageSize = 0x1000;
const std::size_t kHiveBinHeaderSize = 32;
const std::size_t kHiveBinOffsetAt = 0x04;
const std::size_t kHiveBinSizeAt = 0x08;

inline std::uint32_t LittleEndianDword(const unsigned char* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline std::uint64_t LittleEndianQword(const unsigned char* bytes) {
    return static_cast<std::uint64_t>(LittleEndianDword(bytes + 4)) << 32 |
           LittleEndianDword(bytes);
}

inline void PutLittleEndianDword(unsigned char* bytes, std::uint32_t value) {
    for (int at = 0; at < 4; ++at) {
        bytes[at] = static_cast<unsigned char>(value >> (8 * at));
    }
}

// Whether the four bytes at bytes are the mark ("regf", "hbin", "HvLE", "DIRT").
inline bool HiveMarked(const unsigned char* bytes, const char* mark) {
    return std::memcmp(bytes, mark, 4) == 0;
}

// The base block's fields that tell a dirty hive.
struct HiveBaseBlock {
    bool valid; // "regf" and a correct checksum
    std::uint32_t primarySequence;
    std::uint32_t secondarySequence;
    std::uint32_t binsSize;
};

HiveBaseBlock ReadHiveBaseBlock(const unsigned char* bytes, std::size_t length);

// Stores the checksum of the first 508 bytes behind them.
void SealHiveBaseBlock(unsigned char* bytes);

// A walk of whole bins from the first one, as a reader of the hive walks them, below binsSize:
// at is the end of the bins walked so far, relative to the first bin.
struct HiveBinWalk {
    std::uint32_t binsSize;
    std::uint64_t at;
    bool walking; // false once a bin is not one
};

// Walks on over the bins whose headers lie in the image's bytes [start, start + size), held at
// bytes, of an image imageLength bytes long. Pieces are walked in order; one that ends inside a
// bin's header leaves it to the next.
void WalkHiveBins(const unsigned char* bytes, std::size_t start, std::size_t size,
                  std::size_t imageLength, HiveBinWalk* walk);

// The end of the walk, as a bins size.
std::uint32_t WalkedBinsEnd(const HiveBinWalk& walk);
