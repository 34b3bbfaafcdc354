// The line loop of the .reg reader: the header, what a line's bytes are, and which part reads
// the line (reg_file_key_lines.cpp, reg_file_value_lines.cpp, reg_file_hex_data.cpp).
#include "registry/store/reg_file/reg_file_reader.h"

#include "registry/store/reg_file/reg_file_parse.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

const char kHeaderVersion5[] = "Windows Registry Editor Version 5.00";
const char kHeaderVersion4[] = "REGEDIT4";
const char kHeaderMissing[] = "missing header: the first line must be \"Windows Registry Editor "
                              "Version 5.00\" or \"REGEDIT4\"";
const char kHeaderStem[] = "REGEDIT";

// The parser's record: the parts each own a piece.
template <typename Unit>
struct RegParser {
    RegLine<Unit> line;
    RegSection section;
    RegKeyPaths<Unit> paths;
    RegValues values;
};

template <typename Unit>
bool ParseLine(RegParser<Unit>* parser) {
    RegLine<Unit>* line = &parser->line;
    const std::size_t at = SkipBlanks(line->text, 0);
    // Windows goes on with a continued value behind blank and comment lines.
    const bool blank = at == line->text.size() || line->text[at] == ';';
    if (parser->values.continued.active && !blank) {
        return ParseContinuedLine(line, parser->section, &parser->values);
    }
    if (blank || line->text[at] == '#') {
        return true;
    }
    if (line->text[at] == '[') {
        return ParseKeyLine(line, &parser->paths, &parser->section, at);
    }
    if (line->text[at] == '"' || line->text[at] == '@') {
        return ParseValueLine(line, parser->section, &parser->values, at);
    }
    return FailSkippable(line,
                         "unrecognized line (expected a [key], a value, a comment or a blank)");
}

// Whether text from at to its end is word.
template <typename Unit>
bool RestIs(Text<Unit> text, std::size_t at, const char* word) {
    return StartsWith(text, at, word) && text.size() - at == std::strlen(word);
}

template <typename Unit>
bool ReadHeader(Text<Unit> text, RegFileVersion* version) {
    const std::size_t at = SkipBlanks(text, 0);
    *version = RegFileVersion::Version5;
    if (RestIs(text, at, kHeaderVersion5)) {
        return true;
    }
    *version = RegFileVersion::Regedit4;
    return RestIs(text, at, kHeaderVersion4);
}

// Windows takes a first line that starts so as a header, but imports nothing from the file.
template <typename Unit>
bool HeaderWithoutImport(Text<Unit> text) {
    return StartsWith(text, SkipBlanks(text, 0), kHeaderStem);
}

// Four units at a time: a word has a zero unit exactly when this bit trick leaves a high bit.
bool HoldsNul(Text<char16_t> text) {
    const std::uint64_t ones = 0x0001000100010001u;
    const std::uint64_t highs = 0x8000800080008000u;
    std::size_t at = 0;
    for (; at + 4 <= text.size(); at += 4) {
        std::uint64_t word;
        std::memcpy(&word, text.data() + at, sizeof word);
        if (((word - ones) & ~word & highs) != 0) {
            return true;
        }
    }
    for (; at < text.size(); ++at) {
        if (text[at] == 0) {
            return true;
        }
    }
    return false;
}

// Takes the line's text as units; false when it holds a NUL character. The units of a UTF-16LE
// line are those the reader holds, unless the host cannot read them there.
bool TakeLineText(RegLine<char16_t>* line) {
    const PhysicalLine& physical = line->physical;
    if (physical.units != nullptr) {
        line->text = Text<char16_t>(physical.units, physical.length / 2);
        return !HoldsNul(line->text);
    }
    const bool noNul =
        DecodeLineText(RegFileEncoding::Utf16Le, physical.bytes, physical.length, &line->decoded);
    line->text = line->decoded;
    return noNul;
}

bool TakeLineText(RegLine<char>* line) {
    const PhysicalLine& physical = line->physical;
    line->text = Text<char>(reinterpret_cast<const char*>(physical.bytes), physical.length);
    return std::memchr(physical.bytes, 0, physical.length) == nullptr;
}

