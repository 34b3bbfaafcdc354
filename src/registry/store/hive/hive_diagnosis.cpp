#include "registry/store/hive/hive_diagnosis.h"

#include "registry/store/hive/hive_format.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

std::uint32_t FieldAt(const std::string& bytes, std::size_t at) {
    return LittleEndianDword(reinterpret_cast<const unsigned char*>(bytes.data()) + at);
}

} // namespace

bool LooksLikeHive(const std::string& bytes) {
    return !bytes.empty() &&
           std::memcmp(bytes.data(), "regf", std::min<std::size_t>(4, bytes.size())) == 0;
}

bool DiagnoseHiveFile(const std::string& bytes, std::uint64_t size, std::string* what) {
    if (size < kHiveBaseBlockSize || bytes.size() < kHiveBaseBlockSize) {
        *what = "the registry hive is truncated: " + std::to_string(size) +
                " bytes, less than its 512-byte header; copy it again";
        return true;
    }
    const std::uint32_t type = FieldAt(bytes, kHiveFileTypeAt);
    if (type == 1 || type == 2 || type == 6) {
        *what = "the file is a transaction log of a registry hive (file type " +
                std::to_string(type) + "), not the hive: name the hive, not its log";
        return true;
    }
    const HiveBaseBlock block =
        ReadHiveBaseBlock(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (!block.valid) {
        *what = "the registry hive's header is damaged (its checksum is wrong)";
        return true;
    }
    const std::uint32_t major = FieldAt(bytes, kHiveMajorVersionAt);
    if (major != 1) {
        *what = "the registry hive is of format version " + std::to_string(major) + "." +
                std::to_string(FieldAt(bytes, kHiveMinorVersionAt)) +
                ", which cannot be read (1.x can)";
        return true;
    }
    // A dirty hive may be grown by its logs; a bins size of no whole pages is mended.
    const std::uint64_t wanted = kHiveBinsStart + std::uint64_t{block.binsSize};
    if (block.primarySequence == block.secondarySequence && block.binsSize % kHivePageSize == 0 &&
        size < wanted) {
        *what = "the registry hive is truncated: " + std::to_string(size) + " of " +
                std::to_string(wanted) + " bytes; copy it again";
        return true;
    }
    return false;
}
