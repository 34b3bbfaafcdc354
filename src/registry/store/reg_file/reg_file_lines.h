// Reads a .reg file line by line through a bounded buffer, so that a large store is never held
// whole in memory. Lines end with CRLF, LF or a lone CR; the last one may have no ending.
#pragma once

#include "registry/store/reg_file/reg_file_text.h"

#include <cstddef>
#include <cstdint>
#include <vector>

struct LineReader {
    int fd;
    RegFileEncoding encoding;
    std::uint64_t textStart; // bytes of the byte-order mark
    // Held as UTF-16 units so that, on a little-endian host, the lines of a UTF-16LE file can
    // be parsed where they were read; bytes views the same storage.
    std::vector<char16_t> storage;
    unsigned char* bytes;
    std::size_t capacity;       // in bytes
    std::size_t begin;          // first byte not yet handed out
    std::size_t end;            // bytes held
    std::size_t scanned;        // bytes from begin already searched for a line ending
    std::uint64_t bufferOffset; // file offset of buffer[0]
    std::uint64_t fileSize;     // at the start; bounds the buffer's growth for a long line
    bool endOfFile;
    std::uint64_t lineNumber;
    int readError; // errno of a failed read
};

struct PhysicalLine {
    std::uint64_t number;
    std::uint64_t start;        // file offset of the line's first byte
    std::uint64_t contentEnd;   // file offset behind the line's text, before its ending
    const unsigned char* bytes; // the text; valid until the next line is read
    const char16_t* units;      // the same as UTF-16 units, when the host can read them so
    std::size_t length;         // in bytes
    LineEnding ending;
};

enum class LineStatus { Line, End, ReadError, OddByte };

// Reads the first bytes of the file open on fd (from its current position, the file's start),
// tells the encoding by the byte-order mark and steps over the mark.
bool StartLineReader(int fd, LineReader* reader);

// OddByte: a UTF-16 file whose last line ends in half a unit; line then holds that line.
LineStatus NextPhysicalLine(LineReader* reader, PhysicalLine* line);
