#include "empty_hive.h"

#include <cstddef>

namespace {

// Last written 2020-01-01 00:00 UTC, in the base block, the bin header and the root key.
const std::uint64_t kWrittenTime = 0x01D5C03669050000u;
const std::uint32_t kNowhere = 0xFFFFFFFFu;
const std::size_t kChecksumOffset = 0x1FC;

// Every offset is the file's; offsets stored in the hive count from the first bin (0x1000).
struct HiveField {
    std::uint32_t offset;
    std::uint32_t width; // bytes, little-endian
    std::uint64_t value;
};

const HiveField kEmptyHiveFields[] = {
    // Base block.
    {0x000, 4, 0x66676572u}, // "regf"
    {0x004, 4, 1},           // primary sequence number
    {0x008, 4, 1},           // secondary sequence number: equal, a cleanly written hive
    {0x00C, 8, kWrittenTime},
    {0x014, 4, 1},      // major version
    {0x018, 4, 5},      // minor version 5: subkey lists are hash leaves (lh)
    {0x01C, 4, 0},      // primary file
    {0x020, 4, 1},      // direct memory load
    {0x024, 4, 0x20},   // the root key cell
    {0x028, 4, 0x1000}, // the size of all hive bins
    {0x02C, 4, 1},      // clustering factor
    // The one hive bin's header.
    {0x1000, 4, 0x6E696268u}, // "hbin"
    {0x1004, 4, 0},           // its own offset
    {0x1008, 4, 0x1000},      // its size
    {0x1014, 8, kWrittenTime},
    // The root key (nk), 88 bytes, allocated.
    {0x1020, 4, 0xFFFFFFA8u}, // -88
    {0x1024, 2, 0x6B6Eu},     // "nk"
    {0x1026, 2, 0x2C},        // hive entry, no delete, name in 8-bit characters
    {0x1028, 8, kWrittenTime},
    {0x1034, 4, kNowhere},    // parent
    {0x1040, 4, kNowhere},    // subkey list
    {0x1044, 4, kNowhere},    // volatile subkey list
    {0x104C, 4, kNowhere},    // value list
    {0x1050, 4, 0x78},        // the security cell
    {0x1054, 4, kNowhere},    // class name
    {0x106C, 2, 4},           // name length
    {0x1070, 4, 0x544F4F52u}, // "ROOT"
    // The security cell (sk), 104 bytes, allocated, the only one: its own next and previous.
    {0x1078, 4, 0xFFFFFF98u}, // -104
    {0x107C, 2, 0x6B73u},     // "sk"
    {0x1080, 4, 0x78},
    {0x1084, 4, 0x78},
    {0x1088, 4, 1},  // used by the root key
    {0x108C, 4, 76}, // descriptor length
    // The rest of the bin: one free cell.
    {0x10E0, 4, 3872},
};

// O:BAG:SYD:(A;CI;0xf003f;;;WD), self-relative: the DACL, then the owner and group SIDs.
const unsigned char kSecurityDescriptor[76] = {
    0x01, 0x00, 0x04, 0x80, 0x30, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x14, 0x00, 0x00, 0x00, 0x02, 0x00, 0x1C, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x14, 0x00,
    0x3F, 0x00, 0x0F, 0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
    0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x20, 0x00, 0x00, 0x00, 0x20, 0x02, 0x00, 0x00,
    0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x12, 0x00, 0x00, 0x00};
const std::size_t kSecurityDescriptorOffset = 0x1090;

void PutLittleEndian(std::string* bytes, std::size_t offset, std::uint32_t width,
                     std::uint64_t value) {
    for (std::uint32_t at = 0; at < width; ++at) {
        (*bytes)[offset + at] = static_cast<char>((value >> (8 * at)) & 0xFFu);
    }
}

} // namespace

std::uint32_t HiveHeaderChecksum(const std::string& bytes) {
    std::uint32_t checksum = 0;
    for (std::size_t word = 0; word < kChecksumOffset; word += 4) {
        std::uint32_t value = 0;
        for (std::size_t at = 0; at < 4; ++at) {
            value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[word + at]))
                     << (8 * at);
        }
        checksum ^= value;
    }
    return checksum;
}

std::string EmptyHiveBytes() {
    std::string bytes(kEmptyHiveSize, '\0');
    for (const HiveField& field : kEmptyHiveFields) {
        PutLittleEndian(&bytes, field.offset, field.width, field.value);
    }
    bytes.replace(kSecurityDescriptorOffset, sizeof kSecurityDescriptor,
                  reinterpret_cast<const char*>(kSecurityDescriptor), sizeof kSecurityDescriptor);
    PutLittleEndian(&bytes, kChecksumOffset, 4, HiveHeaderChecksum(bytes));
    return bytes;
}
