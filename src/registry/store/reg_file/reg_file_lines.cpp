#include "registry/store/reg_file/reg_file_lines.h"

#include "text/utf8.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const std::size_t kFirstBufferSize = 256 * 1024;

void GrowStorage(LineReader* reader, std::size_t capacity) {
    reader->storage.reserve(capacity / sizeof(char16_t)); // exactly: resize alone may double
    reader->storage.resize(capacity / sizeof(char16_t));
    reader->bytes = reinterpret_cast<unsigned char*>(reader->storage.data());
    reader->capacity = reader->storage.size() * sizeof(char16_t);
}

// Doubles the buffer, but not beyond the rest of the file: a line that fills the buffer is then
// held at its own size rather than at up to twice it.
std::size_t GrownCapacity(const LineReader& reader) {
    const std::size_t doubled = reader.capacity * 2;
    const std::uint64_t rest = reader.fileSize > reader.bufferOffset
                                   ? reader.fileSize - reader.bufferOffset + sizeof(char16_t)
                                   : 0;
    if (rest <= reader.capacity || rest >= doubled) {
        return doubled; // the file grew since it was opened
    }
    return static_cast<std::size_t>(rest);
}

// Reads more of the file behind what is held, first moving the unread bytes to the front and
// growing the buffer when a single line fills it.
bool FillBuffer(LineReader* reader) {
    if (reader->begin > 0) {
        const std::size_t held = reader->end - reader->begin;
        std::memmove(reader->bytes, reader->bytes + reader->begin, held);
        reader->bufferOffset += reader->begin;
        reader->begin = 0;
        reader->end = held;
    }
    if (reader->end == reader->capacity) {
        GrowStorage(reader, GrownCapacity(*reader));
    }
    for (;;) {
        const ssize_t got =
            read(reader->fd, reader->bytes + reader->end, reader->capacity - reader->end);
        if (got > 0) {
            reader->end += static_cast<std::size_t>(got);
            return true;
        }
        if (got == 0) {
            reader->endOfFile = true;
            return true;
        }
        if (errno != EINTR) {
            reader->readError = errno;
            return false;
        }
    }
}

// Position of the first CR or LF unit in [from, to), or to. memchr finds the candidates; in
// UTF-16 a candidate counts only as the low byte of a unit whose high byte is 0.
std::size_t FindLineEnding(const LineReader& reader, std::size_t from, std::size_t to) {
    const unsigned char* bytes = reader.bytes;
    const bool wide = reader.encoding == RegFileEncoding::Utf16Le;
    while (from < to) {
        const void* lf = std::memchr(bytes + from, '\n', to - from);
        const std::size_t bound =
            lf == nullptr ? to
                          : static_cast<std::size_t>(static_cast<const unsigned char*>(lf) - bytes);
        const void* cr = std::memchr(bytes + from, '\r', bound - from);
        const std::size_t at =
            cr == nullptr ? bound
                          : static_cast<std::size_t>(static_cast<const unsigned char*>(cr) - bytes);
        if (at == to) {
            return to;
        }
        if (!wide || ((at - from) % 2 == 0 && at + 1 < to && bytes[at + 1] == 0)) {
            return at;
        }
        from = at + ((at - from) % 2 == 0 ? 2 : 1); // an odd candidate: back in step with units
    }
    return to;
}

void HandOut(LineReader* reader, std::size_t contentEnd, std::size_t next, LineEnding ending,
             PhysicalLine* line) {
    line->number = ++reader->lineNumber;
    line->start = reader->bufferOffset + reader->begin;
    line->contentEnd = reader->bufferOffset + contentEnd;
    line->bytes = reader->bytes + reader->begin;
    line->units = nullptr;
    if (reader->encoding == RegFileEncoding::Utf16Le && kLittleEndianHost) {
        line->units = reader->storage.data() + reader->begin / 2;
    }
    line->length = contentEnd - reader->begin;
    line->ending = ending;
    reader->begin = next;
    reader->scanned = 0;
}

} // namespace

bool StartLineReader(int fd, LineReader* reader) {
    reader->fd = fd;
    reader->encoding = RegFileEncoding::Utf8;
    reader->textStart = 0;
    GrowStorage(reader, kFirstBufferSize);
    reader->begin = 0;
    reader->end = 0;
    reader->scanned = 0;
    reader->bufferOffset = 0;
    struct stat status;
    reader->fileSize = fstat(fd, &status) == 0 && status.st_size > 0
                           ? static_cast<std::uint64_t>(status.st_size)
                           : 0;
    reader->endOfFile = false;
    reader->lineNumber = 0;
    reader->readError = 0;
    while (reader->end < 3 && !reader->endOfFile) {
        if (!FillBuffer(reader)) {
            return false;
        }
    }
    const unsigned char* bytes = reader->bytes;
    if (reader->end >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        reader->encoding = RegFileEncoding::Utf16Le;
        reader->textStart = 2;
    } else if (reader->end >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        reader->textStart = 3;
    }
    reader->begin = static_cast<std::size_t>(reader->textStart);
    return true;
}

LineStatus NextPhysicalLine(LineReader* reader, PhysicalLine* line) {
    const std::size_t unit = reader->encoding == RegFileEncoding::Utf16Le ? 2 : 1;
    for (;;) {
        const std::size_t whole = reader->begin + ((reader->end - reader->begin) / unit) * unit;
        const std::size_t at = FindLineEnding(*reader, reader->begin + reader->scanned, whole);
        // A CR at the end of what is held may be the first half of a CRLF.
        const bool needMore =
            at == whole || (at + unit == whole && !reader->endOfFile && reader->bytes[at] == '\r');
        if (!needMore) {
            const LineEnding ending =
                LineEndingAt(reader->encoding, reader->bytes + at, whole - at);
            const std::size_t endingLength = ending == LineEnding::CrLf ? 2 * unit : unit;
            HandOut(reader, at, at + endingLength, ending, line);
            return LineStatus::Line;
        }
        if (reader->endOfFile) {
            if (reader->begin == reader->end) {
                return LineStatus::End;
            }
            HandOut(reader, reader->end, reader->end, LineEnding::None, line);
            return whole == reader->end ? LineStatus::Line : LineStatus::OddByte;
        }
        reader->scanned = at - reader->begin;
        if (!FillBuffer(reader)) {
            return LineStatus::ReadError;
        }
    }
}