// The last line of a UTF-16 file may end in half a surrogate pair; UTF-8 text has no pairs.
bool EndsInsidePair(const RegLine<char16_t>& line) {
    const Text<char16_t> text = line.text;
    return line.physical.ending == LineEnding::None && !text.empty() && HighSurrogate(text.back());
}

bool EndsInsidePair(const RegLine<char>&) {
    return false;
}

// Checks what the line's bytes are before what they say.
template <typename Unit>
bool CheckLineText(RegLine<Unit>* line, LineStatus status) {
    if (status == LineStatus::OddByte) {
        return Fail(line, "the UTF-16 text has an odd number of bytes");
    }
    if (line->physical.contentEnd >= kNoOffset) {
        return Fail(line, "the file is too large (4 GiB or more)");
    }
    const bool noNul = TakeLineText(line);
    if (EndsInsidePair(*line)) {
        return Fail(line, "the UTF-16 text ends inside a surrogate pair");
    }
    if (line->physical.number > 1 && !noNul) {
        return Fail(line, "NUL character in the line");
    }
    return true;
}

// The first line: which version the file is, and its line ending.
template <typename Unit>
bool TakeHeader(RegLine<Unit>* line, RegFileLayout* layout) {
    if (!ReadHeader(line->text, &layout->version)) {
        return Fail(line, std::string(kHeaderMissing) +
                              (HeaderWithoutImport(line->text)
                                   ? "; Windows would import nothing from this file"
                                   : ""));
    }
    const LineEnding ending = line->physical.ending;
    layout->lineEnding = ending == LineEnding::None ? LineEnding::CrLf : ending;
    return true;
}

// Reads the lines of the file that reader has started, in units of its encoding.
template <typename Unit>
bool ReadLines(LineReader* reader, const std::vector<std::u16string>& areas, KeyTree* tree,
               RegFileLayout* layout, RegFileError* error) {
    RegParser<Unit> parser;
    parser.line.physical.number = 1;
    parser.line.error = error;
    parser.section = RegSection{tree, false, kNoIndex};
    parser.paths.areas = SplitAreas(areas);
    parser.paths.previousRoot = kRootKeyCount;
    parser.paths.outside = &layout->keysOutsideAreas;
    parser.paths.outside->clear();
    parser.values.narrowHexText = false;
    parser.values.continued.active = false;
    RegLine<Unit>* line = &parser.line;
    LineStatus status = NextPhysicalLine(reader, &line->physical);
    if (status == LineStatus::End) {
        return Fail(line, kHeaderMissing);
    }
    for (; status != LineStatus::End; status = NextPhysicalLine(reader, &line->physical)) {
        if (status == LineStatus::ReadError) {
            error->line = 0;
            error->what = std::string("cannot read the file: ") + std::strerror(reader->readError);
            return false;
        }
        if (!CheckLineText(line, status)) {
            return false;
        }
        if (line->physical.number == 1) {
            if (!TakeHeader(line, layout)) {
                return false;
            }
            parser.values.narrowHexText = layout->version == RegFileVersion::Regedit4;
        } else if (!ParseLine(&parser)) {
            return false;
        }
    }
    // A file that ends behind a continuation backslash.
    if (parser.values.continued.active) {
        StoreValueCutByTheEnd(*line, parser.section, &parser.values);
    }
    return true;
}

} // namespace

bool ReadRegFile(int fd, const std::vector<std::u16string>& areas, KeyTree* tree,
                 RegFileLayout* layout, RegFileError* error) {
    InitKeyTree(tree);
    AddRootKey(tree, 0);
    error->line = 0;
    LineReader reader;
    if (lseek(fd, 0, SEEK_SET) != 0 || !StartLineReader(fd, &reader)) {
        error->what = std::string("cannot read the file: ") + std::strerror(errno);
        return false;
    }
    layout->encoding = reader.encoding;
    const bool read = reader.encoding == RegFileEncoding::Utf16Le
                          ? ReadLines<char16_t>(&reader, areas, tree, layout, error)
                          : ReadLines<char>(&reader, areas, tree, layout, error);
    if (read) {
        FinishKeyTree(tree);
    }
    return read;
}
