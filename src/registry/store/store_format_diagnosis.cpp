#include "registry/store/store_format_diagnosis.h"

#include "registry/store/file_io.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sys/stat.h>

namespace {

const std::size_t kProbeSize = 4096; // enough of the file's start for every test here

struct Signature {
    const char* bytes;
    std::size_t length;
    const char* what; // as "the file is <what>"
};

const Signature kCompressed[] = {
    {"\xFD\x37\x7A\x58\x5A\x00", 6, "compressed with xz: unpack it first (xz -dk)"},
    {"\x1F\x8B", 2, "compressed with gzip: unpack it first (gzip -dk)"},
    {"\x28\xB5\x2F\xFD", 4, "compressed with zstd: unpack it first (zstd -d)"},
    {"PK\x03\x04", 4, "a zip archive: unpack it first (unzip)"},
    {"PK\x05\x06", 4, "an empty zip archive: unpack it first (unzip)"},
};

bool Starts(const std::string& bytes, const char* mark, std::size_t length) {
    return bytes.size() >= length && std::memcmp(bytes.data(), mark, length) == 0;
}

// "BZh", the block size and the first block's mark (or that of the end, in an empty one).
bool Bzip2(const std::string& bytes) {
    return Starts(bytes, "BZh", 3) && bytes.size() >= 10 && bytes[3] >= '1' && bytes[3] <= '9' &&
           (bytes.compare(4, 6, "\x31\x41\x59\x26\x53\x59") == 0 ||
            bytes.compare(4, 6, "\x17\x72\x45\x38\x50\x90") == 0);
}

bool Blank(unsigned char byte) {
    return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n';
}

// ASCII text of one unit per two bytes, the zero byte of each at zeroAt (1: little-endian).
bool AsciiUtf16(const std::string& bytes, std::size_t from, std::size_t zeroAt) {
    const std::size_t end = std::min<std::size_t>(bytes.size(), from + 32) / 2 * 2;
    if (end < from + 4) {
        return false;
    }
    for (std::size_t at = from; at < end; at += 2) {
        const unsigned char text = static_cast<unsigned char>(bytes[at + 1 - zeroAt]);
        if (bytes[at + zeroAt] != '\0' || text == 0 || text >= 0x80) {
            return false;
        }
    }
    return true;
}

// Only a byte-order mark and blank lines: no header, no key.
bool HoldsNoText(const std::string& bytes, std::uint64_t size) {
    if (size > bytes.size()) {
        return false;
    }
    const bool utf16 = Starts(bytes, "\xFF\xFE", 2);
    std::size_t at = utf16 ? 2 : Starts(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
    for (; at < bytes.size(); at += utf16 ? 2 : 1) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if (!Blank(byte) || (utf16 && (at + 1 >= bytes.size() || bytes[at + 1] != '\0'))) {
            return false;
        }
    }
    return true;
}

// A control character in a first line that does not start as a header: no text file.
bool StartsBinary(const std::string& bytes) {
    if (Starts(bytes, "\xFF\xFE", 2)) {
        return false;
    }
    std::size_t at = Starts(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
    while (at < bytes.size() && (bytes[at] == ' ' || bytes[at] == '\t')) {
        ++at;
    }
    if (bytes.compare(at, 7, "REGEDIT") == 0 || bytes.compare(at, 7, "Windows") == 0) {
        return false;
    }
    for (; at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r'; ++at) {
        const unsigned char byte = static_cast<unsigned char>(bytes[at]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            return true;
        }
    }
    return false;
}

} // namespace

bool ReadStoreFileStart(int fd, std::string* bytes, std::uint64_t* size) {
    struct stat status;
    if (fstat(fd, &status) != 0 || !ReadBytesAt(fd, 0, kProbeSize, bytes)) {
        return false;
    }
    *size = static_cast<std::uint64_t>(status.st_size);
    return true;
}

bool DiagnoseStoreFile(const std::string& bytes, std::uint64_t size, std::string* what) {
    if (size == 0) {
        *what = "the file is empty: a .reg export or a SYSTEM hive is needed";
        return true;
    }
    for (const Signature& signature : kCompressed) {
        if (Starts(bytes, signature.bytes, signature.length)) {
            *what = std::string("the file is ") + signature.what;
            return true;
        }
    }
    if (Bzip2(bytes)) {
        *what = "the file is compressed with bzip2: unpack it first (bzip2 -dk)";
        return true;
    }
    if (Starts(bytes, "\xFE\xFF", 2) || AsciiUtf16(bytes, 0, 0)) {
        *what = "the file is UTF-16BE text: convert it first (iconv -f UTF-16BE -t UTF-8)";
        return true;
    }
    if (AsciiUtf16(bytes, 0, 1)) {
        *what = "the file is UTF-16LE text without a byte-order mark: convert it first (iconv -f "
                "UTF-16LE -t UTF-8)";
        return true;
    }
    if (HoldsNoText(bytes, size)) {
        *what = "the file holds nothing but a byte-order mark or blank lines: a .reg export or a "
                "SYSTEM hive is needed";
        return true;
    }
    if (StartsBinary(bytes)) {
        *what = "the file is neither a .reg export nor a registry hive: it starts with binary data";
        return true;
    }
    return false;
}
